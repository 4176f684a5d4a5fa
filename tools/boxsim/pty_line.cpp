// The box's end of a pseudo-terminal, which notices when the tool opens and closes the slave.
#include "pty_line.h"

#include "console.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace boxsim {

bool Pty_line::open(QString& error)
{
    // Not holding the slave, so the master sees a hang-up while nobody has the port open.
    terminal = std::make_unique<Pseudo_terminal>(Pseudo_terminal::Slave::release);
    if (!terminal->is_open()) {
        error = QString::fromLocal8Bit(std::strerror(errno)); // still openpty's
        return false;
    }
    read_notifier = new QSocketNotifier(terminal->master(), QSocketNotifier::Read, this);
    read_notifier->setEnabled(false);
    connect(read_notifier, &QSocketNotifier::activated, this, &Pty_line::read_ready);
    write_notifier = new QSocketNotifier(terminal->master(), QSocketNotifier::Write, this);
    write_notifier->setEnabled(false);
    connect(write_notifier, &QSocketNotifier::activated, this, &Pty_line::write_ready);
    peer_check = new QTimer(this);
    connect(peer_check, &QTimer::timeout, this, &Pty_line::check_peer);
    peer_check->start(50);
    return true;
}

void Pty_line::write(const QByteArray& bytes)
{
    // Like a real box, talk on whether or not anyone listens; unheard bytes are lost.
    if (!peer_open)
        return;
    pending.append(bytes);
    flush();
}

void Pty_line::flush()
{
    while (!pending.isEmpty()) {
        const ssize_t n = ::write(terminal->master(), pending.constData(), static_cast<size_t>(pending.size()));
        if (n > 0) {
            pending.remove(0, static_cast<int>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // full: wait until the reader makes room
    }
    write_notifier->setEnabled(!pending.isEmpty());
}

void Pty_line::write_ready()
{
    flush();
    if (pending.isEmpty())
        emit drained();
}

void Pty_line::read_ready()
{
    char chunk[4096];
    const ssize_t n = ::read(terminal->master(), chunk, sizeof chunk);
    if (n > 0)
        emit received(QByteArray(chunk, static_cast<int>(n)));
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
        read_notifier->setEnabled(false); // hung up; check_peer resumes reading
}

void Pty_line::check_peer()
{
    pollfd entry{terminal->master(), 0, 0};
    ::poll(&entry, 1, 0);
    const bool open_now = !(entry.revents & POLLHUP);
    if (open_now == peer_open) {
        // Closed and opened again between two checks: the hang-up stopped the reading.
        if (peer_open)
            read_notifier->setEnabled(true);
        return;
    }
    peer_open = open_now;
    const QString path = terminal->slave_path();
    if (peer_open) {
        read_notifier->setEnabled(true);
        say(QStringLiteral("%1 opened").arg(path));
        emit drained();
        return;
    }
    read_ready(); // what the tool wrote before it closed
    read_notifier->setEnabled(false);
    pending.clear();
    write_notifier->setEnabled(false);
    // Bytes the tool left unread would reach it stale on its next open.
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        tcflush(fd, TCIFLUSH);
        ::close(fd);
    }
    say(QStringLiteral("%1 closed; nobody listens").arg(path));
}

} // namespace boxsim
