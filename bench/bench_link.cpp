// Byte-level receive cost: the CRC alone, then the assembler that runs it per frame.
#include "bench_frames.h"
#include "crc16.h"
#include "frame_codec.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<uint8_t> pseudo_random_bytes(std::size_t count)
{
    std::vector<uint8_t> bytes(count);
    uint32_t state = 0x12345678u;
    for (uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

void BM_crc16(benchmark::State& state)
{
    const auto bytes = pseudo_random_bytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        // The data pointer escapes so the call cannot be hoisted out of the loop.
        benchmark::DoNotOptimize(bytes.data());
        benchmark::DoNotOptimize(crc16(bytes.data(), bytes.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// 38 bytes is what the assembler checks per model-430 frame; 4 KiB shows the steady rate.
BENCHMARK(BM_crc16)->Arg(38)->Arg(4096);

// A serial read hands over whatever arrived; 32 bytes never line up with a 40-byte frame.
constexpr int chunk_size = 32;
constexpr int stream_frames = 256;

void BM_assembler_430_stream(benchmark::State& state)
{
    QByteArray stream;
    const std::vector<QByteArray> frames = bench_frames::changing(bench_frames::steady_430(), stream_frames);
    for (const QByteArray& frame : frames)
        stream.append(frame);
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.constData());
    const int size = stream.size();

    frame::Assembler assembler;
    int64_t good = 0;
    int64_t bad = 0;
    for (auto _ : state) {
        for (int offset = 0; offset < size; offset += chunk_size) {
            const int end = offset + chunk_size < size ? offset + chunk_size : size;
            for (int i = offset; i < end; ++i) {
                const frame::Assembler::Result result = assembler.push(bytes[i]);
                if (result == frame::Assembler::Result::frame_ok)
                    ++good;
                else if (result == frame::Assembler::Result::frame_bad_crc)
                    ++bad;
            }
        }
        benchmark::DoNotOptimize(assembler.payload());
    }
    if (bad != 0 || good != static_cast<int64_t>(state.iterations()) * stream_frames) {
        state.SkipWithError("assembler lost or rejected frames");
        return;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    state.counters["frames_per_second"] = benchmark::Counter(static_cast<double>(good), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_assembler_430_stream);

} // namespace

BENCHMARK_MAIN();
