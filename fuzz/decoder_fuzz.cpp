// Arbitrary bytes, in arbitrary chunks, through the tool's decoding without its windows:
// the frame assembler, Parcer and Video with the calls the windows make on each update,
// and, between chunks, user actions on Audio and Video. Every settings frame that the
// input or a user action causes goes through the settings-frame builder, then the
// simulated box's receiver and the settings-frame parser. Input layout: fuzz_input.h.
//
// It checks on every input that
// - a second decoder that gets the same bytes in one chunk, with no user action or
//   status update between, finds the same frames, signals and decoded values;
// - a frame whose CRC fails is decoded and shown but never acted on: no acknowledgement,
//   no switch of model, no change of the previous device, no cleared CRC reset request;
// - the box of the matching model and the parser read back the values the builder
//   wrote, for the bytes its layout carries; a box refuses a frame for an unknown device.
//
// Everything is built anew for each input, so the same bytes always take the same path,
// but for the widgets Video draws on and the simulated boxes: no check depends on what
// an earlier input left in them.
#include "fuzz_input.h"
#include "fuzz_support.h"
#include "fuzz_target.h"

#include "audio.h"
#include "box.h"
#include "frame_codec.h"
#include "parcer.h"
#include "video.h"

#include <QCheckBox>
#include <QLabel>

#include <array>
#include <string>

namespace {

using fuzz_support::require;

// Indices into fuzz_target::totals.
enum Total {
    inputs,
    frames_good_crc,
    frames_bad_crc,
    model_switches,
    user_actions,
    settings_430,
    settings_431,
    settings_other
};

// Never shown.
struct Video_widgets
{
    QLabel type;
    QLabel resolution;
    QLabel frame;
    QLabel mapping;
    QCheckBox format_enable;
};

Video_widgets* widgets;

constexpr void (Audio::*audio_choices[])(int) = {
    &Audio::input_sel_changed,  &Audio::output_12_change,    &Audio::output_34_change,    &Audio::output_56_change,
    &Audio::output_78_change,   &Audio::out_group_1_changed, &Audio::out_group_2_changed, &Audio::output_12_2_change,
    &Audio::output_34_2_change, &Audio::output_56_2_change,  &Audio::output_78_2_change,
};
constexpr void (Audio::*audio_mutes[])(bool) = {
    &Audio::mute_12_change,
    &Audio::mute_34_change,
    &Audio::mute_56_change,
    &Audio::mute_78_change,
};
static_assert(std::size(audio_choices) == fuzz_input::first_mute, "user actions out of step with Audio");
static_assert(fuzz_input::first_mute + std::size(audio_mutes) == fuzz_input::format_enable_click,
              "user actions out of step with Audio");

using Settings_bytes = std::array<uint8_t, settings_count>;

// The settings in wire order, those before `first` as 0.
Settings_bytes settings_bytes(const Settings_values& values, std::size_t first = 0)
{
    Settings_bytes out{};
    for (std::size_t i = first; i < settings_count; ++i)
        out[i] = values.*settings_wire_order[i];
    return out;
}

// The frame assembler, the decoder and Video: the tool's, with the windows' status
// updates, or a reference without them.
class Receiver
{
public:
    enum class Role { tool, reference };

    Receiver(Video_widgets& widgets, Role role)
        : widgets(widgets)
        , video(&widgets.type, &widgets.resolution, &widgets.frame, &widgets.mapping, &widgets.format_enable)
        , parcer(&video)
        , role(role)
    {
        widgets.format_enable.setChecked(false);
        widgets.format_enable.setEnabled(true);
        QObject::connect(&parcer, &Parcer::ack_recieved, [this] { signals_seen += 'a'; });
        if (role == Role::tool)
            QObject::connect(&parcer, &Parcer::update_data_ready, [this] { show(); });
        QObject::connect(&parcer, &Parcer::device_id_changed_to_430, [this] { signals_seen += '0'; });
        QObject::connect(&parcer, &Parcer::device_id_changed_to_431, [this] { signals_seen += '1'; });
    }

    void receive(const QByteArray& chunk)
    {
        for (char byte : chunk) {
            const frame::Assembler::Result result = assembler.push(static_cast<uint8_t>(byte));
            if (result != frame::Assembler::Result::pending)
                hand_over(result == frame::Assembler::Result::frame_ok);
        }
    }

    // Everything decoded from the frames; what only user actions or status updates
    // change is left out.
    QByteArray decoded_state() const
    {
        QByteArray out;
        const auto put = [&out](auto value) { out.append(reinterpret_cast<const char*>(&value), sizeof value); };
        const Parcer& p = parcer;
        for (uint8_t value : {p.protocol_version, p.device_variant, p.status_flags, p.audio_groups})
            put(value);
        for (uint16_t value : {p.status_word, p.device_id, p.previous_device_id})
            put(value);
        put(p.crc_ok);
        Settings_values box_settings;
        static_cast<Audio_settings&>(box_settings) = p;
        static_cast<Format_settings&>(box_settings) = p;
        const Settings_bytes box_bytes = settings_bytes(box_settings);
        out.append(reinterpret_cast<const char*>(box_bytes.data()), static_cast<int>(box_bytes.size()));
        const Video& v = video;
        for (uint8_t value :
             {v.input_detected, v.sdi_rate, v.pid[0], v.pid[1], v.pid[2], v.pid[3], v.pid_detected, v.crc_err,
              v.hdmi_format, v.hdmi_frame, v.hdmi_scan, v.hdmi_mapping, v.hdmi_depth, v.hdmi_audio_freq, v.hdmi_rate})
            put(value);
        put(v.crc_err_count);
        return out;
    }

