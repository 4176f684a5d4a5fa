#pragma once

#include "fuzz_input.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// What each fuzz target provides: libFuzzer's entry points, and for the replay, what its
// inputs reached and the events its generated steps may end with.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace fuzz_target {

struct Count
{
    const char* what;
    uint64_t value = 0;
};

// What the inputs run so far reached, each target's own counts. The seeds reach every
// one, so the replay fails on a count of 0: a path that reaches nothing is broken even
// if nothing crashed.
extern std::vector<Count> totals;

inline void count(std::size_t which)
{
    ++totals[which].value;
}

// Adds this target's events to the step `input` wrote last; pick(n) draws from 0 to n - 1.
void add_random_events(fuzz_input::Builder& input, const std::function<uint32_t(uint32_t)>& pick);

} // namespace fuzz_target
