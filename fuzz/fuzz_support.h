#pragma once

// What both fuzz targets share: the input layout, a quiet offscreen application, failing
// loudly, and the record of a frame as it reached the decoder.

#include <QApplication>
#include <QByteArray>
#include <QSet>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace fuzz {

// The input layout (fuzz/README.md): wire bytes from the front, control bytes from the back;
// past the end every read yields nothing, so any byte string is an input.
constexpr uint8_t step_framed = 0x01, step_event_1 = 0x02, step_event_2 = 0x04;
constexpr int split_shift = 3;

struct Reader
{
    const uint8_t* front;
    const uint8_t* back;

    bool done() const { return front == back; }

    uint8_t control() { return done() ? 0 : *--back; }

    QByteArray wire(std::size_t count)
    {
        const std::size_t n = std::min(count, static_cast<std::size_t>(back - front));
        front += n;
        return QByteArray(reinterpret_cast<const char*>(front - n), static_cast<int>(n));
    }
};

// Creates the application: offscreen, and without the debug lines the tool writes for
// every frame, which at fuzzing speed would bury everything else.
inline void start_application(const char* name)
{
    qputenv("QT_QPA_PLATFORM", "offscreen"); // never the user's display
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        static QSet<QString> shown; // Qt warns alike for every window built: each text once
        if (type != QtDebugMsg && type != QtInfoMsg && shown.size() < 100 && !shown.contains(message))
            std::fprintf(stderr, "%s\n", qPrintable(*shown.insert(message)));
    });
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    new QApplication(argc, argv); // never destroyed: at exit Qt's own globals may be gone
}

// Reports `what` and aborts, so libFuzzer saves the input, when `holds` is false.
inline void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// The record of a frame as it reached the decoder: CRC verdict, length, payload.
inline void append_frame_record(QByteArray& records, bool crc_ok, const uint8_t* payload, uint8_t length)
{
    records.append(crc_ok ? '\1' : '\0').append(static_cast<char>(length));
    records.append(reinterpret_cast<const char*>(payload), length);
}

// Hands `bytes` to `take` in chunks of `size` bytes, the last perhaps shorter; 0: one chunk.
template <typename Take> void for_each_chunk(const QByteArray& bytes, int size, Take take)
{
    if (size <= 0)
        return take(bytes);
    for (int at = 0; at < bytes.size(); at += size)
        take(bytes.mid(at, size));
}

} // namespace fuzz
