// The monitor's HTTP server on GNU libmicrohttpd: logins, TLS, the paths, event streams and writes.
#include "web_server.h"

#include "log_categories.h"
#include "output.h"
#include "settings_file.h"

#include <prometheus/text_serializer.h>

#include <QFile>
#include <QJsonDocument>
#include <QUrl>

#include <microhttpd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

struct Web_server::Request
{
    enum class Kind { answer, stream, write };
    Kind kind = Kind::answer;
    bool counted = true; // in `answering`
    QString user;
    int box = -1;
    Web_boxes::Write what = Web_boxes::Write::settings;
    QByteArray body;
    bool too_large = false, handed_over = false;
    std::optional<Web_reply> reply; // the boxes' thread's answer to a write
};

struct Web_server::Stream
{
    Web_server* server;
    MHD_Connection* connection;
    quint64 number = 0; // of the event being sent
    QByteArray data;
    int sent = 0;
};

namespace {

constexpr const char* realm = "tavolink";
const char* const read_methods = "GET, HEAD";

Web_reply text(unsigned status, const QString& message)
{
    Web_reply reply;
    reply.status = status;
    reply.body = (message + QLatin1Char('\n')).toUtf8();
    reply.type = "text/plain; charset=utf-8";
    return reply;
}

Web_reply json(const QJsonObject& object)
{
    Web_reply reply;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

Web_reply not_allowed(const char* methods)
{
    Web_reply reply = text(MHD_HTTP_METHOD_NOT_ALLOWED,
                           QStringLiteral("Method not allowed: this path takes %1").arg(QString::fromLatin1(methods)));
    reply.allow = methods;
    return reply;
}

MHD_Result send(MHD_Connection* connection, const char* method, const char* url, const Web_reply& reply,
                bool challenge = false)
{
    // Quoted, so that a client's control characters reach the log escaped.
    qCDebug(lc_ctl_http) << QString::fromLatin1(method) << QString::fromUtf8(url) << reply.status;
    MHD_Response* response = MHD_create_response_from_buffer(
        static_cast<size_t>(reply.body.size()), const_cast<char*>(reply.body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.type.constData());
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    // The page runs only what it was served with, and in no other site's frame.
    MHD_add_response_header(response, "Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    if (!reply.allow.isEmpty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, reply.allow.constData());
    if (reply.retry_after > 0)
        MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, QByteArray::number(reply.retry_after));
    const MHD_Result queued = challenge ? MHD_queue_basic_auth_fail_response(connection, realm, response)
                                        : MHD_queue_response(connection, reply.status, response);
    MHD_destroy_response(response);
    return queued;
}

QString client_address(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char host[NI_MAXHOST] = {};
    if (!info || !info->client_addr
        || getnameinfo(info->client_addr,
                       info->client_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in), host,
                       sizeof host, nullptr, 0, NI_NUMERICHOST)
            != 0)
        return QString();
    return QString::fromLatin1(host);
}

QByteArray header(MHD_Connection* connection, const char* name)
{
    return QByteArray(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name));
}

// The path is split before its parts are decoded, so that a port's own slashes stay in its part.
size_t keep_escaped(void*, MHD_Connection*, char* url)
{
    return std::strlen(url);
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

struct Web_callbacks
{
    using Request = Web_server::Request;
    using Stream = Web_server::Stream;

    // Called once a request's head has arrived, for each part of its body, and once more after it.
    static MHD_Result answer(void* server_pointer, MHD_Connection* connection, const char* url, const char* method,
                             const char*, const char* body, size_t* body_size, void** request_pointer)
    {
        auto& server = *static_cast<Web_server*>(server_pointer);
        auto* request = static_cast<Request*>(*request_pointer);
        if (!request) {
            *request_pointer = request = new Request; // so that its completion is counted
            if (++server.answering > Web_server::requests) {
                Web_reply busy =
                    text(MHD_HTTP_SERVICE_UNAVAILABLE, QStringLiteral("Busy: too many requests at once; try again"));
                busy.retry_after = 1;
                return send(connection, method, url, busy);
            }
            return head(server, *request, connection, url, method);
        }
        if (request->kind != Request::Kind::write) { // a body after the answer: dropped
            *body_size = 0;
            return MHD_YES;
        }
        if (*body_size) {
            if (request->body.size() + static_cast<qint64>(*body_size) > settings_file::max_size)
                request->too_large = true;
            else
                request->body.append(body, static_cast<int>(*body_size));
            *body_size = 0;
            return MHD_YES;
        }
        if (request->reply)
            return send(connection, method, url, *request->reply);
        if (request->too_large)
            return send(connection, method, url,
                        write_outcome(MHD_HTTP_BAD_REQUEST, QStringLiteral("bad file"),
                                      QStringLiteral("the file is larger than %1 bytes").arg(settings_file::max_size)));
        if (request->handed_over)
            return MHD_YES;
        // Suspended until the boxes' thread has the answer: the box may take seconds.
        request->handed_over = true;
        MHD_suspend_connection(connection);
        quint64 id;
        {
            const std::lock_guard<std::mutex> guard(server.lock);
            id = ++server.last_write;
            server.writes[id] = {connection, request};
        }
        server.boxes.write(request->box, request->what, request->body, request->user,
                           [&server, id](const Web_reply& reply) {
                               MHD_Connection* waiting = nullptr;
                               {
                                   const std::lock_guard<std::mutex> guard(server.lock);
                                   const auto it = server.writes.find(id);
                                   if (it == server.writes.end()) // answered at a stop already
                                       return;
                                   it->second.request->reply = reply;
                                   waiting = it->second.connection;
                                   server.writes.erase(it);
                               }
                               MHD_resume_connection(waiting);
                           });
        return MHD_YES;
    }

    // The login, then the path.
    static MHD_Result head(Web_server& server, Request& request, MHD_Connection* connection, const char* url,
                           const char* method)
    {
        const auto settings = server.config ? server.config->settings() : nullptr;
        if (settings && !settings->users.empty()) {
            const QString address = client_address(connection);
            if (const auto wait = server.throttle.wait(address); wait.count() > 0) {
                Web_reply refused = text(MHD_HTTP_TOO_MANY_REQUESTS,
                                         QStringLiteral("Too many failed logins from this address; try again later"));
                refused.retry_after = static_cast<int>((wait.count() + 999) / 1000);
                return send(connection, method, url, refused);
            }
            char* password = nullptr;
            char* user = MHD_basic_auth_get_username_password(connection, &password);
            request.user = QString::fromUtf8(user ? user : "");
            const bool given = user && password;
            const bool good = given && server.config->check(request.user, QString::fromUtf8(password));
            std::free(user);
            std::free(password);
            if (!good) {
                if (given) // a browser asks first without a login: that is no failure
                    server.throttle.failed(address);
                return send(connection, method, url,
                            text(MHD_HTTP_UNAUTHORIZED, QStringLiteral("Unauthorized: log in")), true);
            }
            server.throttle.succeeded(address);
        }
        const QStringList parts = QString::fromUtf8(url).mid(1).split(QLatin1Char('/'));
        QStringList path;
        for (const QString& part : parts)
            path << QUrl::fromPercentEncoding(part.toUtf8());
        return route(server, request, connection, url, method, path);
    }

    static MHD_Result route(Web_server& server, Request& request, MHD_Connection* connection, const char* url,
                            const char* method, const QStringList& path)
    {
        const QString name = QLatin1Char('/') + path.join(QLatin1Char('/'));
        const bool read =
            std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 || std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
        const auto reply = [&](const Web_reply& r) { return send(connection, method, url, r); };
        if (const auto file = server.page.find(name); file != server.page.end())
            return reply(read ? file->second : not_allowed(read_methods));
        if (name == QLatin1String("/metrics")) {
            if (!read)
                return reply(not_allowed(read_methods));
            Web_reply metrics;
            metrics.body = QByteArray::fromStdString(prometheus::TextSerializer().Serialize(server.registry.Collect()));
            metrics.type = "text/plain; version=0.0.4; charset=utf-8";
            return reply(metrics);
        }
        if (name == QLatin1String("/api/events"))
            return read ? start_stream(server, request, connection, url, method) : reply(not_allowed(read_methods));
        if (path.size() < 2 || path.size() > 4 || path[0] != QLatin1String("api") || path[1] != QLatin1String("boxes"))
            return reply(text(MHD_HTTP_NOT_FOUND, QStringLiteral("Not found: see man tavolinkctl for the paths")));
        if (path.size() == 2)
            return reply(read ? json(server.boxes.all(server.writable())) : not_allowed(read_methods));
        const int box = server.boxes.find(path[2]);
        const QString what = path.value(3);
        if (path.size() == 4 && what != QLatin1String("settings") && what != QLatin1String("reset-errors"))
            return reply(text(MHD_HTTP_NOT_FOUND, QStringLiteral("Not found: see man tavolinkctl for the paths")));
        if (box < 0)
            return reply(write_outcome(MHD_HTTP_NOT_FOUND, QStringLiteral("no such box"),
                                       QStringLiteral("no --port of this monitor is %1").arg(path[2])));
        if (path.size() == 3)
            return reply(read ? json(server.boxes.box(box)) : not_allowed(read_methods));
        if (what == QLatin1String("reset-errors")) {
            if (std::strcmp(method, MHD_HTTP_METHOD_POST) != 0)
                return reply(not_allowed(MHD_HTTP_METHOD_POST));
            request.what = Web_boxes::Write::reset_errors;
        } else if (read) {
            Web_reply file;
            file.body = server.boxes.settings_file(box);
            if (file.body.isEmpty())
                file = text(MHD_HTTP_SERVICE_UNAVAILABLE,
                            QStringLiteral("The box has sent no status frame with its settings yet"));
            return reply(file);
        } else if (std::strcmp(method, MHD_HTTP_METHOD_PUT) != 0) {
            return reply(not_allowed("GET, HEAD, PUT"));
        }
        request.box = box;
        return start_write(server, request, connection, url, method);
    }

    // Refused unless a user logged in, with JSON, from this server's own page or no page at all.
    static MHD_Result start_write(Web_server& server, Request& request, MHD_Connection* connection, const char* url,
                                  const char* method)
    {
        const auto refuse = [&](unsigned status, const QString& why) {
            return send(connection, method, url, write_outcome(status, QStringLiteral("refused"), why));
        };
        if (!server.writable())
            return refuse(MHD_HTTP_FORBIDDEN,
                          server.config ? QStringLiteral("writes need logins, and the web configuration names no users")
                                        : QStringLiteral("writes need logins: start the monitor with --web-config"));
        const QByteArray type = header(connection, MHD_HTTP_HEADER_CONTENT_TYPE).trimmed().toLower();
        if (type != "application/json" && !type.startsWith("application/json;"))
            return refuse(MHD_HTTP_UNSUPPORTED_MEDIA_TYPE,
                          QStringLiteral("a write takes a body of type application/json"));
        // A browser names the page a request comes from; another site's page may not write here.
        const QByteArray origin = header(connection, MHD_HTTP_HEADER_ORIGIN);
        const QByteArray own = (server.serving && server.serving->tls() ? "https://" : "http://")
            + header(connection, MHD_HTTP_HEADER_HOST);
        if (!origin.isEmpty() && origin != own)
            return refuse(
                MHD_HTTP_FORBIDDEN,
                QStringLiteral("a page of another site (%1) may not write here").arg(QString::fromUtf8(origin)));
        request.kind = Request::Kind::write;
        return MHD_YES;
    }

    // A stream has its own bound and leaves the requests' count, so that open pages never hold up a scrape.
    static MHD_Result start_stream(Web_server& server, Request& request, MHD_Connection* connection, const char* url,
                                   const char* method)
    {
        if (server.streaming >= Web_server::streams) {
            Web_reply busy = text(MHD_HTTP_SERVICE_UNAVAILABLE,
                                  QStringLiteral("Busy: %1 event streams are open").arg(Web_server::streams));
            busy.retry_after = 5;
            return send(connection, method, url, busy);
        }
        auto* stream = new Stream{&server, connection, 0, {}, 0};
        MHD_Response* response =
            MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &read_stream, stream, &close_stream);
        if (!response) {
            delete stream;
            return MHD_NO;
        }
        ++server.streaming;
        --server.answering;
        request.counted = false;
        request.kind = Request::Kind::stream;
        qCDebug(lc_ctl_http) << QString::fromLatin1(method) << QString::fromUtf8(url) << MHD_HTTP_OK << "stream";
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
        MHD_destroy_response(response); // the stream is freed with it, once the connection is done
        return queued;
    }

    static ssize_t read_stream(void* stream_pointer, uint64_t, char* buffer, size_t size)
    {
        Stream& stream = *static_cast<Stream*>(stream_pointer);
        Web_server& server = *stream.server;
        if (stream.sent >= stream.data.size()) {
            std::unique_lock<std::mutex> guard(server.lock);
            if (server.stopping)
                return MHD_CONTENT_READER_END_OF_STREAM;
            if (stream.number == server.event_number) {
                // Resumed by the next event; suspended, it costs nothing meanwhile.
                MHD_suspend_connection(stream.connection);
                server.waiting.push_back(stream.connection);
                return 0;
            }
            const bool first = stream.number == 0;
            stream.number = server.event_number;
            stream.data = "data: " + server.event + "\n\n";
            guard.unlock();
            if (first) // the boxes now, rather than as of the last event; and how soon to come back
                stream.data = "retry: 1000\ndata: "
                    + QJsonDocument(server.boxes.all(server.writable())).toJson(QJsonDocument::Compact) + "\n\n";
            stream.sent = 0;
        }
        const size_t count = std::min(size, static_cast<size_t>(stream.data.size() - stream.sent));
        std::memcpy(buffer, stream.data.constData() + stream.sent, count);
        stream.sent += static_cast<int>(count);
        return static_cast<ssize_t>(count);
    }

    static void close_stream(void* stream_pointer)
    {
        auto* stream = static_cast<Stream*>(stream_pointer);
        Web_server& server = *stream->server;
        {
            const std::lock_guard<std::mutex> guard(server.lock);
            server.waiting.erase(std::remove(server.waiting.begin(), server.waiting.end(), stream->connection),
                                 server.waiting.end());
        }
        --server.streaming;
        delete stream;
    }

    static void completed(void* server_pointer, MHD_Connection*, void** request_pointer, MHD_RequestTerminationCode)
    {
        auto* request = static_cast<Request*>(*request_pointer);
        if (request && request->counted)
            --static_cast<Web_server*>(server_pointer)->answering;
        delete request;
        *request_pointer = nullptr;
    }
};

Web_server::Web_server(const prometheus::Registry& registry, Web_boxes& boxes, Web_config* config)
    : registry(registry)
    , boxes(boxes)
    , config(config)
{
    const std::pair<const char*, const char*> files[] = {{"index.html", "text/html; charset=utf-8"},
                                                         {"page.css", "text/css; charset=utf-8"},
                                                         {"page.js", "text/javascript; charset=utf-8"}};
    for (const auto& [file, type] : files) {
        QFile resource(QStringLiteral(":/page/") + QLatin1String(file));
        resource.open(QIODevice::ReadOnly);
        Web_reply& reply = page[QStringLiteral("/") + QLatin1String(file)];
        reply.body = resource.readAll();
        reply.type = type;
    }
    page[QStringLiteral("/")] = page[QStringLiteral("/index.html")];
    connect(&ticker, &QTimer::timeout, this, &Web_server::tick);
}

Web_server::~Web_server()
{
    stop();
}

bool Web_server::writable() const
{
    return config && !config->settings()->users.empty();
}

std::optional<Failure> Web_server::listen(const QString& address)
{
    QString reason;
    const int fd = listening_socket(address, reason);
    if (fd >= 0) {
        if (const std::optional<Failure> failure = start(fd, config ? config->settings() : nullptr)) {
            close(fd);
            reason = failure->message;
        }
    }
    if (!daemon)
        return Failure{exit_status::listen, QStringLiteral("cannot listen on %1: %2").arg(address, reason)};
    ticker.start(event_ms);
    return std::nullopt;
}

std::optional<Failure> Web_server::start(int fd, const std::shared_ptr<const Web_config::Settings>& settings)
{
    const bool tls = settings && settings->tls();
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, fd, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, idle_seconds, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, connections, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, per_address, nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Web_callbacks::completed), this},
        {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&keep_escaped), nullptr},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(settings->key.constData())});
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(settings->cert.constData())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    daemon =
        MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | (tls ? MHD_USE_TLS : 0), 0, nullptr,
                         nullptr, &Web_callbacks::answer, this, MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (!daemon)
        return Failure{exit_status::listen,
                       tls ? QStringLiteral("the HTTPS server did not start: are the "
                                            "certificate and key a pair, in PEM?")
                           : QStringLiteral("the HTTP server did not start")};
    serving = settings; // the daemon reads its certificate and key from here
    return std::nullopt;
}

