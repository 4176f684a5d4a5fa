#include "stand_in_ports.h"

#include <QSerialPortInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sched.h>
#include <sys/mount.h>
#include <termios.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace stand_in_ports {

namespace {

std::vector<int> masters;

const char tty_class[] = "/sys/class/tty";

QStringList names(const QList<QSerialPortInfo>& ports)
{
    QStringList out;
    for (const QSerialPortInfo& port : ports)
        out << port.portName();
    return out;
}

// Every rescan walks all ttys the kernel has, dozens of virtual consoles among them, at
// thousands of system calls each. Leaving only the listed ports in the tty class makes a
// rescan cheap and lists the same ports; if it would not, the class stays as it was.
void keep_only_listed_ttys(const QList<QSerialPortInfo>& ports)
{
    std::vector<std::pair<QByteArray, QByteArray>> links;
    for (const QSerialPortInfo& port : ports) {
        const QByteArray link = QByteArray(tty_class) + '/' + port.portName().toLocal8Bit();
        char target[4096];
        const ssize_t length = readlink(link.constData(), target, sizeof target - 1);
        if (length <= 0)
            return;
        links.emplace_back(link, QByteArray(target, static_cast<int>(length)));
    }
    if (mount("tmpfs", tty_class, "tmpfs", 0, "mode=755") != 0)
        return;
    bool linked = true;
    for (const auto& link : links)
        linked = linked && symlink(link.second.constData(), link.first.constData()) == 0;
    if (!linked || names(QSerialPortInfo::availablePorts()) != names(ports))
        umount2(tty_class, MNT_DETACH);
}

QString failure(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

QString install()
{
    const auto ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        return QString();
    if (unshare(CLONE_NEWNS) != 0)
        return failure("no private mount namespace (needs root)");
    // Our mounts must not propagate back to the host.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failure("cannot make mounts private");
    // A lock file in the real lock directory would lock other users out of the real port.
    const char* lock_dir = access("/run/lock", W_OK) == 0 ? "/run/lock" : "/var/lock";
    if (mount("tmpfs", lock_dir, "tmpfs", 0, "mode=1777") != 0)
        return failure("cannot make a private lock directory");

    for (const QSerialPortInfo& port : ports) {
        int master = -1;
        int slave = -1;
        char slave_name[256] = {};
        if (openpty(&master, &slave, slave_name, nullptr, nullptr) != 0)
            return failure("cannot open a pseudo-terminal");
        termios mode{};
        tcgetattr(slave, &mode);
        cfmakeraw(&mode);
        tcsetattr(slave, TCSANOW, &mode);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        // The slave stays open (and is never closed) so the master keeps working while
        // the tool closes and reopens its side.
        masters.push_back(master);
        const QByteArray node = port.systemLocation().toLocal8Bit();
        if (mount(slave_name, node.constData(), nullptr, MS_BIND, nullptr) != 0)
            return failure("cannot cover a serial port");
    }
    keep_only_listed_ttys(ports);
    return QString();
}

void drain()
{
    char buffer[4096];
    for (int master : masters)
        while (read(master, buffer, sizeof buffer) > 0) {}
}

} // namespace stand_in_ports