    Video_widgets& widgets;
    Video video;
    Parcer parcer;
    // Per frame: its record, then how many signals its decoding emitted and which.
    QByteArray frames;

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
            require(parcer.previous_device_id == previous_device,
                    "a frame with a bad CRC replaced the previous device");
            require(video.crc_errors_reset == reset_request, "a frame with a bad CRC cleared the CRC reset request");
        }
        if (role == Role::tool) {
            fuzz_target::count(crc_ok ? frames_good_crc : frames_bad_crc);
            if (signals_seen.find_first_of("01") != std::string::npos)
                fuzz_target::count(model_switches);
        }
        fuzz_support::append_frame_record(frames, crc_ok, assembler.payload(), assembler.payload_length());
        frames.append(static_cast<char>(signals_seen.size()));
        frames.append(signals_seen.data(), static_cast<int>(signals_seen.size()));
    }

    // Video's part of both windows' status updates.
    void show()
    {
        if (parcer.device_id == frame::device_id_430) {
            if (video.input_detected == 0) {
                widgets.format_enable.setEnabled(true);
            } else {
                video.update_video_status();
                video.check_manual_fmt_allowed();
            }
            widgets.format_enable.setChecked(parcer.manual_fmt_enable != 0);
        } else if (parcer.device_id == frame::device_id_431 && video.input_detected != 0) {
            video.update_hdmi_resolution();
        }
    }

    const Role role;
    frame::Assembler assembler;
    std::string signals_seen; // short enough never to allocate
};

// Model 430, model 431.
std::array<boxsim::Box*, 2> boxes;

class Session
{
public:
    Session()
        : tool(*widgets, Receiver::Role::tool)
        , reference(*widgets, Receiver::Role::reference)
    {
        // As the tool's wiring does, whether or not the link is up.
        QObject::connect(&audio, &Audio::audio_settings_changed, [this] { send(); });
        QObject::connect(&tool.video, &Video::video_settings_changed, [this] { send(); });
    }

    void run(fuzz_input::Reader& input)
    {
        while (!input.done()) {
            const uint8_t flags = input.control();
            const uint8_t size = input.control();
            split = flags >> fuzz_input::split_shift;
            if (flags & fuzz_input::step_framed) {
                fuzz_support::for_each_chunk(frame::build_status_frame(input.wire(size)), split,
                                             [this](const QByteArray& chunk) { deliver(chunk); });
            } else {
                deliver(input.wire(size + 1u));
            }
            if (flags & fuzz_input::step_user_action) {
                const uint8_t action = input.control();
                act(action, input.wire(1));
            }
            if (flags & fuzz_input::step_settings_frame)
                settings_frame(input.wire(fuzz_input::settings_frame_bytes));
        }
        reference.receive(stream);
        require(tool.frames == reference.frames, "other frames or signals when the same bytes come in one chunk");
        require(tool.decoded_state() == reference.decoded_state(),
                "another decoded state when the same bytes come in one chunk");
    }

private:
    void deliver(const QByteArray& chunk)
    {
        tool.receive(chunk);
        stream.append(chunk);
    }

    void act(uint8_t control, const QByteArray& value_byte)
    {
        fuzz_target::count(user_actions);
        const int value = value_byte.isEmpty() ? 0 : static_cast<uint8_t>(value_byte.at(0));
        const unsigned action = control % fuzz_input::action_count;
        Video& video = tool.video;
        QCheckBox& format_enable = tool.widgets.format_enable;
        if (action < fuzz_input::first_mute) {
            (audio.*audio_choices[action])(value);
        } else if (action < fuzz_input::format_enable_click) {
            (audio.*audio_mutes[action - fuzz_input::first_mute])(value & 1);
        } else if (action == fuzz_input::format_enable_click) {
            // A switched-off check box takes no click.
            if (format_enable.isEnabled()) {
                format_enable.setChecked(value & 1);
                video.manual_fmt_enable_changed(value & 1);
            }
        } else if (action == fuzz_input::format_choice) {
            video.manual_format_changed(value);
        } else if (action == fuzz_input::crc_reset_click) {
            video.crc_errors_reset_clicked(true);
        } else {
            link_up();
        }
    }

    // The link comes up on a good frame: the models take the box's settings, sending nothing.
    void link_up()
    {
        const Parcer& parcer = tool.parcer;
        if (!parcer.crc_ok)
            return;
        if (parcer.device_id == frame::device_id_430) {
            static_cast<Audio_settings&>(audio) = parcer;
            static_cast<Format_settings&>(tool.video) = parcer;
        } else if (parcer.device_id == frame::device_id_431) {
            static_cast<Group_routing&>(audio) = parcer;
        }
    }

