// Fuzz target: the decoding without windows, user actions (event 1), settings frames (event 2).
#include "audio.h"
#include "box.h"
#include "fuzz_support.h"
#include "parcer.h"
#include "video.h"

#include <QCheckBox>
#include <QLabel>

#include <array>
#include <tuple>

namespace {

using fuzz::require;

struct Video_widgets // built once, for speed
{
    QLabel type, resolution, frame, mapping;
    QCheckBox format_enable;
} * widgets;

constexpr void (Audio::*audio_choices[])(int) = {
    &Audio::input_sel_changed,  &Audio::output_12_change,    &Audio::output_34_change,    &Audio::output_56_change,
    &Audio::output_78_change,   &Audio::out_group_1_changed, &Audio::out_group_2_changed, &Audio::output_12_2_change,
    &Audio::output_34_2_change, &Audio::output_56_2_change,  &Audio::output_78_2_change};
constexpr void (Audio::*audio_mutes[])(bool) = {&Audio::mute_12_change, &Audio::mute_34_change, &Audio::mute_56_change,
                                                &Audio::mute_78_change};

// User actions, by a control byte modulo action_count: Audio's choices and mutes, then these.
constexpr std::size_t audio_actions = std::size(audio_choices) + std::size(audio_mutes);

enum : std::size_t { format_click = audio_actions, format_choice, crc_reset_click, link_up, action_count };

// The settings in wire order, those before `first` as 0.
std::array<uint8_t, settings_count> settings_bytes(const Settings_values& values, std::size_t first = 0)
{
    std::array<uint8_t, settings_count> out{};
    for (std::size_t i = first; i < settings_count; ++i)
        out[i] = values.*settings_wire_order[i];
    return out;
}

// The frame assembler, the decoder and Video: the tool's, or a reference.
struct Receiver
{
    Receiver()
    {
        QObject::connect(&parcer, &Parcer::ack_recieved, [this] { frames += 'a'; });
        QObject::connect(&parcer, &Parcer::device_id_changed_to_430, [this] { frames += '0'; });
        QObject::connect(&parcer, &Parcer::device_id_changed_to_431, [this] { frames += '1'; });
    }

    // A frame whose CRC fails is decoded for display but never acted on.
    void receive(const QByteArray& chunk)
    {
        received += chunk;
        fuzz::assemble(assembler, chunk, [this](bool crc_ok) {
            const auto acted_on = [&p = parcer, this] {
                return std::tuple(frames.size(), p.previous_device_id, p.trusted_device_id, video.crc_errors_reset);
            };
            const auto before = acted_on();
            parcer.crc_ok = crc_ok;
            parcer.parcing_data(assembler.payload());
            require(crc_ok || acted_on() == before,
                    "a frame with a bad CRC was acknowledged, switched the model or changed the CRC reset request");
            fuzz::record(frames, crc_ok, assembler);
        });
    }

    // Everything decoded from the frames, not what only user actions change.
    auto decoded() const
    {
        const Parcer& p = parcer;
        const Video& v = video;
        return std::tuple(p.protocol_version, p.device_variant, p.status_flags, p.audio_groups, p.status_word,
                          p.device_id, p.previous_device_id, p.trusted_device_id, p.crc_ok, settings_bytes({p, p, 0}),
                          v.input_detected, v.sdi_rate, v.pid[0], v.pid[1], v.pid[2], v.pid[3], v.pid_detected,
                          v.crc_err, v.crc_err_count, v.hdmi_format, v.hdmi_frame, v.hdmi_scan, v.hdmi_mapping,
                          v.hdmi_depth, v.hdmi_audio_freq, v.hdmi_rate);
    }

