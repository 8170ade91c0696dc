#include "tenantleases.h"

#include "commonlogging.h"
#include "dbmanager.h"
#include "sqlescape.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>

namespace {
const QString kCreateTable = QStringLiteral("CREATE TABLE IF NOT EXISTS `tenant_leases` ("
                                            " token VARCHAR(64) NOT NULL,"
                                            " plugin VARCHAR(32) NOT NULL,"
                                            " holder VARCHAR(160) NOT NULL DEFAULT '',"
                                            " expires BIGINT NOT NULL DEFAULT 0,"
                                            " PRIMARY KEY (token, plugin),"
                                            " KEY tenant_leases_holder (plugin, holder),"
                                            " KEY tenant_leases_expires (plugin, expires)"
                                            ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4");

// One statement takes a free or expired lease, or extends our own; the row
// lock makes two hosts that try at once take turns, and the second one then
// finds the lease held. MariaDB assigns left to right, so `expires` already
// sees the holder the statement just decided on.
const QString kTake = QStringLiteral(
    "INSERT INTO `tenant_leases` (token, plugin, holder, expires) VALUES ('%1', '%2', '%3', "
    "UNIX_TIMESTAMP() + %4) "
    "ON DUPLICATE KEY UPDATE "
    "holder = IF(holder = VALUES(holder) OR expires < UNIX_TIMESTAMP(), VALUES(holder), holder), "
    "expires = IF(holder = VALUES(holder), VALUES(expires), expires)");
const QString kHolderOf
    = QStringLiteral("SELECT holder FROM `tenant_leases` WHERE token = '%1' AND plugin = '%2'");
const QString kRenew = QStringLiteral("UPDATE `tenant_leases` SET expires = UNIX_TIMESTAMP() + %3 "
                                      "WHERE plugin = '%1' AND holder = '%2'");
const QString kHeld
    = QStringLiteral("SELECT token FROM `tenant_leases` WHERE plugin = '%1' AND holder = '%2'");
// Only enabled schemas: a disabled tenant's old lease is nobody's work.
const QString kOrphans = QStringLiteral(
    "SELECT l.token FROM `tenant_leases` l JOIN `schemas` s ON s.token = l.token AND s.status = 1 "
    "WHERE l.plugin = '%1' AND l.expires < UNIX_TIMESTAMP() ORDER BY l.expires LIMIT %2");
// A tenant this host leaves to others: a free row their orphan look finds.
const QString kPark = QStringLiteral(
    "INSERT IGNORE INTO `tenant_leases` (token, plugin, holder, expires) VALUES ('%1', '%2', '', 0)");
// Every live host announces itself beside its leases, with the same expiry.
const QString kCreateHosts = QStringLiteral("CREATE TABLE IF NOT EXISTS `tenant_hosts` ("
                                            " plugin VARCHAR(32) NOT NULL,"
                                            " holder VARCHAR(160) NOT NULL,"
                                            " expires BIGINT NOT NULL DEFAULT 0,"
                                            " PRIMARY KEY (plugin, holder)"
                                            ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4");
const QString kHeartbeat = QStringLiteral(
    "INSERT INTO `tenant_hosts` (plugin, holder, expires) VALUES ('%1', '%2', UNIX_TIMESTAMP() + %3) "
    "ON DUPLICATE KEY UPDATE expires = VALUES(expires)");
const QString kForgetHosts = QStringLiteral(
    "DELETE FROM `tenant_hosts` WHERE plugin = '%1' AND expires < UNIX_TIMESTAMP() - 86400");
const QString kLiveHosts = QStringLiteral(
    "SELECT holder FROM `tenant_hosts` WHERE plugin = '%1' AND expires >= UNIX_TIMESTAMP()");
const QString kLeaveHosts
    = QStringLiteral("DELETE FROM `tenant_hosts` WHERE plugin = '%1' AND holder = '%2'");
// Held leases per holder; free and expired ones count as tenants to share.
const QString kSpread = QStringLiteral(
    "SELECT IF(l.expires >= UNIX_TIMESTAMP(), l.holder, ''), COUNT(*) FROM `tenant_leases` l "
    "JOIN `schemas` s ON s.token = l.token AND s.status = 1 WHERE l.plugin = '%1' GROUP BY 1");
// Released leases stay as expired rows, so that other hosts find them at once.
const QString kRelease = QStringLiteral(
    "UPDATE `tenant_leases` SET holder = '', expires = 0 WHERE plugin = '%1' AND holder = '%2'%3");

// Room left between our own idea of a lease's end and the database's: renewals
// take a round trip, and the host's monotonic clock may run a little fast.
const qint64 kSafetyMs = 5000;
const int kHeartbeatLeadSeconds = 2;

qint64 monotonicMs()
{
    return QDeadlineTimer::current().deadline();
}
} // namespace

TenantLeases::TenantLeases(DBManager *manager, const QString &plugin)
    : manager(manager)
    , plugin(plugin)
{
    holderId = QStringLiteral("%1:%2:%3:%4")
                   .arg(QSysInfo::machineHostName().left(100))
                   .arg(QCoreApplication::applicationPid())
                   .arg(plugin)
                   .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    if (manager)
        seconds = manager->leaseSeconds();
}

void TenantLeases::setLeaseSeconds(int value)
{
    seconds = qMax(value, 10);
}

bool TenantLeases::prepare()
{
    if (!manager || !manager->isInfoDB())
        return false;
    enabled = manager->withInfoDB([](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (!query.exec(kCreateTable)) {
            qCWarning(lcCommon)
                << "TenantLeases::prepare() - tenants are not shared with other hosts, ERROR:"
                << query.lastError().text();
            return false;
        }
        // Without the heartbeats every host counts itself alone: it takes
        // what is free, as a single host does.
        if (!query.exec(kCreateHosts))
            qCWarning(lcCommon)
                << "TenantLeases::prepare() - tenants are not spread evenly over the hosts, ERROR:"
                << query.lastError().text();
        return true;
    });
    if (enabled)
        refreshShares();
    return enabled;
}

void TenantLeases::confirmed()
{
    validUntilMs.store(monotonicMs() + qint64(seconds) * 1000 - kSafetyMs);
}

bool TenantLeases::isCurrent() const
{
    return !enabled || monotonicMs() < validUntilMs.load();
}

bool TenantLeases::isCurrent(const QString &token) const
{
    if (!enabled)
        return true;
    if (!isCurrent())
        return false;
    QMutexLocker lock(&heldMutex);
    return heldTokens.contains(token);
}

void TenantLeases::setHeld(const QSet<QString> &tokens)
{
    QMutexLocker lock(&heldMutex);
    heldTokens = tokens;
}

int TenantLeases::heldCount() const
{
    QMutexLocker lock(&heldMutex);
    return heldTokens.size();
}

int TenantLeases::liveHosts() const
{
    return live;
}

int TenantLeases::fairShare() const
{
    return (tenants + live - 1) / live;
}

bool TenantLeases::canTake() const
{
    if (live <= 1)
        return true;
    const int mine = heldCount();
    const int share = fairShare();
    if (mine < share)
        return true;
    for (auto it = perHost.cbegin(); it != perHost.cend(); ++it) {
        if (it.key() != holderId && it.value() < share)
            return false;
    }
    // Hosts that just joined show in the picture with no lease at all.
    if (perHost.size() < live)
        return false;
    return mine < share + qMax(1, share / 10);
}

int TenantLeases::surplus() const
{
    if (live <= 1)
        return 0;
    const int share = fairShare();
    const int mine = heldCount();
    if (mine <= share)
        return 0;
    // Only for a host that has room: handing over to nobody would just
    // move tenants among the hosts that are full already.
    bool starving = perHost.size() < live;
    for (auto it = perHost.cbegin(); it != perHost.cend(); ++it) {
        if (it.key() != holderId && it.value() < share - 1)
            starving = true;
    }
    return starving ? mine - share : 0;
}

bool TenantLeases::refreshShares()
{
    if (!enabled)
        return false;
    QSet<QString> liveSet;
    QHash<QString, int> spread;
    int total = 0;
    const bool answered = manager->withInfoDB([&](QSqlDatabase &db) {
        const QString who = SqlEscape::string(db, holderId);
        QSqlQuery query(db);
        // A table that could not be made leaves this host counting itself alone.
        // The heartbeat ends a little before the leases it came with, so that a
        // host that died no longer counts when its tenants become free.
        if (!query.exec(kHeartbeat.arg(plugin, who).arg(qMax(1, seconds - kHeartbeatLeadSeconds)))
            || !query.exec(kForgetHosts.arg(plugin))
            || !query.exec(kLiveHosts.arg(plugin)))
            return false;
        while (query.next())
            liveSet.insert(query.value(0).toString());
        if (!query.exec(kSpread.arg(plugin)))
            return false;
        while (query.next()) {
            const int count = query.value(1).toInt();
            total += count;
            const QString holder = query.value(0).toString();
            if (!holder.isEmpty() && liveSet.contains(holder))
                spread.insert(holder, count);
        }
        return true;
    });
    if (!answered)
        return false;
    liveSet.insert(holderId);
    // Live hosts that hold nothing yet still count, with no leases.
    for (const QString &holder : qAsConst(liveSet)) {
        if (!spread.contains(holder))
            spread.insert(holder, 0);
    }
    live = liveSet.size();
    tenants = total;
    perHost = spread;
    return true;
}

bool TenantLeases::take(const QString &token)
{
    if (!enabled)
        return true;
    bool ours = false;
    {
        QMutexLocker lock(&heldMutex);
        ours = heldTokens.contains(token);
    }
    if (!ours && !canTake()) {
        park(token);
        return false;
    }
    bool held = false;
    bool inserted = false;
    manager->withInfoDB([&](QSqlDatabase &db) {
        const QString key = SqlEscape::string(db, token);
        const QString who = SqlEscape::string(db, holderId);
        QSqlQuery query(db);
        if (!query.exec(kTake.arg(key, plugin, who).arg(seconds))) {
            qCWarning(lcCommon) << "TenantLeases::take(" << token
                                << ") - ERROR:" << query.lastError().text();
            return false;
        }
        inserted = query.numRowsAffected() == 1;
        if (!query.exec(kHolderOf.arg(key, plugin))) {
            qCWarning(lcCommon) << "TenantLeases::take(" << token
                                << ") - ERROR:" << query.lastError().text();
            return false;
        }
        held = query.next() && query.value(0).toString() == holderId;
        return true;
    });
    if (inserted)
        ++tenants;
    if (held) {
        {
            QMutexLocker lock(&heldMutex);
            heldTokens.insert(token);
        }
        if (perHost.contains(holderId))
            perHost[holderId] = heldCount();
        if (validUntilMs.load() == 0)
            confirmed();
    }
    return held;
}

void TenantLeases::park(const QString &token)
{
    manager->withInfoDB([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (!query.exec(kPark.arg(SqlEscape::string(db, token), plugin))) {
            qCWarning(lcCommon) << "TenantLeases::take(" << token
                                << ") - ERROR:" << query.lastError().text();
            return false;
        }
        if (query.numRowsAffected() == 1)
            ++tenants;
        return true;
    });
}

QSet<QString> TenantLeases::renew(bool *ok)
{
    QSet<QString> held;
    if (ok)
        *ok = true;
    if (!enabled)
        return held;
    const bool answered = manager->withInfoDB([&](QSqlDatabase &db) {
        const QString who = SqlEscape::string(db, holderId);
        QSqlQuery query(db);
        if (!query.exec(kRenew.arg(plugin, who).arg(seconds))
            || !query.exec(kHeld.arg(plugin, who))) {
            qCWarning(lcCommon) << "TenantLeases::renew() - ERROR:" << query.lastError().text();
            return false;
        }
        while (query.next())
            held.insert(query.value(0).toString());
        return true;
    });
    if (answered) {
        // Before anybody retires a worker: a tenant taken over must not be
        // worked on from here one moment longer.
        setHeld(held);
        confirmed();
        refreshShares();
    }
    if (ok)
        *ok = answered;
    return held;
}

QStringList TenantLeases::orphans(unsigned limit)
{
    QStringList tokens;
    if (!enabled)
        return tokens;
    manager->withInfoDB([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (!query.exec(kOrphans.arg(plugin).arg(limit))) {
            qCWarning(lcCommon) << "TenantLeases::orphans() - ERROR:" << query.lastError().text();
            return false;
        }
        while (query.next())
            tokens << query.value(0).toString();
        return true;
    });
    return tokens;
}

void TenantLeases::release(const QString &token)
{
    if (!enabled)
        return;
    {
        QMutexLocker lock(&heldMutex);
        heldTokens.remove(token);
    }
    manager->withInfoDB([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        const QString only = QStringLiteral(" AND token = '%1'").arg(SqlEscape::string(db, token));
        if (query.exec(kRelease.arg(plugin, SqlEscape::string(db, holderId), only)))
            return true;
        qCWarning(lcCommon) << "TenantLeases::release(" << token
                            << ") - ERROR:" << query.lastError().text();
        return false;
    });
}

void TenantLeases::releaseAll()
{
    if (!enabled)
        return;
    manager->withInfoDB([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        const QString who = SqlEscape::string(db, holderId);
        query.exec(kLeaveHosts.arg(plugin, who));
        if (query.exec(kRelease.arg(plugin, who, QString())))
            return true;
        qCWarning(lcCommon) << "TenantLeases::releaseAll() - ERROR:" << query.lastError().text();
        return false;
    });
    setHeld({});
    validUntilMs.store(0);
}
