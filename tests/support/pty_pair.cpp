#include "pty_pair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Pty_pair::Pty_pair()
{
    int slave_fd = -1;
    char name[256] = {};
    if (openpty(&master_fd, &slave_fd, name, nullptr, nullptr) != 0) {
        master_fd = -1;
        return;
    }
    termios mode{};
    tcgetattr(slave_fd, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave_fd, TCSANOW, &mode);
    fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
    // Holding the slave open keeps the master readable while the tool closes and
    // reopens its side.
    slave_keepalive_fd = slave_fd;
    path = QString::fromLocal8Bit(name);
}

Pty_pair::~Pty_pair()
{
    close_master();
    if (slave_keepalive_fd >= 0)
        ::close(slave_keepalive_fd);
}

bool Pty_pair::write(const QByteArray& bytes)
{
    if (master_fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                QThread::msleep(1);
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

QByteArray Pty_pair::read(int timeout_ms)
{
    QByteArray result;
    if (master_fd < 0)
        return result;
    QElapsedTimer clock;
    clock.start();
    int quiet_gap_ms = timeout_ms;
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd entry{master_fd, POLLIN, 0};
        const int left = quiet_gap_ms - static_cast<int>(clock.elapsed());
        if (left <= 0)
            break;
        if (poll(&entry, 1, qMin(left, 10)) > 0 && (entry.revents & POLLIN)) {
            char buffer[512];
            const ssize_t n = ::read(master_fd, buffer, sizeof buffer);
            if (n > 0) {
                result.append(buffer, static_cast<int>(n));
                clock.restart();
                quiet_gap_ms = 50;
            }
        }
    }
    return result;
}

void Pty_pair::close_master()
{
    if (master_fd >= 0) {
        ::close(master_fd);
        master_fd = -1;
    }
}