    // What the tool sends for a changed setting: the models' values for the answering model.
    void send()
    {
        Settings_values values;
        static_cast<Audio_settings&>(values) = audio;
        static_cast<Format_settings&>(values) = tool.video;
        values.crc_errors_reset = tool.video.crc_errors_reset;
        round_trip(tool.parcer.device_id, values);
    }

    // A device identifier, then the settings in wire order; missing bytes are 0.
    void settings_frame(QByteArray bytes)
    {
        bytes.append(QByteArray(static_cast<int>(fuzz_input::settings_frame_bytes) - bytes.size(), '\0'));
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
        Settings_values values;
        for (std::size_t i = 0; i < settings_count; ++i)
            values.*settings_wire_order[i] = data[2 + i];
        round_trip(static_cast<uint16_t>(data[0] << 8 | data[1]), values);
    }

    void round_trip(uint16_t device_id, const Settings_values& values)
    {
        const bool is_430 = device_id == frame::device_id_430;
        const bool is_431 = device_id == frame::device_id_431;
        fuzz_target::count(is_430 ? settings_430 : is_431 ? settings_431 : settings_other);
        const std::size_t first = is_430 ? 0 : group_routing_first;
        const QByteArray sent = frame::build_settings_frame(device_id, values);

        const frame::Settings_frame parsed = frame::parse_settings_frame(sent);
        require(parsed.check == frame::Settings_frame::Check::ok, "the parser refused a settings frame");
        require(parsed.protocol_version == frame::host_protocol_version, "the parser read another protocol version");
        require(parsed.device_id == (is_430 || is_431 ? device_id : 0), "the parser read another device");
        require(settings_bytes(parsed.values) == settings_bytes(values, first),
                "the parser read other settings than the builder wrote");

        // The box describes every frame for a person, which is slow: the first frame of an
        // input goes to it. One for an unknown device goes to a 430.
        if (box_read_one)
            return;
        box_read_one = true;
        check_box_reads(is_431 ? boxsim::Model::m431 : boxsim::Model::m430, sent, is_430 || is_431,
                        settings_bytes(values, first), first);
    }

    void check_box_reads(boxsim::Model model, const QByteArray& sent, bool to_take, const Settings_bytes& carried,
                         std::size_t first)
    {
        boxsim::Box* box = boxes[model == boxsim::Model::m431];
        std::vector<boxsim::Rx_event> events;
        fuzz_support::for_each_chunk(sent, split, [box, &events](const QByteArray& chunk) {
            const std::vector<boxsim::Rx_event> more = box->receive(chunk);
            events.insert(events.end(), more.begin(), more.end());
        });
        const std::vector<boxsim::Rx_event> rest = box->pause();
        events.insert(events.end(), rest.begin(), rest.end());
        require(events.size() == 1, "the box did not read one settings frame as one");
        const bool applied = events.front().kind == boxsim::Rx_event::Kind::applied;
        require(applied == to_take, "the box refused a frame for its model or took one for an unknown device");
        if (!applied)
            return;
        require(settings_bytes(events.front().values, first) == carried,
                "the box read other settings than the builder wrote");
        Settings_values kept = events.front().values;
        kept.crc_errors_reset = box->settings().crc_errors_reset; // an order, not a setting it keeps
        require(settings_bytes(box->settings(), first) == settings_bytes(kept, first),
                "the box kept other settings than it read");
    }

    Receiver tool;
    Receiver reference;
    Audio audio;
    bool box_read_one = false;
    QByteArray stream; // every byte the tool's receiver got
    int split = 0;
};

} // namespace

std::vector<fuzz_target::Count> fuzz_target::totals = {{"inputs"},
                                                       {"frames with good CRC"},
                                                       {"frames with bad CRC"},
                                                       {"model switches"},
                                                       {"user actions"},
                                                       {"settings frames for model 430"},
                                                       {"settings frames for model 431"},
                                                       {"settings frames for other devices"}};

void fuzz_target::add_random_events(fuzz_input::Builder& input, const std::function<uint32_t(uint32_t)>& pick)
{
    if (pick(3) == 0)
        input.user_action(static_cast<uint8_t>(pick(256)), static_cast<uint8_t>(pick(256)));
    if (pick(4) == 0) {
        const uint16_t devices[] = {frame::device_id_430, frame::device_id_431, static_cast<uint16_t>(pick(0x10000))};
        Settings_values values;
        for (Settings_field field : settings_wire_order)
            values.*field = static_cast<uint8_t>(pick(256));
        input.settings_frame(devices[pick(3)], values, static_cast<int>(pick(fuzz_input::max_split + 1)));
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz_support::start_application("decoder_fuzz");
    widgets = new Video_widgets;
    for (const boxsim::Model model : {boxsim::Model::m430, boxsim::Model::m431}) {
        boxsim::Config config;
        config.model = model;
        boxes[model == boxsim::Model::m431] = new boxsim::Box(config);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzz_target::count(inputs);
    fuzz_input::Reader input(data, size);
    Session session;
    session.run(input);
    return 0;
}
