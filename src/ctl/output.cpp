// tavolinkctl's standard output and standard error.
#include "output.h"

#include <QDateTime>

#include <cstdio>

void print_line(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void print_json(const QJsonDocument& document)
{
    print_line(QString::fromUtf8(document.toJson(QJsonDocument::Compact)));
}

void complain(const QString& message)
{
    std::fprintf(stderr, "tavolinkctl: %s\n", message.toLocal8Bit().constData());
}

QString time_stamp()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

void print_event(const QString& port, const QString& name, const QString& text, const QJsonObject& details, bool json)
{
    const QString time = time_stamp();
    if (!json) {
        print_line(time + ' ' + (port.isEmpty() ? text : port + QStringLiteral(": ") + text));
        return;
    }
    QJsonObject object = details;
    object.insert(QStringLiteral("time"), time);
    object.insert(QStringLiteral("event"), name);
    if (!port.isEmpty() && !object.contains(QStringLiteral("port")))
        object.insert(QStringLiteral("port"), port);
    print_json(QJsonDocument(object));
}
