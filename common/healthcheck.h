#pragma once

#include <QByteArray>
#include <QStringList>

class MetricsRegistry;

// Whether the host is healthy, judged from what its metrics say: the
// information database answered within the last minute, the last pass over
// the schemas could read them, and every plug-in renewed its tenant leases
// within a lease. Checks without data (no information database, leasing
// off, no scan yet) pass. A plain value: the HTTP server's threads each
// evaluate a copy.
struct HealthCheck
{
    bool expectInfoDB = false;
    QStringList plugins;
    int leaseSeconds = 60;
    int infoDBWindowSeconds = 60;

    struct Result
    {
        bool healthy = true;
        QStringList reasons;

        // {"status":"ok"} or {"status":"unhealthy","reasons":[...]}
        QByteArray json() const;
    };

    Result evaluate(const MetricsRegistry &registry, qint64 nowSeconds) const;
};
