#pragma once

#include "settings_bytes.h"

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// The layout of one fuzz input, shared by both targets, the corpus generator and the replay.
//
// An input is a list of steps. Wire bytes are read from its front and control bytes from
// its back, the layout of libFuzzer's FuzzedDataProvider: a mutation among the wire bytes
// leaves the chunking alone, and the reverse. Each step reads two control bytes, `flags`
// then `size`:
//   raw step:    the next size + 1 wire bytes reach the receive path as one chunk;
//   framed step: the next `size` wire bytes are a payload, sent as a box-to-host frame
//                with a correct CRC, in chunks of (flags >> split_shift) bytes (0: one chunk).
// Fuzzers seldom guess a CRC; framed steps let arbitrary payloads past the check.
// Two flag bits name events that follow the step; each target gives them its own meaning.
namespace fuzz_input {

constexpr uint8_t step_framed = 0x01;
constexpr uint8_t step_event_1 = 0x02;
constexpr uint8_t step_event_2 = 0x04;
constexpr int split_shift = 3;
constexpr int max_split = 0xFF >> split_shift;
constexpr std::size_t max_raw_chunk = 256;

// The window target: one link-timer tick; the acknowledgement timer expires.
constexpr uint8_t step_watchdog = step_event_1;
constexpr uint8_t step_ack_timeout = step_event_2;

// The decoder target. A user action: one more control byte picks it, one more wire byte
// is its value. A settings frame: the next 2 + settings_count wire bytes are a device
// identifier and the settings in wire order, sent to the simulated box in chunks of
// (flags >> split_shift) bytes, as are the settings frames that user actions cause.
constexpr uint8_t step_user_action = step_event_1;
constexpr uint8_t step_settings_frame = step_event_2;
constexpr std::size_t settings_frame_bytes = 2 + settings_count;

// The decoder target's user actions, by the control byte modulo action_count: Audio's
// eleven choices and four mutes in declaration order, Video's three controls, and the
// link coming up, on which the models take the box's settings.
enum User_action : uint8_t {
    first_audio_choice = 0, // input_sel_changed ... output_78_2_change
    first_mute = 11,        // mute_12_change ... mute_78_change
    format_enable_click = 15,
    format_choice,
    crc_reset_click,
    link_up,
    action_count
};

// Reads an input; past its end every read yields nothing, so any byte string is valid.
class Reader
{
public:
    Reader(const uint8_t* data, std::size_t size)
        : front(data)
        , back(data + size)
    {}

    bool done() const { return front == back; }

    uint8_t control()
    {
        if (done())
            return 0;
        return *--back;
    }

    QByteArray wire(std::size_t count)
    {
        const std::size_t n = std::min(count, static_cast<std::size_t>(back - front));
        const QByteArray bytes(reinterpret_cast<const char*>(front), static_cast<int>(n));
        front += n;
        return bytes;
    }

private:
    const uint8_t* front;
    const uint8_t* back;
};

// Writes inputs that a Reader reads back as the steps given.
class Builder
{
public:
    // `events` (step_event_1 and/or step_event_2) follow the last chunk.
    void raw(const QByteArray& bytes, uint8_t events = 0)
    {
        for (int at = 0; at < bytes.size(); at += static_cast<int>(max_raw_chunk)) {
            const QByteArray chunk = bytes.mid(at, static_cast<int>(max_raw_chunk));
            const bool last = at + chunk.size() >= bytes.size();
            step(last ? events : 0, static_cast<uint8_t>(chunk.size() - 1), chunk);
        }
    }

    // Each byte in a chunk of its own.
    void raw_bytewise(const QByteArray& bytes, uint8_t events = 0)
    {
        for (int i = 0; i < bytes.size(); ++i)
            step(i + 1 == bytes.size() ? events : 0, 0, bytes.mid(i, 1));
    }

    // `payload` up to 255 bytes, `split` up to max_split.
    void framed(const QByteArray& payload, int split = 0, uint8_t events = 0)
    {
        step(static_cast<uint8_t>(step_framed | events | split << split_shift), static_cast<uint8_t>(payload.size()),
             payload);
    }

    // Events after the last step, for the window target.
    void events(uint8_t events) { controls[last_flags] |= events; }

    // The events of the decoder target, after the last step; a user action before a
    // settings frame, as the target reads them. `split` replaces the step's own.
    void user_action(uint8_t action, uint8_t value)
    {
        events(step_user_action);
        controls.push_back(action);
        wire.append(static_cast<char>(value));
    }

    void settings_frame(uint16_t device_id, const Settings_values& values, int split = 0)
    {
        controls[last_flags] = static_cast<uint8_t>((controls[last_flags] & ~(max_split << split_shift))
                                                    | step_settings_frame | split << split_shift);
        wire.append(static_cast<char>(device_id >> 8));
        wire.append(static_cast<char>(device_id & 0xFF));
        for (Settings_field field : settings_wire_order)
            wire.append(static_cast<char>(values.*field));
    }

    QByteArray bytes() const
    {
        QByteArray out = wire;
        for (auto it = controls.rbegin(); it != controls.rend(); ++it)
            out.append(static_cast<char>(*it));
        return out;
    }

private:
    void step(uint8_t flags, uint8_t size, const QByteArray& bytes)
    {
        last_flags = controls.size();
        controls.push_back(flags);
        controls.push_back(size);
        wire.append(bytes);
    }

    QByteArray wire;
    std::vector<uint8_t> controls;
    std::size_t last_flags = 0;
};

} // namespace fuzz_input
