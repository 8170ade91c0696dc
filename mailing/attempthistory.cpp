#include "attempthistory.h"

#include "mailinglogging.h"
#include "sqlescape.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {
const QString kCreateAttempts = QStringLiteral("CREATE TABLE IF NOT EXISTS `email_attempts` ("
                                               " id BIGINT UNSIGNED NOT NULL AUTO_INCREMENT,"
                                               " mid INT UNSIGNED NOT NULL,"
                                               " attempt SMALLINT UNSIGNED NOT NULL,"
                                               " at BIGINT NOT NULL,"
                                               " host VARCHAR(160) NOT NULL DEFAULT '',"
                                               " transport VARCHAR(8) NOT NULL DEFAULT '',"
                                               " kind VARCHAR(12) NOT NULL DEFAULT '',"
                                               " status VARCHAR(16) NOT NULL DEFAULT '',"
                                               " reply VARCHAR(300) NOT NULL DEFAULT '',"
                                               " next_at BIGINT NULL DEFAULT NULL,"
                                               " PRIMARY KEY (id),"
                                               " KEY email_attempts_mid (mid, attempt),"
                                               " KEY email_attempts_at (at)"
                                               ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4");
const QString kCreateRetries = QStringLiteral("CREATE TABLE IF NOT EXISTS `email_retries` ("
                                              " mid INT UNSIGNED NOT NULL,"
                                              " attempts SMALLINT UNSIGNED NOT NULL,"
                                              " due BIGINT NOT NULL,"
                                              " PRIMARY KEY (mid)"
                                              ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4");
const QString kPending = QStringLiteral(
    "SELECT e.*, r.attempts AS yxa_attempts FROM emails e LEFT JOIN `email_retries` r ON r.mid = "
    "e.mid WHERE e.done IS NULL AND e.apiID IS NULL AND (r.due IS NULL OR r.due <= "
    "UNIX_TIMESTAMP()) ORDER BY e.created LIMIT 100");
// The attempt count must still be what the read saw: another host may have
// made that attempt and let the row wait again in the meantime.
const QString kClaim = QStringLiteral(
    "UPDATE emails SET apiID = CONCAT('yxa-claim:', '%2', ':', UNIX_TIMESTAMP()) "
    "WHERE mid = %1 AND done IS NULL AND apiID IS NULL AND NOT EXISTS (SELECT 1 FROM "
    "`email_retries` r WHERE r.mid = %1 AND (r.attempts <> %3 OR r.due > UNIX_TIMESTAMP()))");
// A plain statement, its texts escaped: a prepared one costs a burst four
// round trips a mail instead of one.
const QString kInsert = QStringLiteral(
    "INSERT INTO `email_attempts` (mid, attempt, at, host, transport, kind, status, reply, "
    "next_at) VALUES (%1, %2, UNIX_TIMESTAMP(), '%3', '%4', '%5', '%6', '%7', %8)");
const QString kSchedule = QStringLiteral(
    "INSERT INTO `email_retries` (mid, attempts, due) VALUES (%1, %2, UNIX_TIMESTAMP() + %3) "
    "ON DUPLICATE KEY UPDATE attempts = VALUES(attempts), due = VALUES(due)");
const QString kClear = QStringLiteral("DELETE FROM `email_retries` WHERE mid = %1");
// A row reset by its writer is pending again; its old history stays with it.
const QString kPrune = QStringLiteral(
    "DELETE FROM `email_attempts` WHERE at < UNIX_TIMESTAMP() - %1 AND mid NOT IN (SELECT mid "
    "FROM emails WHERE done IS NULL)");
const qint64 kHourMs = 3600 * 1000;

// Cut to its column and escaped: the reply comes from the server.
QString text(const QSqlDatabase &db, const QString &value, int length)
{
    return SqlEscape::string(db, value.left(length));
}
} // namespace

bool AttemptHistory::prepare()
{
    if (available)
        return true;
    if (lastTry.isValid() && !lastTry.hasExpired(kHourMs))
        return false;
    lastTry.start();
    QSqlQuery query(database);
    if (query.exec(kCreateAttempts) && query.exec(kCreateRetries)) {
        available = true;
        return true;
    }
    if (!warned)
        qCWarning(lcMailing) << "AttemptHistory::prepare() - tenant" << database.databaseName()
                             << "keeps no attempt history and retries nothing, ERROR:"
                             << query.lastError().text();
    warned = true;
    return false;
}

QString AttemptHistory::pendingRowsStatement()
{
    return kPending;
}

QString AttemptHistory::claimStatement(uint mid, int attemptsMade, const QString &escapedHolder)
{
    return kClaim.arg(mid).arg(escapedHolder).arg(attemptsMade);
}

bool AttemptHistory::record(uint mid, int attempt, const QString &transport, const QString &kind,
    const QString &status, const QString &reply, int nextInSeconds)
{
    if (!available)
        return false;
    QSqlQuery query(database);
    const QString next = nextInSeconds < 0
        ? QStringLiteral("NULL")
        : QStringLiteral("UNIX_TIMESTAMP() + %1").arg(nextInSeconds);
    const QString sql
        = kInsert.arg(mid).arg(attempt).arg(text(database, host, 160), text(database, transport, 8),
            text(database, kind, 12), text(database, status, 16), text(database, reply, 300), next);
    if (query.exec(sql))
        return true;
    qCWarning(lcMailing) << "AttemptHistory::record() - mid:" << mid
                         << "attempt not recorded, ERROR:" << query.lastError().text();
    return false;
}

bool AttemptHistory::scheduleNext(uint mid, int attemptsMade, int seconds)
{
    if (!available)
        return false;
    QSqlQuery query(database);
    if (query.exec(kSchedule.arg(mid).arg(attemptsMade).arg(seconds)))
        return true;
    qCWarning(lcMailing) << "AttemptHistory::scheduleNext() - mid:" << mid
                         << "ERROR:" << query.lastError().text();
    return false;
}

bool AttemptHistory::clear(uint mid)
{
    if (!available)
        return true;
    QSqlQuery query(database);
    if (query.exec(kClear.arg(mid)))
        return true;
    qCWarning(lcMailing) << "AttemptHistory::clear() - mid:" << mid
                         << "ERROR:" << query.lastError().text();
    return false;
}

void AttemptHistory::prune(uint days)
{
    if (!available || (lastPrune.isValid() && !lastPrune.hasExpired(kHourMs)))
        return;
    lastPrune.start();
    QSqlQuery query(database);
    if (!query.exec(kPrune.arg(qint64(days) * 86400)))
        qCWarning(lcMailing) << "AttemptHistory::prune() - ERROR:" << query.lastError().text();
}
