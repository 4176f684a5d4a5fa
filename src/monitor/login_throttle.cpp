// The failed logins of each address, and the delay they earn it.
#include "login_throttle.h"

#include <algorithm>

using std::chrono::milliseconds;

namespace {

// Enough addresses for a facility; past it, the ones that have served their time go.
constexpr int addresses_kept = 4096;

milliseconds steady_now()
{
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

Login_throttle::Login_throttle(Limits limits, Clock clock)
    : limits(limits)
    , clock(clock ? std::move(clock) : Clock(steady_now))
{}

milliseconds Login_throttle::wait(const QString& address) const
{
    const milliseconds now = clock();
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = records.constFind(address);
    if (found == records.constEnd() || found->refused_until <= now)
        return milliseconds(0);
    return found->refused_until - now;
}

void Login_throttle::failed(const QString& address)
{
    const milliseconds now = clock();
    const std::lock_guard<std::mutex> guard(lock);
    if (records.size() >= addresses_kept)
        forget_old(now);
    Record& record = records[address];
    auto& failures = record.failures;
    failures.erase(failures.begin(), std::find_if(failures.begin(), failures.end(), [&](milliseconds at) {
                       return at > now - limits.window;
                   }));
    failures.push_back(now);
    const int over = static_cast<int>(failures.size()) - limits.failures;
    if (over < 0)
        return;
    milliseconds delay = limits.first_delay;
    for (int i = 0; i < over && delay < limits.longest_delay; ++i)
        delay *= 2;
    record.refused_until = now + std::min(delay, limits.longest_delay);
}

void Login_throttle::succeeded(const QString& address)
{
    const std::lock_guard<std::mutex> guard(lock);
    records.remove(address);
}

void Login_throttle::forget_old(milliseconds now)
{
    for (auto it = records.begin(); it != records.end();)
        if (it->refused_until <= now && (it->failures.empty() || it->failures.back() <= now - limits.window))
            it = records.erase(it);
        else
            ++it;
}
