#pragma once

#include "tenantleases.h"
#include "workerthreadpool.h"

#include <QObject>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>

class DBManager;

// The part of a plug-in's scheduler that lets it run beside other hosts and
// among thousands of tenants: the tenant leases, the renewal and the quick
// look for orphaned tenants on timers of their own, and the thread pool its
// workers share. The plug-in keeps its workers and says what to do:
//   served()      the tenants that have a worker here;
//   serve(token)  give the tenant a worker after take(token); it was tested
//                 by the scan, or is an orphan that had a worker on its last
//                 host;
//   lose(token)   the lease is gone: retire the tenant's worker.
//   quiet(token)  optional: the tenant's worker has nothing in flight now,
//                 so it can be handed to another host without a pause.
//
// Hosts share the tenants evenly: each takes at most its fair share (see
// TenantLeases::canTake()), and a host over its share hands a few quiet
// tenants per renewal over to the others while one of them has room.
//
// Lives on the plug-in's thread. Destroy it after the plug-in's workers have
// ended (shutdown()), so that no worker asks isCurrent() of a lease that went.
class TenantSharing : public QObject
{
    Q_OBJECT

public:
    TenantSharing(const QString &plugin, const QString &threadPrefix, QObject *parent = nullptr);
    ~TenantSharing() override;

    // Reads the host's limits and prepares the lease table once; false while
    // no manager is set.
    bool setUp(DBManager *manager);

    std::function<QStringList()> served;
    std::function<void(const QString &)> serve;
    std::function<void(const QString &)> lose;
    std::function<bool(const QString &)> quiet;

    // True when this host may serve the tenant now (lease taken or renewed).
    bool take(const QString &token);
    // For a tenant's worker: whether its work is still covered by the lease
    // of that tenant.
    std::function<bool()> leaseCheck(const QString &token) const;

    WorkerThreadPool *pool() { return &threads; }
    TenantLeases *leases() const { return tenantLeases.get(); }

    // Renewal every third of the lease, the look for orphans every half.
    void startTimers();
    void stopTimers();
    // Ends every worker thread, then marks this host's leases expired so that
    // other hosts take the tenants over at their next look.
    void shutdown();

public slots:
    void renew();
    void adoptOrphans();
    // Tenants served and leases held, for the host's metrics.
    void publishMetrics();

private:
    void handOver(int count);

    QString plugin;
    // Tenants handed over lately are not adopted back at once.
    QHash<QString, qint64> handedOver;
    WorkerThreadPool threads;
    std::unique_ptr<TenantLeases> tenantLeases;
    QTimer renewTimer;
    QTimer orphanTimer;
    QTimer metricsTimer;
    int leasesHeld = 0;
};
