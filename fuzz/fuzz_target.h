#pragma once

#include <cstddef>
#include <cstdint>

// The libFuzzer entry points of receive_path_fuzz.cpp, also driven by the replay.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

// What the inputs run so far reached, so a replay can tell that it exercised the path.
struct Fuzz_totals
{
    uint64_t inputs = 0;
    uint64_t frames_good_crc = 0;
    uint64_t frames_bad_crc = 0;
    uint64_t window_switches = 0;
    uint64_t watchdog_ticks = 0;
};

const Fuzz_totals& fuzz_totals();

// Also printed to stderr when the process exits.
void print_fuzz_totals();
