// The client's end of the share: asking for a port, reading records, writing frames.
#include "share_client.h"

#include "share_place.h"

#include <QElapsedTimer>
#include <QFileInfo>

Share_client::Answer Share_client::connect_to(const QString& requested)
{
    close();
    for (const QString& place : share_place::looked_for_at()) {
        if (!QFileInfo::exists(place))
            continue;
        auto asking = std::make_unique<QLocalSocket>();
        asking->connectToServer(place);
        if (!asking->waitForConnected(wait_ms))
            continue;
        asking->write((requested + QLatin1Char('\n')).toUtf8());
        QElapsedTimer clock;
        clock.start();
        while (!asking->canReadLine() && asking->state() == QLocalSocket::ConnectedState && clock.elapsed() < wait_ms)
            asking->waitForReadyRead(static_cast<int>(wait_ms - clock.elapsed()));
        if (!asking->canReadLine())
            continue;
        const QStringList answer =
            QString::fromUtf8(asking->readLine(share_place::greeting_bytes)).chopped(1).split(QLatin1Char('\t'));
        const QString& word = answer.first();
        if ((word != share_place::accepted && word != share_place::away) || answer.size() < 3)
            continue;
        monitor_name = answer[1];
        location = answer[2];
        away_reason = word == share_place::away ? answer.value(3) : QString();
        refused_why.clear();
        in.clear();
        socket = std::move(asking);
        connect(socket.get(), &QLocalSocket::readyRead, this, &Share_client::read_records);
        connect(socket.get(), &QLocalSocket::disconnected, this, &Share_client::disconnected);
        // Records that came with the answer are handed on once the caller has seen the answer.
        QMetaObject::invokeMethod(this, &Share_client::read_records, Qt::QueuedConnection);
        return word == share_place::away ? Answer::away : Answer::accepted;
    }
    return Answer::none;
}

// The socket says it is disconnected as it goes: nobody listens by then.
Share_client::~Share_client()
{
    if (socket)
        socket->disconnect(this);
}

bool Share_client::shares(const QString& requested)
{
    Share_client asking;
    return asking.connect_to(requested) != Answer::none;
}

void Share_client::close()
{
    if (!socket)
        return;
    socket->disconnect(this);
    socket->abort();
    socket.release()->deleteLater(); // it may be in one of its own signals
}

void Share_client::write(const QByteArray& bytes)
{
    if (is_connected())
        socket->write(bytes);
}

void Share_client::flush()
{
    if (is_connected())
        socket->flush();
}

void Share_client::take_waiting()
{
    if (!is_connected())
        return;
    socket->waitForReadyRead(0);
    read_records();
}

void Share_client::read_records()
{
    if (!socket)
        return;
    const QLocalSocket* const reading = socket.get();
    if (socket->isOpen())
        in += socket->readAll();
    int at = 0;
    while (in.size() - at >= share_place::record::header_size) {
        const auto* head = reinterpret_cast<const uint8_t*>(in.constData() + at);
        const int size = head[1] << 8 | head[2];
        if (in.size() - at < share_place::record::header_size + size)
            break;
        const QByteArray data = in.mid(at + share_place::record::header_size, size);
        const char type = static_cast<char>(head[0]);
        at += share_place::record::header_size + size;
        if (type == share_place::record::box_bytes) {
            emit received(data);
        } else if (type == share_place::record::lost) {
            away_reason = QString::fromUtf8(data);
            emit lost(away_reason);
        } else if (type == share_place::record::back) {
            away_reason.clear();
            const QStringList where = QString::fromUtf8(data).split(QLatin1Char('\t'));
            monitor_name = where.value(0);
            location = where.value(1);
            emit back(monitor_name, location);
        } else if (type == share_place::record::refused) {
            refused_why = QString::fromUtf8(data);
        }
        // Other types are for later versions of the monitor: passed over.
        if (socket.get() != reading) // closed, or opened anew, by a slot of those signals
            return;
    }
    in.remove(0, at);
}

void Share_client::disconnected()
{
    const QLocalSocket* const ended_socket = socket.get();
    read_records();
    if (socket.get() != ended_socket) // a slot of what came last closed it already
        return;
    const QString reason = refused_why.isEmpty() ? QStringLiteral("the monitor stopped sharing the port")
                                                 : QStringLiteral("the monitor refused what was sent: ") + refused_why;
    close();
    emit ended(reason);
}
