// Finds host-to-box frames in a byte stream and keeps what it skips for the reports.
#include "receiver.h"

namespace boxsim {

void Receiver::keep_stray(uint8_t byte)
{
    if (stray.size() < max_kept)
        stray.append(static_cast<char>(byte));
    ++stray_count;
}

void Receiver::flush_stray(std::vector<Item>& out)
{
    if (stray_count > 0)
        out.push_back({Kind::stray, stray, stray_count});
    stray.clear();
    stray_count = 0;
}

void Receiver::hand_out(Kind kind, std::vector<Item>& out) const
{
    out.push_back({kind, QByteArray(reinterpret_cast<const char*>(buffer.data()), filled), filled});
}

void Receiver::push(uint8_t byte, std::vector<Item>& out)
{
    switch (state) {
    case State::header:
        if (pending_r && byte == frame::header_p) {
            pending_r = false;
            flush_stray(out);
            buffer[0] = frame::header_r;
            buffer[1] = frame::header_p;
            filled = length_at;
            state = State::length;
            return;
        }
        // "R" "R" "P" still synchronises on the second "R".
        if (pending_r)
            keep_stray(frame::header_r);
        pending_r = byte == frame::header_r;
        if (!pending_r)
            keep_stray(byte);
        return;

    case State::length:
        buffer[filled++] = byte;
        if (byte == 0 || byte > frame::max_payload_length) {
            hand_out(Kind::bad_length, out);
            state = State::header;
            pending_r = byte == frame::header_r;
            return;
        }
        wanted = byte + static_cast<int>(frame::envelope_size);
        state = State::body;
        return;

    case State::body:
        buffer[filled++] = byte;
        if (filled == wanted) {
            hand_out(Kind::frame, out);
            state = State::header;
        }
        return;
    }
}

void Receiver::pause(std::vector<Item>& out)
{
    if (state != State::header)
        hand_out(Kind::incomplete, out);
    if (pending_r)
        keep_stray(frame::header_r);
    flush_stray(out);
    reset();
}

void Receiver::reset()
{
    state = State::header;
    pending_r = false;
    stray.clear();
    stray_count = 0;
    filled = 0;
    wanted = 0;
}

} // namespace boxsim
