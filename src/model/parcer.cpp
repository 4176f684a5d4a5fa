// Status frames into the state model: the decoder's own fields, Video, and the signals
// that acknowledge, refresh the windows and switch between them.
#include "parcer.h"

#include "frame_codec.h"
#include "logging.h"
#include "models.h"
#include "status_layout.h"
#include "video.h"

Parcer::Parcer(Video* video)
    : QObject(nullptr)
    , video(video)
    , previous_device_id(frame::device_id_430)
{}

// `data` is the receive path's payload buffer, large enough for every position the
// layout names; a short payload leaves older bytes in the trailing positions.
void Parcer::parcing_data(uint8_t* data)
{
    status::Values decoded;
    status::decode(data, decoded);
    // crc_ok is set by the receive path just before the hand-over. A corrupted frame is
    // still shown, but a garbled flag or identifier must never act on the link or windows.
    const bool trusted = crc_ok;

    protocol_version = decoded.protocol_version;
    device_id = decoded.device_id;
    device_variant = decoded.variant;
    status_flags = decoded.flags;
    // Before any signal: the forced-format rule in the refresh below may already send.
    if (trusted)
        trusted_device_id = device_id;

    // The transport may send its next frame before this one is stored.
    if (trusted && (status_flags & status::flag::ack))
        emit ack_recieved();

    status_word = decoded.status_word;

    const models::Model& model = models::of(device_id);
    if (model.status == models::Status_layout::m430) {
        if (trusted && (status_flags & status::flag::crc_reset_done)) {
            video->crc_errors_reset = 0;
            qCDebug(lc_model) << "CRC errors reset done";
        }
        video->pid_detected = (status_flags & status::flag::pid_present) ? 1 : 0;
        video->input_detected = decoded.input_detected;
        video->sdi_rate = decoded.sdi_rate;
        for (std::size_t i = 0; i < decoded.pid.size(); ++i)
            video->pid[i] = decoded.pid[i];
        video->crc_err = (status_flags & status::flag::crc_errors) ? 1 : 0;
        video->crc_err_count = decoded.crc_err_count;
        static_cast<Format_settings&>(*this) = decoded.settings;
        static_cast<Audio_settings&>(*this) = decoded.settings;
        audio_groups = decoded.audio_groups;
    } else if (model.status == models::Status_layout::m431) {
        video->input_detected = (status_flags & status::flag::hdmi_input) ? 1 : 0;
        audio_groups = (status_flags >> status::flag::channels_shift) & status::flag::channels_mask;
        video->sdi_rate = decoded.sdi_rate;
        video->hdmi_format = decoded.hdmi.format;
        video->hdmi_frame = decoded.hdmi.frame;
        video->hdmi_scan = decoded.hdmi.scan;
        video->hdmi_mapping = decoded.hdmi.mapping;
        video->hdmi_depth = decoded.hdmi.depth;
        video->hdmi_audio_freq = decoded.hdmi.audio_freq;
        video->hdmi_rate = decoded.hdmi.rate;
        static_cast<Group_routing&>(*this) = decoded.settings;
    }

    emit update_data_ready();

    // Only a model shown in the other window switches; an unknown device leaves the window.
    if (trusted && device_id != previous_device_id) {
        if (model.window != models::of(previous_device_id).window)
            show_window(model.window);
        previous_device_id = device_id;
    }
}

void Parcer::show_window(models::Window window)
{
    switch (window) {
    case models::Window::mainwindow:
        emit device_id_changed_to_430();
        qCDebug(lc_model) << "emit to 430";
        break;
    case models::Window::mainwindow_431:
        emit device_id_changed_to_431();
        qCDebug(lc_model) << "emit to 431";
        break;
    case models::Window::none:
        break;
    }
}
