// The /metrics endpoint on GNU libmicrohttpd: an epoll thread, bounded time and clients.
#include "metrics_server.h"

#include "log_categories.h"

#include <prometheus/text_serializer.h>

#include <microhttpd.h>

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

MHD_Result send(MHD_Connection* connection, const char* method, const char* url, unsigned status,
                const std::string& body, const char* type = "text/plain")
{
    // Quoted, so that a client's control characters reach the log escaped.
    qCDebug(lc_ctl_http) << QString::fromLatin1(method) << QString::fromUtf8(url) << status;
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, MHD_HTTP_METHOD_GET);
    if (status == MHD_HTTP_SERVICE_UNAVAILABLE)
        MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, "1");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// Called once a request's head has arrived; answered at once, any body left unread.
MHD_Result answer(void* server_pointer, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, size_t* body_size, void** request)
{
    auto& server = *static_cast<Metrics_server*>(server_pointer);
    if (*request) { // a body after the answer: dropped
        *body_size = 0;
        return MHD_YES;
    }
    *request = &server; // so that its completion is counted
    if (++server.answering > Metrics_server::requests)
        return send(connection, method, url, MHD_HTTP_SERVICE_UNAVAILABLE,
                    "Busy: too many requests at once; try again\n");
    if (std::strcmp(url, "/metrics") != 0)
        return send(connection, method, url, MHD_HTTP_NOT_FOUND, "Not found: this server has /metrics only\n");
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0)
        return send(connection, method, url, MHD_HTTP_METHOD_NOT_ALLOWED,
                    "Method not allowed: /metrics answers GET only\n");
    return send(connection, method, url, MHD_HTTP_OK, prometheus::TextSerializer().Serialize(server.registry.Collect()),
                "text/plain; version=0.0.4; charset=utf-8");
}

void completed(void* server_pointer, MHD_Connection*, void** request, MHD_RequestTerminationCode)
{
    if (*request)
        --static_cast<Metrics_server*>(server_pointer)->answering;
}

// A bound, listening socket for "ADDRESS:PORT", or why there is none.
int listening_socket(const QString& address, QString& reason)
{
    const int colon = address.lastIndexOf(':');
    QString host = address.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    if (colon < 0 || host.isEmpty()) {
        reason = QStringLiteral("give it as ADDRESS:PORT");
        return -1;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int error =
            getaddrinfo(host.toUtf8().constData(), address.mid(colon + 1).toUtf8().constData(), &hints, &found)) {
        reason = QString::fromLocal8Bit(gai_strerror(error));
        return -1;
    }
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            close(fd);
        freeaddrinfo(found);
        return -1;
    }
    freeaddrinfo(found);
    return fd;
}

} // namespace

Metrics_server::~Metrics_server()
{
    if (daemon)
        MHD_stop_daemon(daemon); // closes the listening socket too
}

std::optional<Failure> Metrics_server::listen(const QString& address)
{
    QString reason;
    const int fd = listening_socket(address, reason);
    if (fd >= 0) {
        daemon = MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD, 0, nullptr, nullptr, &answer, this,
                                  MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_TIMEOUT, idle_seconds,
                                  MHD_OPTION_CONNECTION_LIMIT, connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                                  per_address, MHD_OPTION_NOTIFY_COMPLETED, &completed, this, MHD_OPTION_END);
        if (!daemon) {
            reason = QStringLiteral("the HTTP server did not start");
            close(fd);
        }
    }
    if (daemon)
        return std::nullopt;
    return Failure{exit_status::listen, QStringLiteral("cannot listen on %1: %2").arg(address, reason)};
}
