#pragma once

// monitor's HTTP server: /metrics, the boxes' API and live events, and the facility's page, over
// TLS and behind logins when its web configuration says so; served from one event thread that no
// client can hold up.

#include "failure.h"
#include "login_throttle.h"
#include "web_boxes.h"
#include "web_config.h"

#include <prometheus/registry.h>

#include <QTimer>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct MHD_Connection;
struct MHD_Daemon;

class Web_server : public QObject
{
    Q_OBJECT

public:
    // Bounds every client meets; tavolinkctl(1) states them.
    static constexpr unsigned idle_seconds = 5;  // a connection on which nothing arrives is closed
    static constexpr unsigned connections = 256; // open at once; more are closed on arrival
    static constexpr unsigned per_address = 64;  // of them from one client address
    static constexpr unsigned requests = 32;     // being answered at once; more get 503
    static constexpr unsigned streams = 32;      // event streams open at once, apart from the requests
    // An event within this of a change, and one at least every second.
    static constexpr int event_ms = 250;

    // `registry` is read from the server's thread; prometheus-cpp locks it against the
    // changes the boxes' series make meanwhile. Without `config`, no TLS and no logins.
    Web_server(const prometheus::Registry& registry, Web_boxes& boxes, Web_config* config);
    ~Web_server() override;

    // Listens on "ADDRESS:PORT" ("[::1]:9430" for IPv6) and starts serving.
    std::optional<Failure> listen(const QString& address);

private:
    struct Request;
    struct Stream;

    std::optional<Failure> start(int fd, const std::shared_ptr<const Web_config::Settings>& settings);
    void stop();
    // The boxes' thread, every event_ms: the configuration read again, events sent.
    void tick();
    bool writable() const;

    // The server thread's callbacks.
    friend struct Web_callbacks;

    const prometheus::Registry& registry;
    Web_boxes& boxes;
    Web_config* const config;
    Login_throttle throttle;
    std::map<QString, Web_reply> page;                   // the page's files, by path
    std::shared_ptr<const Web_config::Settings> serving; // whose certificate the daemon uses
    MHD_Daemon* daemon = nullptr;
    QTimer ticker;
    int ticks = 0;
    quint64 published = 0; // Web_boxes::changes() at the last event

    // The server's thread only.
    unsigned answering = 0, streaming = 0;

    // Shared between the threads.
    std::mutex lock;
    bool stopping = false;
    QByteArray event;                     // the last event's data, numbered
    quint64 event_number = 1;             // a stream's 0: nothing sent yet
    std::vector<MHD_Connection*> waiting; // streams suspended until the next event

    struct Pending
    {
        MHD_Connection* connection;
        Request* request;
    };

    std::map<quint64, Pending> writes; // suspended while the boxes' thread carries them out
    quint64 last_write = 0;
};
