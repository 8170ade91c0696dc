#include "queueinspector.h"

#include "dbschemerecord.h"
#include "sqlescape.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSet>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

namespace {
const QString kConnectOptions = QStringLiteral("MYSQL_CONNECT_TIMEOUT=5;MYSQL_OPT_READ_TIMEOUT=30");
const QString kAccounts = QStringLiteral(
    "SELECT token, name, user, pass FROM `schemas` WHERE status = 1%1 ORDER BY name, token");
const QString kHolders = QStringLiteral("SELECT token, plugin, holder FROM `tenant_leases` "
                                        "WHERE expires >= UNIX_TIMESTAMP() AND holder <> ''");
// One pass over the queue table; rows waiting for a retry are told apart by
// the plug-in's own table, which a tenant that never failed may not have.
const QString kQueue = QStringLiteral(
    "SELECT SUM(e.done IS NULL AND e.apiID IS NULL AND %1), SUM(e.done IS NULL AND e.apiID IS NULL "
    "AND NOT %1), SUM(e.done IS NULL AND e.apiID LIKE 'yxa-claim:%'), "
    "SUM(e.status = 'E' AND e.done >= UNIX_TIMESTAMP() - 86400), "
    "SUM(e.status = 'B' AND e.done >= UNIX_TIMESTAMP() - 86400), "
    "SUM(e.status = 'R' AND e.done >= UNIX_TIMESTAMP() - 86400), "
    "MIN(IF(e.done IS NULL AND e.apiID IS NULL, e.created, NULL)), "
    "MAX(IF(e.status = 'S', e.done, NULL)), UNIX_TIMESTAMP() FROM emails e%2");
const QString kRetryJoin = QStringLiteral(" LEFT JOIN email_retries r ON r.mid = e.mid");
// The queue table's own reset, kept to rows that are final.
const QString kReset = QStringLiteral(
    "UPDATE emails SET status = 'Q', done = NULL, apiID = NULL WHERE mid =%1 AND done IS NOT NULL");
const char kNoSuchTable[] = "1146";

// "host:pid" of a lease holder "host:pid:plugin:random".
QString hostOf(const QString &holder)
{
    return holder.section(QLatin1Char(':'), 0, 1);
}

QString ago(qint64 seconds)
{
    if (seconds < 0)
        return QStringLiteral("-");
    if (seconds < 120)
        return QStringLiteral("%1s").arg(seconds);
    if (seconds < 7200)
        return QStringLiteral("%1m").arg(seconds / 60);
    if (seconds < 172800)
        return QStringLiteral("%1h").arg(seconds / 3600);
    return QStringLiteral("%1d").arg(seconds / 86400);
}

QString line(const QString &text)
{
    int end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end) + QLatin1Char('\n');
}

QString fit(const QString &text, int width)
{
    return text.size() <= width ? text : text.left(width - 1) + QChar(0x2026);
}
} // namespace

QueueInspector::QueueInspector(const HostConfig &hostConfig)
    : config(hostConfig)
    , infoName(QStringLiteral("yxa.inspector.info"))
    , lanes(qBound(1, hostConfig.maxConnections, 8))
{
}

QueueInspector::~QueueInspector()
{
    if (QSqlDatabase::contains(infoName)) {
        QSqlDatabase::database(infoName, false).close();
        QSqlDatabase::removeDatabase(infoName);
    }
}

bool QueueInspector::openInfo(QString *error)
{
    if (!config.infoDb.isSet()) {
        *error = QStringLiteral("no information database is configured ([InfoDB] in host.ini)");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::contains(infoName) ? QSqlDatabase::database(infoName, false)
                                                       : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), infoName);
    if (db.isOpen())
        return true;
    db.setHostName(config.infoDb.host);
    db.setPort(config.infoDb.port);
    db.setDatabaseName(config.infoDb.database);
    db.setUserName(config.infoDb.user);
    db.setPassword(config.infoDb.password);
    db.setConnectOptions(kConnectOptions);
    if (db.open())
        return true;
    *error = QStringLiteral("the information database %1 on %2:%3 did not answer: %4")
                 .arg(config.infoDb.database, config.infoDb.host)
                 .arg(config.infoDb.port)
                 .arg(db.lastError().text());
    return false;
}