void Web_server::stop()
{
    if (!daemon)
        return;
    std::vector<MHD_Connection*> suspended;
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        suspended.swap(waiting);
        for (auto& [id, pending] : writes) {
            pending.request->reply = write_outcome(
                MHD_HTTP_SERVICE_UNAVAILABLE, QStringLiteral("stopped"),
                QStringLiteral("the server stopped before the box answered; the write may still reach the box"));
            suspended.push_back(pending.connection);
        }
        writes.clear();
    }
    // The daemon stops only with no connection suspended.
    for (MHD_Connection* connection : suspended)
        MHD_resume_connection(connection);
    MHD_stop_daemon(daemon);
    daemon = nullptr;
    const std::lock_guard<std::mutex> guard(lock);
    stopping = false;
}

void Web_server::tick()
{
    const bool second = ++ticks % (1000 / event_ms) == 0;
    if (config && second && config->reload_if_changed()) {
        const auto now = config->settings();
        if (!config->fault().isEmpty())
            complain(config->fault());
        else if (now->tls() != serving->tls() || now->cert != serving->cert || now->key != serving->key) {
            // Connections open now close; the listening socket stays, so no client is refused meanwhile.
            const int fd = MHD_quiesce_daemon(daemon);
            const auto last = serving;
            stop();
            if (const std::optional<Failure> failure = start(fd, now)) {
                complain(QStringLiteral("%1; serving with the certificate read before").arg(failure->message));
                if (const std::optional<Failure> again = start(fd, last)) {
                    complain(again->message);
                    close(fd);
                }
            }
        }
    }
    boxes.refresh();
    const quint64 changes = boxes.changes();
    if (changes == published && !second)
        return;
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (waiting.empty())
            return;
    }
    published = changes;
    const QByteArray data = QJsonDocument(boxes.all(writable())).toJson(QJsonDocument::Compact);
    std::vector<MHD_Connection*> woken;
    {
        const std::lock_guard<std::mutex> guard(lock);
        event = data;
        ++event_number;
        woken.swap(waiting);
    }
    for (MHD_Connection* connection : woken)
        MHD_resume_connection(connection);
}
