// The share's one place, for the monitor and its clients alike.
#include "share_place.h"

#include <QDir>

namespace {

QString user_place()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QString()
                             : QDir(runtime).filePath(QStringLiteral("tavolink/") + share_place::socket_name);
}

} // namespace

namespace share_place {

QString served_at()
{
    // systemd sets it for RuntimeDirectory=; it may list several directories, the first is ours.
    const QString service = qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    return service.isEmpty() ? user_place() : QDir(service).filePath(socket_name);
}

QStringList looked_for_at()
{
    QStringList places{QStringLiteral("/run/tavolink/") + socket_name};
    const QString user = user_place();
    if (!user.isEmpty() && !places.contains(user))
        places << user;
    return places;
}

QByteArray record_of(char type, const QByteArray& data)
{
    QByteArray record;
    record.reserve(record::header_size + data.size());
    record.append(type);
    record.append(static_cast<char>(data.size() >> 8));
    record.append(static_cast<char>(data.size() & 0xFF));
    record.append(data);
    return record;
}

} // namespace share_place
