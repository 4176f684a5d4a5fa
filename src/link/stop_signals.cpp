// Stop signals through a pipe into the event loop.
#include "stop_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = {-1, -1};

void on_signal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &byte, 1);
}

} // namespace

Stop_signals::Stop_signals(QObject* parent)
    : QObject(parent)
{
    if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte;
        while (::read(signal_pipe[0], &byte, 1) > 0) {}
        emit stop_requested();
    });
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int stop : {SIGINT, SIGTERM, SIGHUP})
        sigaction(stop, &action, nullptr);
    is_catching = true;
}
