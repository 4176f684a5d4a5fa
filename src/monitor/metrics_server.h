#pragma once

// monitor's HTTP endpoint: GET /metrics, served from one event thread that no client can hold up.

#include "failure.h"

#include <prometheus/registry.h>

#include <optional>

struct MHD_Daemon;

class Metrics_server
{
public:
    // Bounds every client meets; tavolinkctl(1) states them.
    static constexpr unsigned idle_seconds = 5;  // a connection on which nothing arrives is closed
    static constexpr unsigned connections = 256; // open at once; more are closed on arrival
    static constexpr unsigned per_address = 64;  // of them from one client address
    static constexpr unsigned requests = 32;     // being answered at once; more get 503

    // `registry` is read from the server's thread; prometheus-cpp locks it against the
    // changes the boxes' series make meanwhile.
    explicit Metrics_server(const prometheus::Registry& registry)
        : registry(registry)
    {}

    ~Metrics_server();

    Metrics_server(const Metrics_server&) = delete;
    Metrics_server& operator=(const Metrics_server&) = delete;

    // Listens on "ADDRESS:PORT" ("[::1]:9430" for IPv6) and starts serving.
    std::optional<Failure> listen(const QString& address);

    // For the server's callbacks.
    const prometheus::Registry& registry;
    unsigned answering = 0; // touched by the server's one thread only

private:
    MHD_Daemon* daemon = nullptr;
};
