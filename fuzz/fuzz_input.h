#pragma once

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
