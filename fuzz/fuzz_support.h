#pragma once
// What both fuzz targets share: the input and its steps, the application, checks, frame records.

#include "frame_codec.h"

#include <QApplication>
#include <QSet>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace fuzz {

// Reports `what` and aborts, so libFuzzer saves the input, when `holds` is false.
inline void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// Offscreen, without the per-frame debug lines, which at fuzzing speed would bury all else.
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

// Hands `bytes` to `take` in chunks of `size` bytes, the last perhaps shorter; 0: in one chunk.
template <typename Take> void for_each_chunk(const QByteArray& bytes, int size, Take take)
{
    for (int at = 0; at<bytes.size(); at += size> 0 ? size : bytes.size())
        take(bytes.mid(at, size > 0 ? size : -1));
}

// Feeds `bytes` to `assembler`, calling `done(crc_ok)` at the end of each frame.
template <typename Done> void assemble(frame::Assembler& assembler, const QByteArray& bytes, Done done)
{
    for (char byte : bytes)
        if (const auto result = assembler.push(static_cast<uint8_t>(byte)); result != frame::Assembler::Result::pending)
            done(result == frame::Assembler::Result::frame_ok);
}

// Appends the record of the assembler's last frame: CRC verdict, length, payload.
inline void record(QByteArray& records, bool crc_ok, const frame::Assembler& assembler)
{
    records.append(crc_ok ? '\1' : '\0').append(static_cast<char>(assembler.payload_length()));
    records.append(reinterpret_cast<const char*>(assembler.payload()), assembler.payload_length());
}

constexpr uint8_t event_1 = 0x02, event_2 = 0x04; // in a step's flags

// An input (fuzz/README.md); past the end every read yields nothing, so any byte string is one.
struct Reader
{
    const uint8_t *front, *back;

    uint8_t control() { return front == back ? 0 : *--back; }

    QByteArray wire(std::size_t count)
    {
        const std::size_t n = qMin(count, static_cast<std::size_t>(back - front));
        front += n;
        return QByteArray(reinterpret_cast<const char*>(front - n), static_cast<int>(n));
    }

    // Runs every step: `deliver` gets its chunks of the line, then `after(flags, chunk size)`.
    template <typename Deliver, typename After> void run(Deliver deliver, After after)
    {
        while (front != back) {
            const uint8_t flags = control(), size = control();
            if (flags & 0x01) // a status frame with a good CRC, which fuzzers seldom guess
                for_each_chunk(frame::build_status_frame(wire(size)), flags >> 3, deliver);
            else
                deliver(wire(size + 1u));
            after(flags, flags >> 3);
        }
    }
};

} // namespace fuzz
