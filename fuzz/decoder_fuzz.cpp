// Fuzz target: bytes through the tool's decoding without its windows, with user actions
// (event 1) and settings frames (event 2) between steps, each settings frame through the
// builder, the parser and the simulated box; many times faster than the window target.
#include "audio.h"
#include "box.h"
#include "frame_codec.h"
#include "fuzz_support.h"
#include "parcer.h"
#include "video.h"

#include <QCheckBox>
#include <QLabel>

#include <array>
#include <string>
#include <tuple>

namespace {

using fuzz::require;

// Built once: no check depends on what an earlier input left in them.
struct Video_widgets
{
    QLabel type, resolution, frame, mapping;
    QCheckBox format_enable;
};

Video_widgets* widgets;

constexpr void (Audio::*audio_choices[])(int) = {
    &Audio::input_sel_changed,  &Audio::output_12_change,    &Audio::output_34_change,    &Audio::output_56_change,
    &Audio::output_78_change,   &Audio::out_group_1_changed, &Audio::out_group_2_changed, &Audio::output_12_2_change,
    &Audio::output_34_2_change, &Audio::output_56_2_change,  &Audio::output_78_2_change};
constexpr void (Audio::*audio_mutes[])(bool) = {&Audio::mute_12_change, &Audio::mute_34_change, &Audio::mute_56_change,
                                                &Audio::mute_78_change};

// User actions, by the control byte modulo action_count: Audio's choices and mutes, then these.
constexpr std::size_t format_click = std::size(audio_choices) + std::size(audio_mutes);

enum Action : std::size_t { format_choice = format_click + 1, crc_reset_click, link_up, action_count };

// The settings in wire order, those before `first` as 0.
std::array<uint8_t, settings_count> settings_bytes(const Settings_values& values, std::size_t first = 0)
{
    std::array<uint8_t, settings_count> out{};
    for (std::size_t i = first; i < settings_count; ++i)
        out[i] = values.*settings_wire_order[i];
    return out;
}

// The frame assembler, the decoder and Video: the tool's, or a reference.
class Receiver
{
public:
    Receiver()
        : video(&widgets->type, &widgets->resolution, &widgets->frame, &widgets->mapping, &widgets->format_enable)
        , parcer(&video)
    {
        QObject::connect(&parcer, &Parcer::ack_recieved, [this] { signals_seen += 'a'; });
        QObject::connect(&parcer, &Parcer::device_id_changed_to_430, [this] { signals_seen += '0'; });
        QObject::connect(&parcer, &Parcer::device_id_changed_to_431, [this] { signals_seen += '1'; });
    }

    void receive(const QByteArray& chunk)
    {
        received.append(chunk);
        for (char byte : chunk) {
            const frame::Assembler::Result result = assembler.push(static_cast<uint8_t>(byte));
            if (result != frame::Assembler::Result::pending)
                hand_over(result == frame::Assembler::Result::frame_ok);
        }
    }

    // Everything decoded from the frames, not what only user actions or status updates change.
    auto decoded() const
    {
        const Parcer& p = parcer;
        const Video& v = video;
        return std::make_tuple(p.protocol_version, p.device_variant, p.status_flags, p.audio_groups, p.status_word,
                               p.device_id, p.previous_device_id, p.crc_ok, settings_bytes({p, p, 0}), v.input_detected,
                               v.sdi_rate, v.pid[0], v.pid[1], v.pid[2], v.pid[3], v.pid_detected, v.crc_err,
                               v.crc_err_count, v.hdmi_format, v.hdmi_frame, v.hdmi_scan, v.hdmi_mapping, v.hdmi_depth,
                               v.hdmi_audio_freq, v.hdmi_rate);
    }

    Video video;
    Parcer parcer;
    QByteArray received;
    QByteArray frames; // per frame: its record, then the signals its decoding emitted

    // Video's part of both windows' status updates.
    void show()
    {
        if (parcer.device_id == frame::device_id_430) {
            if (video.input_detected == 0) {
                widgets->format_enable.setEnabled(true);
            } else {
                video.update_video_status();
                video.check_manual_fmt_allowed();
            }
            widgets->format_enable.setChecked(parcer.manual_fmt_enable != 0);
        } else if (parcer.device_id == frame::device_id_431 && video.input_detected != 0) {
            video.update_hdmi_resolution();
        }
    }

private:
    // As the receive path does: the CRC verdict is set just before the hand-over.
    void hand_over(bool crc_ok)
    {
        const uint16_t previous_device = parcer.previous_device_id;
        const uint8_t reset_request = video.crc_errors_reset;
        signals_seen.clear();
        parcer.crc_ok = crc_ok;
        parcer.parcing_data(assembler.payload());
        if (!crc_ok) {
            require(signals_seen.empty(), "a frame with a bad CRC was acknowledged or switched the model");
            require(parcer.previous_device_id == previous_device, "a frame with a bad CRC replaced the device");
            require(video.crc_errors_reset == reset_request, "a frame with a bad CRC cleared the CRC reset request");
        }
        fuzz::append_frame_record(frames, crc_ok, assembler.payload(), assembler.payload_length());
        frames.append(signals_seen.c_str(), static_cast<int>(signals_seen.size()) + 1); // with its 0 terminator
    }

