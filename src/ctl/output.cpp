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
