#pragma once

#include "healthcheck.h"

#include <QString>

struct mg_context;
struct mg_connection;
class MetricsRegistry;

// The host's small HTTP listener (civetweb) on a loopback address:
// GET /metrics answers the registry in the Prometheus text format, GET
// /healthz 200 or 503 with a short JSON reason. Requests are served on
// civetweb's own threads, which only read the registry.
class MetricsServer
{
public:
    MetricsServer(const MetricsRegistry *registry, HealthCheck health);
    ~MetricsServer();
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;

    // listen: "host:port". False with civetweb's reason (a port in use).
    bool start(const QString &listen, QString *error);
    void stop();
    bool isRunning() const { return context != nullptr; }

private:
    static int serveMetrics(mg_connection *connection, void *self);
    static int serveHealth(mg_connection *connection, void *self);
    static int reply(
        mg_connection *connection, int status, const char *type, const QByteArray &body);

    const MetricsRegistry *registry;
    HealthCheck health;
    mg_context *context = nullptr;
};
