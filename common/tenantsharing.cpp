#include "tenantsharing.h"

#include "commonlogging.h"
#include "dbmanager.h"
#include "metricsregistry.h"

#include <QDateTime>

#include <QDateTime>

namespace {
// Orphans adopted in one look; the rest wait for the next one.
const unsigned kOrphansPerLook = 200;
// A tenant handed over stays with the others for two leases at least.
const int kHandedOverLeases = 2;
} // namespace

TenantSharing::TenantSharing(const QString &plugin, const QString &threadPrefix, QObject *parent)
    : QObject(parent)
    , plugin(plugin)
    , threads(threadPrefix, 16)
{
    connect(&renewTimer, &QTimer::timeout, this, &TenantSharing::renew);
    connect(&orphanTimer, &QTimer::timeout, this, &TenantSharing::adoptOrphans);
    connect(&metricsTimer, &QTimer::timeout, this, &TenantSharing::publishMetrics);
    metricsTimer.start(5000);
}

void TenantSharing::publishMetrics()
{
    const MetricsRegistry::Labels labels { { "plugin", plugin.toUtf8() } };
    MetricsRegistry::gauge("yxa_tenants_served", labels, served ? served().size() : 0);
    MetricsRegistry::gauge("yxa_tenant_leases_held", labels, leasesHeld);
}

TenantSharing::~TenantSharing()
{
    shutdown();
}

bool TenantSharing::setUp(DBManager *manager)
{
    if (tenantLeases)
        return true;
    if (!manager)
        return false;
    // A third of the budget for each plug-in's threads: a worker holds at
    // most one connection, each mail thread brings Qt's HTTP thread along,
    // and the scan's own threads come on top; the host stays within twice
    // the budget.
    threads.setMaxThreads(qMax(2, manager->maxConnections() / 3));
    tenantLeases = std::make_unique<TenantLeases>(manager, plugin);
    tenantLeases->prepare();
    return true;
}

bool TenantSharing::take(const QString &token)
{
    return !tenantLeases || tenantLeases->take(token);
}

std::function<bool()> TenantSharing::leaseCheck(const QString &token) const
{
    const TenantLeases *leases = tenantLeases.get();
    if (!leases || !leases->isEnabled())
        return {};
    return [leases, token] { return leases->isCurrent(token); };
}

void TenantSharing::startTimers()
{
    if (!tenantLeases || !tenantLeases->isEnabled())
        return;
    const int seconds = tenantLeases->leaseSeconds();
    renewTimer.start(seconds * 1000 / 3);
    orphanTimer.start(seconds * 1000 / 2);
}

void TenantSharing::stopTimers()
{
    renewTimer.stop();
    orphanTimer.stop();
}

void TenantSharing::renew()
{
    // Without leasing every tenant is this host's: nothing can be lost.
    if (!tenantLeases || !tenantLeases->isEnabled() || !served || !lose)
        return;
    bool ok = false;
    const QSet<QString> held = tenantLeases->renew(&ok);
    if (!ok)
        return;
    leasesHeld = held.size();
    MetricsRegistry::gauge("yxa_lease_renewal_timestamp_seconds", { { "plugin", plugin.toUtf8() } },
        double(QDateTime::currentSecsSinceEpoch()));
    // Tenants another host took over while this one could not renew in time.
    const QStringList serving = served();
    for (const QString &token : serving) {
        if (!held.contains(token)) {
            qCWarning(lcCommon,
                "TenantSharing::renew() - %s: tenant %s is served by another host now",
                qUtf8Printable(plugin), qUtf8Printable(token));
            lose(token);
        }
    }
    handOver(tenantLeases->surplus());
}

void TenantSharing::handOver(int surplus)
{
    if (surplus <= 0)
        return;
    // A few at a time: the picture of the other hosts is a renewal old, and
    // tenants that move back and forth would cost more than a small imbalance.
    int count = qMin(surplus, qMax(3, (surplus + 1) / 2));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QStringList serving = served();
    for (const QString &token : serving) {
        if (count == 0)
            break;
        if (quiet && !quiet(token))
            continue;
        qCInfo(lcCommon,
            "TenantSharing::renew() - %s: tenant %s handed over, %d live hosts share the tenants",
            qUtf8Printable(plugin), qUtf8Printable(token), tenantLeases->liveHosts());
        // The lease goes first: the worker claims nothing more, and what it
        // has in flight is settled under its own row claims.
        tenantLeases->release(token);
        lose(token);
        handedOver.insert(token, now);
        --count;
    }
}

void TenantSharing::adoptOrphans()
{
    if (!tenantLeases || !serve || !served)
        return;
    const QStringList orphans = tenantLeases->orphans(kOrphansPerLook);
    if (orphans.isEmpty())
        return;
    tenantLeases->refreshShares();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 keepMs = qint64(tenantLeases->leaseSeconds()) * 1000 * kHandedOverLeases;
    for (auto it = handedOver.begin(); it != handedOver.end();)
        it = now - it.value() > keepMs ? handedOver.erase(it) : std::next(it);
    const QStringList serving = served();
    for (const QString &token : orphans) {
        if (serving.contains(token))
            continue;
        // Taken back only by a host that has dropped below its share since.
        if (handedOver.contains(token) && tenantLeases->heldCount() >= tenantLeases->fairShare())
            continue;
        // serve() takes the lease, or leaves it to a host with room.
        if (!tenantLeases->canTake())
            break;
        serve(token);
    }
}

void TenantSharing::shutdown()
{
    stopTimers();
    threads.shutdown();
    // No worker is left to ask the leases: they can go, once.
    if (tenantLeases) {
        tenantLeases->releaseAll();
        tenantLeases.reset();
    }
}
