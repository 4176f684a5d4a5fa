#pragma once

// The monitor's share: one local socket for all its boxes, where a client names the port it
// wants in a greeting and is handed to that box's share.

#include "box_share.h"

#include <QLocalServer>

#include <map>

class Share_server : public QObject
{
    Q_OBJECT

public:
    static constexpr int most_clients = 64; // connections in all, greeted or not
    static constexpr int greeting_ms = 5000;
    // What the kernel buffers for a client, besides Box_share::most_unsent.
    static constexpr int socket_buffer = 32 * 1024;

    explicit Share_server(std::vector<Box_share*> boxes);
    ~Share_server() override;

    // Serves at share_place::served_at(), readable and writable by the owner and the group
    // alone; when it cannot, says why in one line and shares nothing.
    void listen();

private:
    void accept();
    void greet(QLocalSocket* socket);
    void refuse(QLocalSocket* socket, const QString& why);
    int connections() const;

    QLocalServer server;
    const std::vector<Box_share*> boxes;
    std::map<QLocalSocket*, Peer> greeting; // connected, not yet greeted
};
