#pragma once

// One box of the monitor shared with its clients: what the box sends goes to every client,
// and each client's settings frames, checked, go to the box one at a time.

#include "box_link.h"
#include "box_metrics.h"

#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Who is at the other end of a local socket, as the kernel tells it (SO_PEERCRED).
struct Peer
{
    qint64 uid = -1, pid = -1;

    QString text() const;
};

Peer peer_of(const QLocalSocket& socket);

// Shares the monitor's line to one box. A client is told what the box sends, the port lost and
// back; it may send whole settings frames of the box's model with a good check, and anything
// else refuses and disconnects it. One frame is outstanding across all clients: the next waits
// for the box's acknowledgement or ack_ms, and only the frame's sender sees that
// acknowledgement. A client that does not keep up with the box is dropped, so that it holds up
// nobody.
class Box_share : public QObject
{
    Q_OBJECT

public:
    static constexpr int most_clients = 16;
    // Bytes a client may leave untaken in this process, past what its socket's kernel buffer holds.
    static constexpr qint64 most_unsent = 64 * 1024;
    // A client's frames waiting for the box.
    static constexpr int most_waiting = 8;
    // As long as the windows wait for an acknowledgement.
    static constexpr int ack_ms = 3000;

    // `port` as --port names it.
    Box_share(Box_link& link, const QString& port, Metric_families& families);
    ~Box_share() override;

    // Whether a client that gives `given` means this box: the name --port gave or the line's name
    // now, the same device node (the path's, or the listed port's), or a listed name whose
    // adapter is this box's by its identity (Port_identity::matches).
    bool is_named(const QString& given, const QList<QSerialPortInfo>& ports) const;

    int client_count() const { return static_cast<int>(clients.size()); }

    // A checked frame from the monitor itself (its web server), queued behind the clients'
    // frames under the same one-outstanding rule; `answered` is told whether the box
    // acknowledged it in time (false too when the port is away or is lost meanwhile).
    void submit(const QByteArray& frame, std::function<void(bool acknowledged)> answered);

    // A client whose greeting named this box: answered, then served from now on, or refused.
    // The socket is this object's from now on.
    void take(QLocalSocket* socket, const Peer& peer);

private:
    struct Client
    {
        quint64 id;
        QPointer<QLocalSocket> socket; // deleted once it is disconnected
        Peer peer;
        QByteArray in; // the start of a frame still coming
        int waiting = 0;
        bool refused = false, gone = false;
    };

    struct Waiting
    {
        quint64 client;
        QByteArray frame;
        std::function<void(bool)> answered; // set for the monitor's own frames
    };

    void forward(const QByteArray& bytes);
    void read_from(Client& client);
    void refuse(Client& client, const QString& why);
    void send(Client& client, const QByteArray& record);
    void pass_next();
    void answered(bool acknowledged);
    void port_lost(const QString& reason);
    void port_back();
    void sweep();
    Client* find(quint64 id);

    Box_link& link;
    const QString port;
    std::vector<std::unique_ptr<Client>> clients;
    quint64 last_id = 0;
    std::deque<Waiting> queue;
    bool outstanding = false;
    quint64 owner = 0;                        // the client whose frame is outstanding; 0 for none, or one gone
    std::function<void(bool)> owner_answered; // when the monitor's own frame is outstanding
    QTimer ack_timer;
    uint16_t model = 0;
    bool have_model = false;
    QString away_reason; // why the port is not open, since it was lost
    // The box's bytes are scanned for acknowledgements; a frame still coming is held back.
    frame::Assembler scanner;
    QByteArray held;
    int frame_start = 0; // where the frame being scanned begins in `held`
    prometheus::Labels labels;
    prometheus::Gauge& clients_gauge;
    prometheus::Counter &passed, &refused;
};
