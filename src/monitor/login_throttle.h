#pragma once

// Repeated failed logins from one address slowed down: after a few failures within a window,
// the address is refused for a delay that doubles with each further failure.

#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

struct Login_limits
{
    int failures = 5; // the failure within the window that starts the first delay
    std::chrono::milliseconds window{60000};
    std::chrono::milliseconds first_delay{1000}, longest_delay{60000};
};

class Login_throttle
{
public:
    using Clock = std::function<std::chrono::milliseconds()>;

    using Limits = Login_limits;

    // The default clock is the steady one; tests give their own.
    explicit Login_throttle(Limits limits = {}, Clock clock = {});

    // How long `address` must still wait before a login from it is checked; zero when it may
    // try now. A try refused so is not checked, and counts as no failure.
    std::chrono::milliseconds wait(const QString& address) const;
    void failed(const QString& address);
    // A good login forgets the address's failures.
    void succeeded(const QString& address);

private:
    struct Record
    {
        std::vector<std::chrono::milliseconds> failures; // within the window, oldest first
        std::chrono::milliseconds refused_until{0};
    };

    // Forgets the addresses that neither failed within the window nor are refused now.
    void forget_old(std::chrono::milliseconds now);

    const Limits limits;
    const Clock clock;
    mutable std::mutex lock;
    QHash<QString, Record> records;
};