QList<QueueInspector::Account> QueueInspector::accounts(const QString &only, QString *error)
{
    QList<Account> result;
    if (!openInfo(error))
        return result;
    QSqlDatabase db = QSqlDatabase::database(infoName, false);
    QSqlQuery query(db);
    const QString filter = only.isNull()
        ? QString()
        : QStringLiteral(" AND (token = '%1' OR name = '%1')").arg(SqlEscape::string(db, only));
    if (!query.exec(kAccounts.arg(filter))) {
        *error = QStringLiteral("the tenants could not be read: %1").arg(query.lastError().text());
        return result;
    }
    while (query.next())
        result.append({ query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
            DBSchemeRecord::decodePassword(query.value(3)) });
    return result;
}

QMap<QString, QMap<QString, QString>> QueueInspector::leaseHolders()
{
    QMap<QString, QMap<QString, QString>> holders;
    QSqlQuery query(QSqlDatabase::database(infoName, false));
    // A single host without leases holds nothing to show.
    if (!query.exec(kHolders))
        return holders;
    while (query.next())
        holders[query.value(0).toString()].insert(query.value(1).toString(), hostOf(query.value(2).toString()));
    return holders;
}

QString QueueInspector::tenantConnection(const Account &account, const QString &connectionName) const
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connectionName);
    db.setHostName(config.infoDb.host);
    db.setPort(config.infoDb.port);
    db.setDatabaseName(account.name);
    db.setUserName(account.user);
    db.setPassword(account.pass);
    db.setConnectOptions(kConnectOptions);
    return db.open() ? QString() : db.lastError().databaseText();
}