    Video video{&widgets->type, &widgets->resolution, &widgets->frame, &widgets->mapping, &widgets->format_enable};
    Parcer parcer{&video};
    frame::Assembler assembler;
    QByteArray received, frames; // frames: per frame the signals its decoding emitted ('a', '0', '1'), its record
};

// A second decoder, given all the bytes in one chunk and no user action, finds the same frames.
struct Session
{
    explicit Session(fuzz::Reader input)
    {
        widgets->format_enable.setChecked(false);
        QObject::connect(&audio, &Audio::audio_settings_changed, [this] { send(); });
        QObject::connect(&tool.video, &Video::video_settings_changed, [this] { send(); });
        input.run(
            [this](const QByteArray& chunk) { tool.receive(chunk); },
            [&](uint8_t flags, int chunk_size) {
                split = chunk_size;
                if (flags & fuzz::event_1)
                    act(input);
                if (flags & fuzz::event_2) { // a device identifier, then the settings in wire order
                    const QByteArray bytes = input.wire(2 + settings_count).leftJustified(2 + settings_count, '\0');
                    Settings_values values;
                    for (std::size_t i = 0; i < settings_count; ++i)
                        values.*settings_wire_order[i] = static_cast<uint8_t>(bytes.at(2 + i));
                    round_trip(static_cast<uint8_t>(bytes.at(0)) << 8 | static_cast<uint8_t>(bytes.at(1)), values);
                }
            });
        reference.receive(tool.received);
        require(tool.frames == reference.frames, "other frames or signals when the same bytes come in one chunk");
        require(tool.decoded() == reference.decoded(), "another decoded state when the same bytes come in one chunk");
    }

    void act(fuzz::Reader& input)
    {
        const std::size_t action = input.control() % action_count; // then its value
        const int value = static_cast<uint8_t>(input.wire(1).append('\0').at(0));
        const Parcer& parcer = tool.parcer;
        if (action < std::size(audio_choices)) {
            (audio.*audio_choices[action])(value);
        } else if (action < format_click) {
            (audio.*audio_mutes[action - std::size(audio_choices)])(value & 1);
        } else if (action == format_click) {
            widgets->format_enable.setChecked(value & 1);
            tool.video.manual_fmt_enable_changed(value & 1);
        } else if (action == format_choice) {
            tool.video.manual_format_changed(value);
        } else if (action == crc_reset_click) {
            tool.video.crc_errors_reset_clicked(true);
        } else if (action == link_up && parcer.crc_ok && parcer.device_id == frame::device_id_430) {
            static_cast<Audio_settings&>(audio) = parcer; // the link is up: the box's settings, nothing sent
            static_cast<Format_settings&>(tool.video) = parcer;
        } else if (action == link_up && parcer.crc_ok && parcer.device_id == frame::device_id_431) {
            static_cast<Group_routing&>(audio) = parcer;
        }
    }

    // What the tool sends for a changed setting, link up or not, laid out for the last trusted model.
    void send() { round_trip(tool.parcer.trusted_device_id, {audio, tool.video, tool.video.crc_errors_reset}); }

    // The parser and the model's box read back what the builder wrote; no box takes an unknown device.
    void round_trip(uint16_t device_id, const Settings_values& values)
    {
        const bool is_430 = device_id == frame::device_id_430;
        const bool known = is_430 || device_id == frame::device_id_431;
        const std::size_t first = is_430 ? 0 : group_routing_first;
        const auto carried = settings_bytes(values, first);
        const QByteArray sent = frame::build_settings_frame(device_id, values);
        const frame::Settings_frame parsed = frame::parse_settings_frame(sent);
        require(parsed.check == frame::Settings_frame::Check::ok && parsed.device_id == (known ? device_id : 0)
                    && parsed.protocol_version == frame::host_protocol_version
                    && settings_bytes(parsed.values) == carried,
                "the parser refused a settings frame or read other values than the builder wrote");
        // The box describes each frame for a person, which is slow: it gets an input's first.
        if (std::exchange(box_read_one, true))
            return;
        boxsim::Box box;
        box.set_model(&models::of(known ? device_id : frame::device_id_430));
        std::vector<boxsim::Rx_event> events;
        const auto add = [&events](auto more) { events.insert(events.end(), more.begin(), more.end()); };
        fuzz::for_each_chunk(sent, split, [&](const QByteArray& chunk) { add(box.receive(chunk)); });
        add(box.pause());
        require(events.size() == 1, "the box did not read one settings frame as one");
        const bool applied = events.front().kind == boxsim::Rx_event::Kind::applied;
        require(applied == known, "the box refused a frame for its model or took one for an unknown device");
        require(!applied || settings_bytes(events.front().values, first) == carried,
                "the box read other settings than the builder wrote");
    }

    Receiver tool, reference;
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
    Session{fuzz::Reader{data, data + size}};
    return 0;
}
