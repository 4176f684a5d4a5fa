#pragma once

// A line's way to the box through a running monitor's share: the greeting, the box's bytes and
// the port's loss and return as records, frames out.

#include <QByteArray>
#include <QLocalSocket>
#include <QObject>

#include <memory>

class Share_client : public QObject
{
    Q_OBJECT

public:
    // How long connecting and the greeting may take at each place; a place without a socket
    // costs nothing.
    static constexpr int wait_ms = 1000;

    enum class Answer {
        none,     // no monitor shares the port
        accepted, // the monitor shares it, and its port is open
        away,     // the monitor shares it, but its port is lost or not there yet: away_reason says why
    };

    // Asks each place of share_place::looked_for_at() in turn for a share of `requested`, the port
    // as it was given; stays connected to the first that shares it.
    Answer connect_to(const QString& requested);

    Share_client() = default;
    ~Share_client() override;
    Share_client(const Share_client&) = delete;
    Share_client& operator=(const Share_client&) = delete;

    void close();

    bool is_connected() const { return socket && socket->state() == QLocalSocket::ConnectedState; }

    // Whether a running monitor shares `requested` now.
    static bool shares(const QString& requested);

    // The monitor's name for the port and where it is open; why it is away, while it is.
    QString monitor_name, location, away_reason;

    void write(const QByteArray& bytes);
    void flush();
    // Hands on at once the records that have arrived.
    void take_waiting();

signals:
    void received(const QByteArray& bytes);
    void lost(const QString& reason);
    void back(const QString& name, const QString& location);
    // The share ended: the monitor stopped, or it refused what was sent (`reason` then says why).
    void ended(const QString& reason);

private:
    void read_records();
    void disconnected();

    std::unique_ptr<QLocalSocket> socket;
    QByteArray in;
    QString refused_why;
};