void QueueInspector::readTenant(const Account &account, Tenant *tenant, const QString &connectionName) const
{
    tenant->token = account.token;
    tenant->schema = account.name;
    {
        tenant->error = tenantConnection(account, connectionName);
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (tenant->error.isEmpty()) {
            QSqlQuery query(db);
            bool ok = query.exec(kQueue.arg(QStringLiteral("r.mid IS NULL"), kRetryJoin));
            if (!ok && query.lastError().nativeErrorCode() == QLatin1String(kNoSuchTable))
                ok = query.exec(kQueue.arg(QStringLiteral("TRUE"), QString()));
            if (ok && query.next()) {
                tenant->pending = query.value(0).toInt();
                tenant->waiting = query.value(1).toInt();
                tenant->inFlight = query.value(2).toInt();
                tenant->failedE = query.value(3).toInt();
                tenant->failedB = query.value(4).toInt();
                tenant->failedR = query.value(5).toInt();
                const qint64 now = query.value(8).toLongLong();
                if (!query.value(6).isNull())
                    tenant->oldestPendingAge = qMax<qint64>(0, now - query.value(6).toLongLong());
                if (!query.value(7).isNull())
                    tenant->lastSent = query.value(7).toLongLong();
            } else {
                tenant->error = query.lastError().databaseText();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

bool QueueInspector::status(QList<Tenant> *tenants, QString *error)
{
    const QList<Account> all = accounts(QString(), error);
    if (!error->isEmpty())
        return false;
    const QMap<QString, QMap<QString, QString>> holders = leaseHolders();
    QVector<Tenant> result(all.size());
    std::atomic<int> next { 0 };
    // Connecting dominates: tenants are read side by side, one connection each.
    const auto work = [&](int lane) {
        for (int i = next++; i < all.size(); i = next++)
            readTenant(all.at(i), &result[i], QStringLiteral("yxa.inspector.%1").arg(lane));
    };
    std::vector<std::unique_ptr<QThread>> threads;
    for (int lane = 0; lane < qMin(lanes, int(all.size())); ++lane) {
        threads.emplace_back(QThread::create(work, lane));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();
    for (Tenant &tenant : result)
        tenant.holders = holders.value(tenant.token);
    *tenants = result.toList();
    return true;
}

bool QueueInspector::requeue(const QString &tenant, const QList<uint> &mids, qint64 failedSince,
    Requeue *result, QString *error)
{
    const QList<Account> found = accounts(tenant, error);
    if (!error->isEmpty())
        return false;
    if (found.isEmpty()) {
        *error = QStringLiteral("no enabled tenant with the token or schema name '%1'").arg(tenant);
        return false;
    }
    if (found.size() > 1) {
        *error = QStringLiteral("'%1' names %2 tenants; give the token").arg(tenant).arg(found.size());
        return false;
    }
    const QString name = QStringLiteral("yxa.inspector.requeue");
    const QString connectError = tenantConnection(found.first(), name);
    bool ok = connectError.isEmpty();
    if (!ok)
        *error = QStringLiteral("tenant %1: %2").arg(found.first().name, connectError);
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        QSqlQuery query(db);
        QString where;
        if (!mids.isEmpty()) {
            QStringList list;
            for (uint mid : mids)
                list << QString::number(mid);
            where = QStringLiteral("e.mid IN (%1)").arg(list.join(QLatin1Char(',')));
        } else {
            where = QStringLiteral("e.status IN ('E', 'B', 'R') AND e.done IS NOT NULL");
            if (failedSince > 0)
                where += QStringLiteral(" AND e.done >= UNIX_TIMESTAMP() - %1").arg(failedSince);
        }
        // Which rows may go again is decided row by row: only final ones.
        const QString select = QStringLiteral("SELECT e.mid, e.done IS NULL, e.apiID LIKE 'yxa-claim:%', %1 FROM "
                                              "emails e%2 WHERE %3 ORDER BY e.mid");
        if (ok) {
            ok = query.exec(select.arg(QStringLiteral("r.mid IS NOT NULL"), kRetryJoin, where));
            if (!ok && query.lastError().nativeErrorCode() == QLatin1String(kNoSuchTable))
                ok = query.exec(select.arg(QStringLiteral("FALSE"), QString(), where));
            if (!ok)
                *error = QStringLiteral("tenant %1: %2").arg(found.first().name, query.lastError().databaseText());
        }
        QList<uint> resettable;
        QSet<uint> seen;
        while (ok && query.next()) {
            const uint mid = query.value(0).toUInt();
            seen.insert(mid);
            if (query.value(3).toBool())
                result->refused.insert(mid, QStringLiteral("waiting for a retry"));
            else if (query.value(2).toBool())
                result->refused.insert(mid, QStringLiteral("out at a transport now"));
            else if (query.value(1).toBool())
                result->refused.insert(mid, QStringLiteral("pending"));
            else
                resettable << mid;
        }
        for (uint mid : mids) {
            if (ok && !seen.contains(mid))
                result->refused.insert(mid, QStringLiteral("no such mail"));
        }
        for (uint mid : qAsConst(resettable)) {
            if (!ok)
                break;
            QSqlQuery reset(db);
            if (!reset.exec(kReset.arg(mid))) {
                *error = QStringLiteral("tenant %1: %2").arg(found.first().name, reset.lastError().databaseText());
                ok = false;
            } else if (reset.numRowsAffected() == 1) {
                ++result->reset;
            } else {
                result->refused.insert(mid, QStringLiteral("changed meanwhile"));
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

qint64 QueueInspector::parseDuration(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d+)\\s*([smhd]?)\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return -1;
    bool ok = false;
    const qint64 value = match.captured(1).toLongLong(&ok);
    if (!ok || value > 100LL * 365 * 86400)
        return -1;
    const QString unit = match.captured(2);
    const qint64 factor = unit == QLatin1String("m") ? 60
        : unit == QLatin1String("h")                 ? 3600
        : unit == QLatin1String("d")                 ? 86400
                                                     : 1;
    return value * factor;
}

QString QueueInspector::formatTable(const QList<Tenant> &tenants)
{
    const QString row = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8");
    QString text = line(row.arg(QStringLiteral("SCHEMA"), -14)
                       .arg(QStringLiteral("PEND"), 5)
                       .arg(QStringLiteral("RETRY"), 5)
                       .arg(QStringLiteral("E/B/R 24h"), 10)
                       .arg(QStringLiteral("OLDEST"), 6)
                       .arg(QStringLiteral("LAST SENT"), 11)
                       .arg(QStringLiteral("MAILING"), -10)
                       .arg(QStringLiteral("TABLORA"), -10));
    Tenant total;
    int unreadable = 0;
    for (const Tenant &tenant : tenants) {
        if (!tenant.error.isEmpty()) {
            ++unreadable;
            text += QStringLiteral("%1 not readable: %2\n")
                        .arg(fit(tenant.schema, 14), -14)
                        .arg(fit(tenant.error, 80 - 14 - 15));
            continue;
        }
        const QString last = tenant.lastSent < 0
            ? QStringLiteral("-")
            : QDateTime::fromSecsSinceEpoch(tenant.lastSent).toString(QStringLiteral("MM-dd hh:mm"));
        text += line(row.arg(fit(tenant.schema, 14), -14)
                    .arg(tenant.pending, 5)
                    .arg(tenant.waiting, 5)
                    .arg(QStringLiteral("%1/%2/%3").arg(tenant.failedE).arg(tenant.failedB).arg(tenant.failedR), 10)
                    .arg(ago(tenant.oldestPendingAge), 6)
                    .arg(last, 11)
                    .arg(fit(tenant.holders.value(QStringLiteral("mailing"), QStringLiteral("-")), 10), -10)
                    .arg(fit(tenant.holders.value(QStringLiteral("tablora"), QStringLiteral("-")), 10), -10));
        total.pending += tenant.pending;
        total.waiting += tenant.waiting;
        total.inFlight += tenant.inFlight;
        total.failedE += tenant.failedE;
        total.failedB += tenant.failedB;
        total.failedR += tenant.failedR;
        total.oldestPendingAge = qMax(total.oldestPendingAge, tenant.oldestPendingAge);
        total.lastSent = qMax(total.lastSent, tenant.lastSent);
    }
    text += QStringLiteral("TOTAL %1 tenants, %2 not readable, oldest pending %9\n"
                           "      %3 pending, %4 waiting for a retry, %5 out now, failed 24 h %6/%7/%8\n")
                .arg(tenants.size())
                .arg(unreadable)
                .arg(total.pending)
                .arg(total.waiting)
                .arg(total.inFlight)
                .arg(total.failedE)
                .arg(total.failedB)
                .arg(total.failedR)
                .arg(ago(total.oldestPendingAge));
    return text;
}

QByteArray QueueInspector::formatJson(const QList<Tenant> &tenants, qint64 now)
{
    QJsonArray list;
    QJsonObject totals { { QStringLiteral("tenants"), tenants.size() } };
    int pending = 0, waiting = 0, inFlight = 0, e = 0, b = 0, r = 0, unreadable = 0;
    for (const Tenant &tenant : tenants) {
        QJsonObject holders;
        for (auto it = tenant.holders.cbegin(); it != tenant.holders.cend(); ++it)
            holders.insert(it.key(), it.value());
        QJsonObject entry { { QStringLiteral("token"), tenant.token }, { QStringLiteral("schema"), tenant.schema },
            { QStringLiteral("readable"), tenant.error.isEmpty() }, { QStringLiteral("pending"), tenant.pending },
            { QStringLiteral("waitingForRetry"), tenant.waiting }, { QStringLiteral("inFlight"), tenant.inFlight },
            { QStringLiteral("failed24h"),
                QJsonObject { { QStringLiteral("E"), tenant.failedE }, { QStringLiteral("B"), tenant.failedB },
                    { QStringLiteral("R"), tenant.failedR } } },
            { QStringLiteral("oldestPendingSeconds"),
                tenant.oldestPendingAge < 0 ? QJsonValue() : QJsonValue(double(tenant.oldestPendingAge)) },
            { QStringLiteral("lastSent"), tenant.lastSent < 0 ? QJsonValue() : QJsonValue(double(tenant.lastSent)) },
            { QStringLiteral("holders"), holders } };
        if (!tenant.error.isEmpty())
            entry.insert(QStringLiteral("error"), tenant.error);
        list.append(entry);
        pending += tenant.pending;
        waiting += tenant.waiting;
        inFlight += tenant.inFlight;
        e += tenant.failedE;
        b += tenant.failedB;
        r += tenant.failedR;
        unreadable += tenant.error.isEmpty() ? 0 : 1;
    }
    totals.insert(QStringLiteral("unreadable"), unreadable);
    totals.insert(QStringLiteral("pending"), pending);
    totals.insert(QStringLiteral("waitingForRetry"), waiting);
    totals.insert(QStringLiteral("inFlight"), inFlight);
    totals.insert(QStringLiteral("failed24h"),
        QJsonObject { { QStringLiteral("E"), e }, { QStringLiteral("B"), b }, { QStringLiteral("R"), r } });
    const QJsonObject document { { QStringLiteral("time"), double(now) }, { QStringLiteral("tenants"), list },
        { QStringLiteral("totals"), totals } };
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}
