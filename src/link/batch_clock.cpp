// The batch clocks of a process, one per period.
#include "batch_clock.h"

#include <map>

std::shared_ptr<Batch_clock> Batch_clock::of(int ms)
{
    static std::map<int, std::weak_ptr<Batch_clock>> clocks; // the lines' thread alone
    std::shared_ptr<Batch_clock> clock = clocks[ms].lock();
    if (!clock) {
        clock = std::make_shared<Batch_clock>(ms);
        clocks[ms] = clock;
    }
    return clock;
}

Batch_clock::Batch_clock(int ms)
{
    connect(&timer, &QTimer::timeout, this, &Batch_clock::tick);
    timer.start(ms);
}
