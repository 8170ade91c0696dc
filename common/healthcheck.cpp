#include "healthcheck.h"

#include "metricsregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

QByteArray HealthCheck::Result::json() const
{
    QJsonObject object;
    object.insert(
        QStringLiteral("status"), healthy ? QStringLiteral("ok") : QStringLiteral("unhealthy"));
    if (!healthy)
        object.insert(QStringLiteral("reasons"), QJsonArray::fromStringList(reasons));
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

HealthCheck::Result HealthCheck::evaluate(const MetricsRegistry &registry, qint64 nowSeconds) const
{
    Result result;
    const double none = std::nan("");
    if (expectInfoDB) {
        const double up = registry.value("yxa_info_db_up", {}, none);
        const double answered = registry.value("yxa_info_db_answer_timestamp_seconds", {}, none);
        if (std::isnan(up) || up < 1)
            result.reasons << QStringLiteral("the information database does not answer");
        else if (std::isnan(answered) || nowSeconds - answered > infoDBWindowSeconds)
            result.reasons << QStringLiteral("the information database has not answered for %1 s")
                                  .arg(std::isnan(answered) ? infoDBWindowSeconds
                                                            : qint64(nowSeconds - answered));
    }
    if (registry.value("yxa_schema_scan_success", {}, 1) < 1)
        result.reasons << QStringLiteral("the last scan could not read the schemas");
    for (const QString &plugin : plugins) {
        const double renewed = registry.value(
            "yxa_lease_renewal_timestamp_seconds", { { "plugin", plugin.toUtf8() } }, none);
        if (!std::isnan(renewed) && nowSeconds - renewed > leaseSeconds)
            result.reasons << QStringLiteral("%1: leases not renewed for %2 s")
                                  .arg(plugin)
                                  .arg(qint64(nowSeconds - renewed));
    }
    result.healthy = result.reasons.isEmpty();
    return result;
}