    frame::Assembler assembler;
    std::string signals_seen; // short enough never to allocate
};

class Session
{
public:
    Session()
    {
        widgets->format_enable.setChecked(false);
        widgets->format_enable.setEnabled(true);
        QObject::connect(&tool.parcer, &Parcer::update_data_ready, [this] { tool.show(); });
        // As the tool's wiring does, whether or not the link is up.
        QObject::connect(&audio, &Audio::audio_settings_changed, [this] { send(); });
        QObject::connect(&tool.video, &Video::video_settings_changed, [this] { send(); });
    }

    // A second decoder, given all the bytes in one chunk and no user action or status
    // update, finds the same frames, signals and decoded values.
    void run(fuzz::Reader& input)
    {
        while (!input.done()) {
            const uint8_t flags = input.control();
            const uint8_t size = input.control();
            split = flags >> fuzz::split_shift;
            if (flags & fuzz::step_framed)
                fuzz::for_each_chunk(frame::build_status_frame(input.wire(size)), split,
                                     [this](const QByteArray& chunk) { tool.receive(chunk); });
            else
                tool.receive(input.wire(size + 1u));
            if (flags & fuzz::step_event_1) {
                const uint8_t action = input.control();
                act(action % action_count, static_cast<uint8_t>(input.wire(1).leftJustified(1, '\0').at(0)));
            }
            if (flags & fuzz::step_event_2) {
                const QByteArray bytes = input.wire(2 + settings_count).leftJustified(2 + settings_count, '\0');
                Settings_values values;
                for (std::size_t i = 0; i < settings_count; ++i)
                    values.*settings_wire_order[i] = static_cast<uint8_t>(bytes.at(2 + i));
                round_trip(static_cast<uint8_t>(bytes.at(0)) << 8 | static_cast<uint8_t>(bytes.at(1)), values);
            }
        }
        reference.receive(tool.received);
        require(tool.frames == reference.frames, "other frames or signals when the same bytes come in one chunk");
        require(tool.decoded() == reference.decoded(), "another decoded state when the same bytes come in one chunk");
    }

private:
    void act(std::size_t action, int value)
    {
        const Parcer& parcer = tool.parcer;
        if (action < std::size(audio_choices)) {
            (audio.*audio_choices[action])(value);
        } else if (action < format_click) {
            (audio.*audio_mutes[action - std::size(audio_choices)])(value & 1);
        } else if (action == format_click && widgets->format_enable.isEnabled()) { // a switched-off box takes no click
            widgets->format_enable.setChecked(value & 1);
            tool.video.manual_fmt_enable_changed(value & 1);
        } else if (action == format_choice) {
            tool.video.manual_format_changed(value);
        } else if (action == crc_reset_click) {
            tool.video.crc_errors_reset_clicked(true);
        } else if (action == link_up && parcer.crc_ok && parcer.device_id == frame::device_id_430) {
            // The link comes up: the models take the box's settings, sending nothing.
            static_cast<Audio_settings&>(audio) = parcer;
            static_cast<Format_settings&>(tool.video) = parcer;
        } else if (action == link_up && parcer.crc_ok && parcer.device_id == frame::device_id_431) {
            static_cast<Group_routing&>(audio) = parcer;
        }
    }

    // What the tool sends for a changed setting: the models' values for the answering model.
    void send() { round_trip(tool.parcer.device_id, {audio, tool.video, tool.video.crc_errors_reset}); }

    // The parser and the box of the model read back the settings the builder wrote, for the
    // bytes its layout carries; a box refuses a frame for an unknown device.
    void round_trip(uint16_t device_id, const Settings_values& values)
    {
        const bool is_430 = device_id == frame::device_id_430;
        const bool known = is_430 || device_id == frame::device_id_431;
        const std::size_t first = is_430 ? 0 : group_routing_first;
        const auto carried = settings_bytes(values, first);
        const QByteArray sent = frame::build_settings_frame(device_id, values);
        const frame::Settings_frame parsed = frame::parse_settings_frame(sent);
        require(parsed.check == frame::Settings_frame::Check::ok, "the parser refused a settings frame");
        require(parsed.protocol_version == frame::host_protocol_version, "the parser read another protocol version");
        require(parsed.device_id == (known ? device_id : 0), "the parser read another device");
        require(settings_bytes(parsed.values) == carried, "the parser read other settings than the builder wrote");

        // The box describes each frame for a person, which is slow: it gets an input's first.
        if (std::exchange(box_read_one, true))
            return;
        boxsim::Box box;
        box.set_model(known && !is_430 ? boxsim::Model::m431 : boxsim::Model::m430);
        std::vector<boxsim::Rx_event> events;
        const auto add = [&events](const std::vector<boxsim::Rx_event>& more) {
            events.insert(events.end(), more.begin(), more.end());
        };
        fuzz::for_each_chunk(sent, split, [&](const QByteArray& chunk) { add(box.receive(chunk)); });
        add(box.pause());
        require(events.size() == 1, "the box did not read one settings frame as one");
        const bool applied = events.front().kind == boxsim::Rx_event::Kind::applied;
        require(applied == known, "the box refused a frame for its model or took one for an unknown device");
        require(!applied || settings_bytes(events.front().values, first) == carried,
                "the box read other settings than the builder wrote");
    }

    Receiver tool;
    Receiver reference;
    Audio audio;
    bool box_read_one = false;
    int split = 0; // the last step's chunk size
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::start_application("decoder_fuzz");
    widgets = new Video_widgets;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzz::Reader input{data, data + size};
    Session().run(input);
    return 0;
}
