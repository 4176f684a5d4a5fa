// Runs a fuzz target without libFuzzer, for builds with any compiler: every seed in the
// corpus, then a fixed set of inputs drawn from a fixed-seed generator (random bytes,
// mutated seeds, and status frames with valid CRCs around random values, with the
// target's own events). The same inputs on every run, so ctest catches a regression the
// fuzzer once got past. Built once per target (fuzz_replay, fuzz_replay_decoder).
//
//   fuzz_replay CORPUS_DIR_OR_FILE... [--generated N]
#include "fuzz_input.h"
#include "fuzz_target.h"

#include "frame_codec.h"
#include "status_layout.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int default_generated = 2000;
constexpr uint32_t seed = 20240611;

std::mt19937 rng(seed);

// Plain modulo: unlike the standard distributions, the same numbers with every library.
uint32_t below(uint32_t n)
{
    return static_cast<uint32_t>(rng() % n);
}

QByteArray random_bytes(int count)
{
    QByteArray bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(below(256));
    return bytes;
}

void run(const QByteArray& input)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()), static_cast<std::size_t>(input.size()));
}

QByteArray mutated(QByteArray input, const std::vector<QByteArray>& seeds)
{
    const int mutations = 1 + static_cast<int>(below(8));
    for (int m = 0; m < mutations; ++m) {
        const int size = input.size();
        const int at = size > 0 ? static_cast<int>(below(static_cast<uint32_t>(size))) : 0;
        switch (below(6)) {
        case 0:
            if (size > 0)
                input[at] = static_cast<char>(input.at(at) ^ (1 << below(8)));
            break;
        case 1:
            if (size > 0)
                input[at] = static_cast<char>(below(256));
            break;
        case 2:
            input.insert(at, random_bytes(1 + static_cast<int>(below(8))));
            break;
        case 3:
            input.remove(at, 1 + static_cast<int>(below(8)));
            break;
        case 4:
            input.insert(at, input.mid(at, 1 + static_cast<int>(below(48))));
            break;
        default: {
            const QByteArray& other = seeds[below(static_cast<uint32_t>(seeds.size()))];
            const int from = static_cast<int>(below(static_cast<uint32_t>(other.size()) + 1));
            input = input.left(at) + other.mid(from);
            break;
        }
        }
    }
    return input;
}

uint8_t random_byte()
{
    return static_cast<uint8_t>(below(256));
}

// Mostly plausible values: small codes, the host's protocol version, a known device.
status::Values random_status()
{
    const uint16_t devices[] = {frame::device_id_430, frame::device_id_431, 0x0000, static_cast<uint16_t>(rng())};
    status::Values v;
    v.protocol_version = below(2) ? frame::host_protocol_version : random_byte();
    v.device_id = devices[below(4)];
    v.variant = static_cast<uint8_t>(below(3));
    v.flags = random_byte();
    v.status_word = static_cast<uint16_t>(rng());
    v.sdi_rate = static_cast<uint8_t>(below(5));
    v.input_detected = static_cast<uint8_t>(below(3));
    for (uint8_t& byte : v.pid)
        byte = random_byte();
    v.crc_err_count = static_cast<uint16_t>(rng());
    v.audio_groups = random_byte();
    v.hdmi = {random_byte(), random_byte(), random_byte(), random_byte(), random_byte(), random_byte(), random_byte()};
    for (Settings_field field : settings_wire_order)
        v.settings.*field = below(2) ? static_cast<uint8_t>(below(5)) : random_byte();
    return v;
}

// A status payload, now and then cut short or longer than its layout (past what the
// receive path takes, too).
QByteArray random_payload()
{
    QByteArray payload = status::encode(random_status());
    if (below(4) == 0)
        payload.truncate(1 + static_cast<int>(below(static_cast<uint32_t>(payload.size()))));
    else if (below(4) == 0)
        payload.append(random_bytes(static_cast<int>(below(frame::max_payload_length + 4))));
    return payload;
}

// Steps of well-formed frames around random values, now and then a corrupted frame or
// noise, with random chunking and the target's own events.
QByteArray structured()
{
    fuzz_input::Builder input;
    const int steps = 1 + static_cast<int>(below(12));
    for (int s = 0; s < steps; ++s) {
        const QByteArray payload = random_payload();
        switch (below(4)) {
        case 0:
        case 1:
            input.framed(payload.left(255), below(3) == 0 ? static_cast<int>(below(fuzz_input::max_split + 1)) : 0);
            break;
        case 2: {
            QByteArray frame = frame::build_status_frame(payload.left(frame::max_payload_length));
            const int at = static_cast<int>(below(static_cast<uint32_t>(frame.size())));
            frame[at] = static_cast<char>(frame.at(at) ^ (1 + below(255)));
            input.raw(frame);
            break;
        }
        default:
            input.raw(random_bytes(1 + static_cast<int>(below(24))));
            break;
        }
        fuzz_target::add_random_events(input, below);
    }
    return input.bytes();
}

bool read_seed(const QString& path, std::vector<QByteArray>& seeds)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "fuzz_replay: cannot read %s\n", qPrintable(path));
        return false;
    }
    seeds.push_back(file.readAll());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int generated = default_generated;
    std::vector<QByteArray> seeds;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--generated") == 0 && i + 1 < argc) {
            generated = std::atoi(argv[++i]);
            continue;
        }
        const QString path = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(path).isDir()) {
            // Sorted, so the generated inputs that build on seeds are the same every run.
            const QStringList names = QDir(path).entryList(QDir::Files, QDir::Name);
            for (const QString& name : names)
                if (!read_seed(QDir(path).filePath(name), seeds))
                    return 1;
        } else if (!read_seed(path, seeds)) {
            return 1;
        }
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "usage: fuzz_replay CORPUS_DIR_OR_FILE... [--generated N]  (no seed given)\n");
        return 1;
    }

    LLVMFuzzerInitialize(&argc, &argv);
    for (const QByteArray& input : seeds)
        run(input);
    for (int i = 0; i < generated; ++i) {
        switch (i % 3) {
        case 0:
            run(random_bytes(1 + static_cast<int>(below(512))));
            break;
        case 1:
            run(mutated(seeds[below(static_cast<uint32_t>(seeds.size()))], seeds));
            break;
        default:
            run(structured());
            break;
        }
    }

    std::printf("%s: %zu seeds and %d generated inputs run\n", argv[0], seeds.size(), generated);
    bool reached = true;
    for (const fuzz_target::Count& count : fuzz_target::totals) {
        if (count.value == 0) {
            std::fprintf(stderr, "%s: no %s in any input\n", argv[0], count.what);
            reached = false;
        }
    }
    return reached ? 0 : 1;
}
