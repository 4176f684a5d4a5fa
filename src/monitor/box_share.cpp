// A box shared with the monitor's clients: forwarding, the one outstanding frame, refusals and drops.
#include "box_share.h"

#include "log_categories.h"
#include "models.h"
#include "output.h"
#include "share_place.h"
#include "status_texts.h"

#include <QFile>

#include <sys/socket.h>
#include <sys/stat.h>

namespace {

// Frame byte of the status flags: after the two header bytes and the length.
constexpr int flags_byte = 3 + status::common::flags;

// `bytes` with the acknowledgement cleared in each frame that begins at one of `acks`, and its
// check sealed again: what the box sent, as a client that did not send the frame sees it.
QByteArray without_acknowledgements(QByteArray bytes, const std::vector<int>& acks)
{
    for (const int start : acks) {
        QByteArray one = bytes.mid(start, 3 + static_cast<uint8_t>(bytes[start + 2]));
        one[flags_byte] = static_cast<char>(one[flags_byte] & ~status::flag::ack);
        frame::seal(one);
        bytes.replace(start, one.size(), one);
    }
    return bytes;
}

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

// The device node `path` leads to (through links, aliases and bind mounts alike); 0 for none.
dev_t node(const QString& path)
{
    struct stat info
    {};

    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode) ? info.st_rdev : 0;
}

} // namespace

QString Peer::text() const
{
    return QStringLiteral("user %1 process %2").arg(uid).arg(pid);
}

Peer peer_of(const QLocalSocket& socket)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return {};
    return {static_cast<qint64>(credentials.uid), static_cast<qint64>(credentials.pid)};
}

Box_share::Box_share(Box_link& link, const QString& port, Metric_families& families)
    : link(link)
    , port(port)
    , labels(box_labels(port, link.serial_number()))
    , clients_gauge(families.share_clients.Add(labels))
    , passed(families.share_frames_passed.Add(labels))
    , refused(families.share_frames_refused.Add(labels))
{
    ack_timer.setSingleShot(true);
    connect(&ack_timer, &QTimer::timeout, this, [this] { answered(false); });
    // After the link's own reading, so that the model is known before a client hears the frame.
    connect(&link.line, &Box_line::received, this, &Box_share::forward);
    connect(&link.line, &Box_line::lost, this, &Box_share::port_lost);
    connect(&link.line, &Box_line::back, this, &Box_share::port_back);
    connect(&link, &Box_link::status_frame, this, [this](const status::Values& values) {
        model = values.device_id;
        have_model = true;
    });
}

Box_share::~Box_share() = default;

bool Box_share::is_named(const QString& given, const QList<QSerialPortInfo>& ports) const
{
    if (given == port || given == link.port_name())
        return true;
    const QSerialPortInfo* listed = nullptr;
    for (const QSerialPortInfo& info : ports)
        if (info.portName() == given || info.systemLocation() == given)
            listed = &info;
    const dev_t given_node = node(listed ? listed->systemLocation() : given);
    if (given_node != 0 && given_node == node(link.line.location()))
        return true;
    return listed && !given.contains(QLatin1Char('/')) && link.line.adapter().matches(identity_of(*listed, ports));
}

