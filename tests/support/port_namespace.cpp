#include "port_namespace.h"

#include "pty_pair.h"

#include <QSerialPortInfo>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace port_namespace {

namespace {
QString target;
bool placed = false;
} // namespace

namespace {

QString enter_once()
{
    const auto ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        return QStringLiteral("this machine lists no serial port to stand in for");
    if (unshare(CLONE_NEWNS) != 0)
        return QStringLiteral("no private mount namespace (needs root): %1").arg(strerror(errno));
    // Keep our bind mounts from propagating back to the host.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return QStringLiteral("cannot make mounts private: %1").arg(strerror(errno));
    // Serial ports are locked by files in the lock directory; a private one keeps other
    // programs that use the real port from locking ours out.
    const char* lock_dir = access("/run/lock", W_OK) == 0 ? "/run/lock" : "/var/lock";
    if (mount("tmpfs", lock_dir, "tmpfs", 0, "mode=1777") != 0)
        return QStringLiteral("cannot make a private lock directory: %1").arg(strerror(errno));
    target = ports.first().systemLocation();
    // Until a test places its own box there, an idle pseudo-terminal covers the port, so
    // no test ever opens the machine's real device.
    static Pty_pair idle_port;
    if (!place(idle_port.slave_path()))
        return QStringLiteral("cannot cover %1: %2").arg(target, QString::fromLocal8Bit(strerror(errno)));
    return QString();
}

} // namespace

QString enter()
{
    static const QString problem = enter_once();
    return problem;
}

QString node()
{
    return target;
}

bool place(const QString& pty_path)
{
    if (target.isEmpty())
        return false;
    const QByteArray node_path = target.toLocal8Bit();
    if (placed)
        umount2(node_path.constData(), MNT_DETACH);
    placed = mount(pty_path.toLocal8Bit().constData(), node_path.constData(), nullptr, MS_BIND, nullptr) == 0;
    return placed;
}

} // namespace port_namespace
