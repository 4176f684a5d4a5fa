// Stand-in serial ports: a private /dev and a private list of tty devices in sysfs, in
// which each listed port is a symbolic link to a pseudo-terminal.
#include "stand_in_ports.h"

#include "pseudo_terminal.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace stand_in_ports {

namespace {

// Qt lists tty devices through udev, which ignores entries that are not on sysfs, and
// then, finding none, through the links in this directory: each names a device directory
// whose uevent gives the node's name and whose device/uevent gives a driver.
const QString tty_class = QStringLiteral("/sys/class/tty");
const QString device_dirs = tty_class + QStringLiteral("/.devices");
// Where udev links each USB serial adapter under a name made of its own attributes.
const QString by_id_dir = QStringLiteral("/dev/serial/by-id");
// ... and under the USB socket it is plugged into.
const QString by_path_dir = QStringLiteral("/dev/serial/by-path");
// The files Qt reads a USB adapter's attributes from, in the device's directory.
const char* const usb_attribute_files[] = {"idVendor", "idProduct", "serial", "manufacturer", "product"};

std::vector<std::unique_ptr<Pseudo_terminal>> idle_ports;

QString failure(const QString& what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

bool write_file(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// A tmpfs with the same entries as /dev moved over it, so that port nodes can be added
// without touching the machine's /dev.
QString private_dev()
{
    char staging[] = "/tmp/tavolink-dev.XXXXXX";
    if (!mkdtemp(staging))
        return failure(QStringLiteral("cannot make a staging directory"));
    if (mount("tavolink-dev", staging, "tmpfs", 0, "mode=755") != 0)
        return failure(QStringLiteral("cannot mount a private /dev"));
    const std::unique_ptr<DIR, int (*)(DIR*)> dev(opendir("/dev"), closedir);
    if (!dev)
        return failure(QStringLiteral("cannot read /dev"));
    while (const dirent* entry = readdir(dev.get())) {
        const QByteArray name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const QByteArray from = "/dev/" + name;
        const QByteArray to = QByteArray(staging) + '/' + name;

        struct stat info
        {};

        if (lstat(from.constData(), &info) != 0)
            continue;
        if (S_ISLNK(info.st_mode)) {
            char target[4096];
            const ssize_t n = readlink(from.constData(), target, sizeof target - 1);
            if (n > 0 && symlink(QByteArray(target, static_cast<int>(n)).constData(), to.constData()) != 0)
                return failure(QStringLiteral("cannot copy /dev/%1").arg(QString::fromLocal8Bit(name)));
        } else if (S_ISDIR(info.st_mode)) {
            if (mkdir(to.constData(), info.st_mode & 07777) != 0
                || mount(from.constData(), to.constData(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
                return failure(QStringLiteral("cannot carry /dev/%1 over").arg(QString::fromLocal8Bit(name)));
        } else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
            if (mknod(to.constData(), info.st_mode, info.st_rdev) != 0
                || chown(to.constData(), info.st_uid, info.st_gid) != 0)
                return failure(QStringLiteral("cannot copy /dev/%1").arg(QString::fromLocal8Bit(name)));
        }
    }
    if (mount(staging, "/dev", nullptr, MS_MOVE, nullptr) != 0)
        return failure(QStringLiteral("cannot put the private /dev in place"));
    rmdir(staging);
    return QString();
}

QString enter_once(int count)
{
    if (unshare(CLONE_NEWNS) != 0)
        return failure(QStringLiteral("no private mount namespace (needs root)"));
    // Keep our mounts from propagating back to the machine.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failure(QStringLiteral("cannot make mounts private"));
    // Serial ports are locked by files named after the port; a private lock directory
    // keeps programs that hold the machine's ports from locking ours out.
    const char* lock_dir = access("/run/lock", W_OK) == 0 ? "/run/lock" : "/var/lock";
    if (mount("tavolink-lock", lock_dir, "tmpfs", 0, "mode=1777") != 0)
        return failure(QStringLiteral("cannot make a private lock directory"));
    if (mount("tavolink-tty", tty_class.toLocal8Bit().constData(), "tmpfs", 0, "mode=755") != 0)
        return failure(QStringLiteral("cannot make a private list of tty devices"));
    if (!QDir().mkpath(device_dirs))
        return QStringLiteral("cannot make %1").arg(device_dirs);
    const QString dev_problem = private_dev();
    if (!dev_problem.isEmpty())
        return dev_problem;
    // Links of our own adapters only, never beside the machine's.
    if (!QDir().mkpath(QStringLiteral("/dev/serial"))
        || mount("tavolink-serial", "/dev/serial", "tmpfs", 0, "mode=755") != 0 || !QDir().mkpath(by_id_dir)
        || !QDir().mkpath(by_path_dir))
        return failure(QStringLiteral("cannot make a private /dev/serial"));
    for (int i = 0; i < count; ++i) {
        idle_ports.push_back(std::make_unique<Pseudo_terminal>());
        if (!idle_ports.back()->is_open() || !place(i, idle_ports.back()->slave_path()))
            return failure(QStringLiteral("cannot stand a pseudo-terminal in for %1").arg(name(i)));
    }
    return QString();
}

QString device_dir(int index)
{
    return device_dirs + '/' + name(index);
}

// Takes away the attributes and the by-id link of port `index`.
void forget(int index)
{
    const QDir dir(device_dir(index));
    for (const char* file : usb_attribute_files)
        QFile::remove(dir.filePath(QString::fromLatin1(file)));
    for (const QString& links : {by_id_dir, by_path_dir})
        for (const QFileInfo& link : QDir(links).entryInfoList(QDir::System | QDir::Files))
            if (link.isSymLink() && QFile::symLinkTarget(link.filePath()).endsWith('/' + name(index)))
                QFile::remove(link.filePath());
}

} // namespace

QString enter(int count)
{
    static const QString problem = enter_once(count);
    return problem;
}

QString socket(int index)
{
    return QStringLiteral("pci-0000:00:14.0-usb-0:%1:1.0-port0").arg(index + 1);
}

QString name(int index)
{
    return QStringLiteral("ttyUSB%1").arg(index);
}

bool place(int index, const QString& pty_path)
{
    const QString port = name(index);
    const QString dir = device_dir(index);
    if (!QDir().mkpath(dir + QStringLiteral("/device"))
        || !write_file(dir + QStringLiteral("/uevent"), "DEVNAME=" + port.toLatin1() + '\n')
        || !write_file(dir + QStringLiteral("/device/uevent"), "DRIVER=tavolink_stand_in\n"))
        return false;
    const QByteArray link = (tty_class + '/' + port).toLocal8Bit();
    if (access(link.constData(), F_OK) != 0 && symlink(dir.toLocal8Bit().constData(), link.constData()) != 0)
        return false;
    // Replaced in one step, so the port never goes missing while it changes hands.
    const QByteArray node = ("/dev/" + port).toLocal8Bit();
    const QByteArray staged = node + ".new";
    unlink(staged.constData());
    return symlink(pty_path.toLocal8Bit().constData(), staged.constData()) == 0
        && rename(staged.constData(), node.constData()) == 0;
}

// The link udev would make: usb-<manufacturer>_<product>_<serial>-if00-port0, blanks as '_'.
QString by_id(const Usb_adapter& adapter)
{
    const QString id =
        QStringLiteral("usb-%1_%2_%3-if00-port0").arg(adapter.manufacturer, adapter.product, adapter.serial_number);
    return by_id_dir + '/' + QString(id).replace(' ', '_');
}

bool describe(int index, const Usb_adapter& adapter)
{
    forget(index);
    const QDir dir(device_dir(index));
    const QString values[] = {QStringLiteral("%1").arg(adapter.vendor_id, 4, 16, QLatin1Char('0')),
                              QStringLiteral("%1").arg(adapter.product_id, 4, 16, QLatin1Char('0')),
                              adapter.serial_number, adapter.manufacturer, adapter.product};
    for (std::size_t i = 0; i < std::size(values); ++i)
        if (!values[i].isEmpty()
            && !write_file(dir.filePath(QString::fromLatin1(usb_attribute_files[i])), values[i].toUtf8() + '\n'))
            return false;
    // The links name the port the adapter is on now; of twins, the last one described.
    const QByteArray target = ("../../" + name(index)).toLocal8Bit();
    const QByteArray link = by_id(adapter).toLocal8Bit();
    const QByteArray in_socket =
        (by_path_dir + '/' + (adapter.socket.isEmpty() ? socket(index) : adapter.socket)).toLocal8Bit();
    unlink(link.constData());
    unlink(in_socket.constData());
    return symlink(target.constData(), in_socket.constData()) == 0
        && (adapter.serial_number.isEmpty() || symlink(target.constData(), link.constData()) == 0);
}

void drain()
{
    char buffer[4096];
    for (const auto& port : idle_ports)
        while (read(port->master(), buffer, sizeof buffer) > 0) {}
}

void unplug(int index)
{
    forget(index);
    unlink((tty_class + '/' + name(index)).toLocal8Bit().constData());
    unlink(("/dev/" + name(index)).toLocal8Bit().constData());
}

} // namespace stand_in_ports