void Box_share::take(QLocalSocket* socket, const Peer& peer)
{
    socket->setParent(this);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (client_count() >= most_clients) {
        socket->write(QStringLiteral("%1\t%2 clients share %3 already\n")
                          .arg(share_place::refused)
                          .arg(most_clients)
                          .arg(port)
                          .toUtf8());
        socket->disconnectFromServer();
        return;
    }
    QStringList answer{share_place::accepted, link.port_name(), link.line.location()};
    if (!link.line.is_open())
        answer = QStringList{share_place::away, link.port_name(), link.line.location(),
                             away_reason.isEmpty() ? link.line.error_string() : away_reason};
    socket->write((answer.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
    socket->flush();
    // A client that hung up before its answer is gone already, its socket on its way out.
    if (socket->state() != QLocalSocket::ConnectedState)
        return;
    clients.push_back(std::make_unique<Client>(Client{++last_id, socket, peer, {}}));
    const quint64 id = last_id;
    connect(socket, &QLocalSocket::readyRead, this, [this, id] {
        if (Client* client = find(id))
            read_from(*client);
    });
    connect(socket, &QLocalSocket::disconnected, this, [this, id] {
        if (Client* client = find(id))
            client->gone = true;
        QMetaObject::invokeMethod(this, &Box_share::sweep, Qt::QueuedConnection);
    });
    clients_gauge.Set(client_count());
    qCDebug(lc_ctl_line).noquote() << port << "shared with" << peer.text();
    if (socket->bytesAvailable() > 0)
        read_from(*clients.back());
}

Box_share::Client* Box_share::find(quint64 id)
{
    for (const auto& client : clients)
        if (client->id == id && !client->gone && client->socket)
            return client.get();
    return nullptr;
}

// A frame still coming waits for its end (one frame at most), so that its acknowledgement can be
// cleared for the clients it does not answer; bytes outside frames go on as they came.
void Box_share::forward(const QByteArray& bytes)
{
    QByteArray data = held + bytes;
    std::vector<int> acks;
    for (int i = held.size(); i < data.size(); ++i) {
        const bool was_in_frame = scanner.in_frame();
        const frame::Assembler::Result result = scanner.push(static_cast<uint8_t>(data[i]));
        if (!was_in_frame && scanner.in_frame())
            frame_start = std::max(0, i - 1); // the 'P' before this 'R'
        if (result == frame::Assembler::Result::frame_ok && scanner.payload_length() > status::common::flags
            && (scanner.payload()[status::common::flags] & status::flag::ack))
            acks.push_back(frame_start);
    }
    int end = data.size();
    if (scanner.in_frame())
        end = frame_start;
    else if (!data.isEmpty() && static_cast<uint8_t>(data.back()) == frame::header_p)
        end = data.size() - 1; // perhaps the first header byte
    held = data.mid(end);
    frame_start = 0;
    data.truncate(end);
    if (data.isEmpty())
        return;
    const quint64 answered_client = acks.empty() ? 0 : owner;
    std::vector<QByteArray> records, others;
    for (int at = 0; at < data.size(); at += share_place::record::most_data) {
        const QByteArray part = data.mid(at, share_place::record::most_data);
        records.push_back(share_place::record_of(share_place::record::box_bytes, part));
    }
    if (!acks.empty()) {
        const QByteArray cleared = without_acknowledgements(data, acks);
        for (int at = 0; at < cleared.size(); at += share_place::record::most_data)
            others.push_back(share_place::record_of(share_place::record::box_bytes,
                                                    cleared.mid(at, share_place::record::most_data)));
    }
    for (const auto& client : clients)
        for (const QByteArray& record : acks.empty() || client->id == answered_client ? records : others)
            if (!client->refused) // it is told why and let go, nothing more
                send(*client, record);
    if (!acks.empty() && outstanding)
        answered(true);
}

void Box_share::send(Client& client, const QByteArray& record)
{
    if (client.gone || !client.socket)
        return;
    const char* data = record.constData();
    qint64 left = record.size();
    // While Qt holds nothing for the client, the socket takes what it can at once: no copy into
    // Qt's buffer, and no write notifier turned on and off for every record. Never waits.
    if (client.socket->bytesToWrite() == 0) {
        const ssize_t sent = ::send(static_cast<int>(client.socket->socketDescriptor()), data,
                                    static_cast<size_t>(left), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            left -= sent;
        }
    }
    if (left > 0) // Qt sends the rest as the socket takes it
        client.socket->write(data, left);
    if (client.socket->bytesToWrite() <= most_unsent)
        return;
    complain(QStringLiteral("%1: a client (%2) took too little of what the box sent (%3 bytes waiting); it is "
                            "dropped")
                 .arg(port, client.peer.text())
                 .arg(client.socket->bytesToWrite()));
    client.gone = true;
    client.socket->abort();
    QMetaObject::invokeMethod(this, &Box_share::sweep, Qt::QueuedConnection);
}

void Box_share::read_from(Client& client)
{
    const QByteArray bytes = client.socket->readAll();
    if (client.refused || client.gone)
        return;
    client.in += bytes;
    while (!client.in.isEmpty()) {
        const auto* head = reinterpret_cast<const uint8_t*>(client.in.constData());
        if (head[0] != frame::header_r || (client.in.size() > 1 && head[1] != frame::header_p))
            return refuse(client,
                          QStringLiteral("bytes that do not begin a settings frame: %1").arg(hex(client.in.left(16))));
        if (client.in.size() < 3)
            return;
        if (!have_model)
            return refuse(client,
                          QStringLiteral("a frame before the box sent a good status frame, so its model is not known"));
        const int size = head[2] + static_cast<int>(frame::envelope_size);
        const int fits = frame::build_settings_frame(model, {}).size();
        if (size != fits)
            return refuse(client,
                          QStringLiteral("a frame of %1 bytes; the box is a %2, whose settings frame has %3")
                              .arg(size)
                              .arg(status_texts::model(model))
                              .arg(fits));
        if (client.in.size() < size)
            return;
        const QByteArray frame = client.in.left(size);
        client.in.remove(0, size);
        const frame::Settings_frame parsed = frame::parse_settings_frame(frame);
        if (parsed.check == frame::Settings_frame::Check::bad_crc)
            return refuse(client, QStringLiteral("a frame that fails its check: %1").arg(hex(frame)));
        if (parsed.check != frame::Settings_frame::Check::ok)
            return refuse(client, QStringLiteral("a frame of no known layout: %1").arg(hex(frame)));
        if (models::known(model) && parsed.device_id != model)
            return refuse(client,
                          QStringLiteral("a frame for a %1; the box is a %2")
                              .arg(status_texts::model(parsed.device_id), status_texts::model(model)));
        if (client.waiting >= most_waiting)
            return refuse(client, QStringLiteral("more than %1 frames waiting for the box").arg(most_waiting));
        // As on the port itself: what is written while the port is away goes nowhere.
        if (!link.line.is_open())
            continue;
        queue.push_back({client.id, frame, {}});
        ++client.waiting;
        pass_next();
    }
}

void Box_share::refuse(Client& client, const QString& why)
{
    client.refused = true;
    client.in.clear();
    refused.Increment();
    const QString line = QStringLiteral("%1: refused what a client (%2) sent, %3; none of it reached the box, "
                                        "and the client is disconnected")
                             .arg(port, client.peer.text(), why);
    complain(line);
    qCDebug(lc_ctl_line).noquote() << line;
    send(client, share_place::record_of(share_place::record::refused, why.toUtf8()));
    if (!client.gone && client.socket)
        client.socket->disconnectFromServer();
}

void Box_share::submit(const QByteArray& frame, std::function<void(bool)> tell)
{
    if (!link.line.is_open())
        return tell(false);
    queue.push_back({++last_id, frame, std::move(tell)});
    pass_next();
}

void Box_share::pass_next()
{
    if (outstanding || queue.empty())
        return;
    Waiting next = std::move(queue.front());
    queue.pop_front();
    QString sender = QStringLiteral("the monitor's web server");
    if (!next.answered) {
        Client* client = find(next.client);
        // A refused client is let go as one that left: what it had waiting goes nowhere.
        if (!client || client->refused)
            return pass_next();
        --client->waiting;
        sender = client->peer.text();
    }
    const QString line = QStringLiteral("%1: settings frame from %2 to the box: %3").arg(port, sender, hex(next.frame));
    complain(line);
    qCDebug(lc_ctl_line).noquote() << line;
    link.line.write(next.frame);
    passed.Increment();
    outstanding = true;
    owner = next.client;
    owner_answered = std::move(next.answered);
    ack_timer.start(ack_ms);
}

// The box acknowledged the outstanding frame, or did not in time: the next may go.
void Box_share::answered(bool acknowledged)
{
    ack_timer.stop();
    outstanding = false;
    owner = 0;
    // Told after the state is clear: what it does may submit again.
    if (const std::function<void(bool)> tell = std::exchange(owner_answered, {}))
        tell(acknowledged);
    pass_next();
}

void Box_share::port_lost(const QString& reason)
{
    away_reason = reason;
    std::vector<std::function<void(bool)>> unanswered;
    for (Waiting& w : queue)
        if (w.answered)
            unanswered.push_back(std::move(w.answered));
    if (owner_answered)
        unanswered.push_back(std::exchange(owner_answered, {}));
    queue.clear();
    ack_timer.stop();
    outstanding = false;
    owner = 0;
    for (const auto& tell : unanswered)
        tell(false);
    scanner = frame::Assembler();
    held.clear();
    for (const auto& client : clients) {
        client->waiting = 0;
        if (!client->refused)
            send(*client, share_place::record_of(share_place::record::lost, reason.toUtf8()));
    }
}

void Box_share::port_back()
{
    away_reason.clear();
    const QByteArray where = (link.port_name() + QLatin1Char('\t') + link.line.location()).toUtf8();
    for (const auto& client : clients)
        if (!client->refused)
            send(*client, share_place::record_of(share_place::record::back, where));
}

void Box_share::sweep()
{
    for (const auto& client : clients)
        if (client->gone) {
            if (client->id == owner)
                owner = 0;
            if (client->socket)
                client->socket->deleteLater();
        }
    clients.erase(std::remove_if(clients.begin(), clients.end(), [](const auto& client) { return client->gone; }),
                  clients.end());
    queue.erase(
        std::remove_if(queue.begin(), queue.end(), [this](const Waiting& w) { return !w.answered && !find(w.client); }),
        queue.end());
    clients_gauge.Set(client_count());
}
