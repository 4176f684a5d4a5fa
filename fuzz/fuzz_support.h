#pragma once

#include <QByteArray>

#include <cstdint>

// What both fuzz targets share: failing loudly, a quiet offscreen application, and the
// record of a frame as it reached the decoder.
namespace fuzz_support {

// Creates the application (offscreen, debug lines dropped) and prints the target's
// totals at exit. `name` also heads every failure message.
void start_application(const char* name);

// Reports `what` and aborts, so libFuzzer saves the input, when `holds` is false.
void require(bool holds, const char* what);

// Appends the record of a frame as it reached the decoder: the CRC verdict, the length,
// the payload.
void append_frame_record(QByteArray& records, bool crc_ok, const uint8_t* payload, uint8_t length);

// Hands `bytes` to `take` in chunks of `size` bytes, the last perhaps shorter; in one
// chunk for size 0.
template <typename Take> void for_each_chunk(const QByteArray& bytes, int size, Take take)
{
    if (size <= 0) {
        take(bytes);
        return;
    }
    for (int at = 0; at < bytes.size(); at += size)
        take(bytes.mid(at, size));
}

} // namespace fuzz_support
