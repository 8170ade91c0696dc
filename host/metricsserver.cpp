#include "metricsserver.h"

#include "metricsregistry.h"

#include <QDateTime>

#include <civetweb.h>

#include <cstring>

namespace {
bool isGet(mg_connection *connection)
{
    const char *method = mg_get_request_info(connection)->request_method;
    return std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0;
}
} // namespace

MetricsServer::MetricsServer(const MetricsRegistry *metrics, HealthCheck check)
    : registry(metrics)
    , health(std::move(check))
{
}

MetricsServer::~MetricsServer()
{
    stop();
}

bool MetricsServer::start(const QString &listen, QString *error)
{
    static const unsigned initialised = mg_init_library(0);
    Q_UNUSED(initialised)
    const QByteArray ports = listen.toUtf8();
    const char *options[] = { "listening_ports", ports.constData(), "num_threads", "2",
        "request_timeout_ms", "10000", "enable_keep_alive", "no", nullptr };
    mg_callbacks callbacks {};
    // civetweb would print its own complaint; the caller logs the reason.
    callbacks.log_message = [](const mg_connection *, const char *) { return 1; };
    mg_init_data init {};
    init.callbacks = &callbacks;
    init.user_data = this;
    init.configuration_options = options;
    mg_error_data failure {};
    char text[256] = {};
    failure.text = text;
    failure.text_buffer_size = sizeof text;
    context = mg_start2(&init, &failure);
    if (!context) {
        *error = QString::fromUtf8(text).trimmed();
        if (error->isEmpty())
            *error = QStringLiteral("cannot listen on %1").arg(listen);
        return false;
    }
    mg_set_request_handler(context, "/metrics$", &MetricsServer::serveMetrics, this);
    mg_set_request_handler(context, "/healthz$", &MetricsServer::serveHealth, this);
    return true;
}

void MetricsServer::stop()
{
    if (context)
        mg_stop(context);
    context = nullptr;
}

int MetricsServer::reply(
    mg_connection *connection, int status, const char *type, const QByteArray &body)
{
    const char *reason = status == 200 ? "OK"
        : status == 503                ? "Service Unavailable"
                                       : "Method Not Allowed";
    mg_printf(connection,
        "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nCache-Control: no-store\r\n"
        "Connection: close\r\n\r\n",
        status, reason, type, int(body.size()));
    if (std::strcmp(mg_get_request_info(connection)->request_method, "HEAD") != 0)
        mg_write(connection, body.constData(), size_t(body.size()));
    return status;
}

int MetricsServer::serveMetrics(mg_connection *connection, void *self)
{
    if (!isGet(connection))
        return reply(connection, 405, "text/plain", "GET only\n");
    const auto *server = static_cast<MetricsServer *>(self);
    return reply(connection, 200, "text/plain; version=0.0.4; charset=utf-8",
        server->registry->exposition());
}

int MetricsServer::serveHealth(mg_connection *connection, void *self)
{
    if (!isGet(connection))
        return reply(connection, 405, "text/plain", "GET only\n");
    const auto *server = static_cast<MetricsServer *>(self);
    const HealthCheck::Result result
        = server->health.evaluate(*server->registry, QDateTime::currentSecsSinceEpoch());
    return reply(connection, result.healthy ? 200 : 503, "application/json", result.json());
}
