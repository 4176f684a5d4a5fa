// The share's socket: its place and modes, the bounds on connections, the greeting.
#include "share_server.h"

#include "output.h"
#include "share_place.h"

#include <QDir>
#include <QFileInfo>

#include <numeric>
#include <sys/socket.h>

Share_server::Share_server(std::vector<Box_share*> boxes)
    : boxes(std::move(boxes))
{
    connect(&server, &QLocalServer::newConnection, this, &Share_server::accept);
}

Share_server::~Share_server()
{
    server.close(); // removes the socket, so that clients find the ports themselves
}

void Share_server::listen()
{
    const QString path = share_place::served_at();
    if (path.isEmpty()) {
        complain(QStringLiteral("the boxes are not shared: neither RUNTIME_DIRECTORY nor XDG_RUNTIME_DIR is set"));
        return;
    }
    const QString dir = QFileInfo(path).absolutePath();
    QDir().mkpath(dir);
    // The service's umask leaves the group out; the group is the one the adapters have.
    QFile::setPermissions(dir,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
    QLocalSocket other;
    other.connectToServer(path);
    if (other.waitForConnected(200)) {
        complain(QStringLiteral("the boxes are not shared: another monitor shares at %1").arg(path));
        return;
    }
    QLocalServer::removeServer(path); // one a monitor that ended left behind
    server.setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    if (!server.listen(path)) {
        complain(QStringLiteral("the boxes are not shared: cannot listen at %1: %2").arg(path, server.errorString()));
        return;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
}

int Share_server::connections() const
{
    return std::accumulate(boxes.begin(), boxes.end(), static_cast<int>(greeting.size()),
                           [](int sum, const Box_share* box) { return sum + box->client_count(); });
}

void Share_server::accept()
{
    while (QLocalSocket* socket = server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const int buffer = socket_buffer;
        setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        if (connections() >= most_clients) {
            refuse(socket, QStringLiteral("the monitor has %1 clients already").arg(most_clients));
            continue;
        }
        greeting.emplace(socket, peer_of(*socket));
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { greet(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { greeting.erase(socket); });
        QTimer::singleShot(greeting_ms, socket, [this, socket] {
            if (greeting.count(socket))
                refuse(socket, QStringLiteral("no greeting in %1 s").arg(greeting_ms / 1000));
        });
    }
}

void Share_server::greet(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > share_place::greeting_bytes)
            refuse(socket, QStringLiteral("a greeting longer than %1 bytes").arg(share_place::greeting_bytes));
        return;
    }
    const QString given = QString::fromUtf8(socket->readLine()).chopped(1);
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (Box_share* box : boxes)
        if (box->is_named(given, ports)) {
            const Peer peer = greeting[socket];
            greeting.erase(socket);
            socket->disconnect(this);
            box->take(socket, peer);
            return;
        }
    refuse(socket, QStringLiteral("this monitor has no box on %1").arg(given));
}

void Share_server::refuse(QLocalSocket* socket, const QString& why)
{
    greeting.erase(socket);
    socket->disconnect(this);
    socket->write((share_place::refused + QLatin1Char('\t') + why + QLatin1Char('\n')).toUtf8());
    socket->disconnectFromServer();
}
