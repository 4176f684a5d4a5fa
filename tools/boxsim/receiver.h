#pragma once

// Finds host-to-box frames in a byte stream and keeps what it skips for the reports.

#include "frame_codec.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

namespace boxsim {

// Frames are "R" "P", length, payload, CRC. Unlike the host's assembler this one holds
// the bytes it skips, so a person can be told about them.
class Receiver
{
public:
    enum class Kind { frame, stray, bad_length, incomplete };

    struct Item
    {
        Kind kind;
        QByteArray bytes; // at most max_kept bytes of them
        int count;        // all of them
    };

    static constexpr int max_kept = 256;
    // Where a frame holds its length byte; a bad_length item ends with it.
    static constexpr int length_at = 2;

    void push(uint8_t byte, std::vector<Item>& out);
    // The line went quiet: hand out skipped bytes and any frame cut short.
    void pause(std::vector<Item>& out);
    void reset();

private:
    enum class State { header, length, body };
    void keep_stray(uint8_t byte);
    void flush_stray(std::vector<Item>& out);
    void hand_out(Kind kind, std::vector<Item>& out) const;

    State state = State::header;
    bool pending_r = false;
    QByteArray stray;
    int stray_count = 0;
    std::array<uint8_t, length_at + 1 + frame::max_payload_length + 2> buffer = {};
    int filled = 0;
    int wanted = 0;
};

} // namespace boxsim
