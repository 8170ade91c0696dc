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
// Released leases stay as expired rows, so that other hosts find them at once.
const QString kRelease = QStringLiteral(
    "UPDATE `tenant_leases` SET holder = '', expires = 0 WHERE plugin = '%1' AND holder = '%2'%3");

// Room left between our own idea of a lease's end and the database's: renewals
// take a round trip, and the host's monotonic clock may run a little fast.
const qint64 kSafetyMs = 5000;

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
    enabled
        = manager->withInfoDB(
            [](QSqlDatabase &db) {
                QSqlQuery query(db);
                if (query.exec(kCreateTable))
                    return true;
                qCWarning(lcCommon)
                    << "TenantLeases::prepare() - tenants are not shared with other hosts, ERROR:"
                    << query.lastError().text();
                return false;
            });
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

bool TenantLeases::take(const QString &token)
{
    if (!enabled)
        return true;
    bool held = false;
    manager->withInfoDB([&](QSqlDatabase &db) {
        const QString key = SqlEscape::string(db, token);
        const QString who = SqlEscape::string(db, holderId);
        QSqlQuery query(db);
        if (!query.exec(kTake.arg(key, plugin, who).arg(seconds))
            || !query.exec(kHolderOf.arg(key, plugin))) {
            qCWarning(lcCommon) << "TenantLeases::take(" << token
                                << ") - ERROR:" << query.lastError().text();
            return false;
        }
        held = query.next() && query.value(0).toString() == holderId;
        return true;
    });
    if (held && validUntilMs.load() == 0)
        confirmed();
    return held;
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
    if (answered)
        confirmed();
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
        if (query.exec(kRelease.arg(plugin, SqlEscape::string(db, holderId), QString())))
            return true;
        qCWarning(lcCommon) << "TenantLeases::releaseAll() - ERROR:" << query.lastError().text();
        return false;
    });
    validUntilMs.store(0);
}
