#include "rowclaims.h"

#include "attempthistory.h"
#include "mailinglogging.h"
#include "sqlescape.h"

#include <QList>
#include <QPair>
#include <QSqlError>
#include <QSqlQuery>

namespace {
// The claim names its holder and the database's time; SUBSTRING_INDEX reads
// the time back, holders may contain ':' themselves.
const QString kClaim
    = QStringLiteral("UPDATE emails SET apiID = CONCAT('yxa-claim:', '%2', ':', UNIX_TIMESTAMP()) "
                     "WHERE mid = %1 AND done IS NULL AND apiID IS NULL");
const QString kExpiredClaims = QStringLiteral(
    "SELECT mid, apiID FROM emails WHERE done IS NULL AND apiID LIKE 'yxa-claim:%' AND "
    "CAST(SUBSTRING_INDEX(apiID, ':', -1) AS UNSIGNED) + %1 < UNIX_TIMESTAMP()");
const QString kExpireClaim = QStringLiteral("UPDATE emails SET done = UNIX_TIMESTAMP(), status = "
                                            "'E', apiID = NULL WHERE mid = %1 AND apiID = '%2'");
// Longer than any send may take (the SMTP and API time-outs are far shorter).
const int kClaimSeconds = 600;
// A mail its transport never wrote goes back to the pending rows.
const QString kReleaseClaim
    = QStringLiteral("UPDATE emails SET apiID = NULL WHERE mid = %1 AND done IS NULL AND %2");

QString likePattern(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('%'), QLatin1String("\\%"));
    escaped.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return escaped;
}
} // namespace

QString RowClaims::claimStatement(uint mid, int attemptsMade, bool retries) const
{
    const QString name = SqlEscape::string(database, holder);
    return retries ? AttemptHistory::claimStatement(mid, attemptsMade, name)
                   : kClaim.arg(mid).arg(name);
}

bool RowClaims::claim(uint mid, int attemptsMade, bool retries)
{
    QSqlQuery query(database);
    if (!query.exec(claimStatement(mid, attemptsMade, retries))) {
        // Galera: another node's claim of the same row won the certification.
        if (query.lastError().nativeErrorCode() == QLatin1String("1213")) {
            qCInfo(lcMailing) << "Mailing::processQueue() - mid:" << mid
                              << "was claimed by another host at the same moment; not sent here";
            return false;
        }
        qCWarning(lcMailing) << "Mailing::processQueue() - mid:" << mid
                             << "not claimed, it stays pending. SQL ERROR:"
                             << query.lastError().text();
        return false;
    }
    if (query.numRowsAffected() == 1)
        return true;
    qCWarning(lcMailing) << "Mailing::processQueue() - mid:" << mid
                         << "is taken by another host; not sent here";
    return false;
}

void RowClaims::expire(const std::function<bool(uint)> &ours)
{
    QSqlQuery query(database);
    if (!query.exec(kExpiredClaims.arg(kClaimSeconds))) {
        qCWarning(lcMailing) << "Mailing::processQueue() SQL ERROR:" << query.lastError().text();
        return;
    }
    QList<QPair<uint, QString>> expired;
    while (query.next()) {
        const uint mid = query.value(0).toUInt();
        if (!ours(mid))
            expired.append({ mid, query.value(1).toString() });
    }
    for (const auto &row : qAsConst(expired)) {
        // Its host went while the mail was out: whether the receiver took it
        // cannot be known, and a second copy is worse than a row marked failed.
        QSqlQuery update(database);
        if (update.exec(kExpireClaim.arg(row.first).arg(SqlEscape::string(database, row.second)))
            && update.numRowsAffected() == 1)
            qCWarning(lcMailing) << "Mailing::processQueue() - mid:" << row.first << "was out at"
                                 << row.second
                                 << "when its host stopped; it ends 'E' and is not sent again";
    }
}

QString RowClaims::ownCondition() const
{
    if (holder.isEmpty())
        return QStringLiteral("apiID LIKE 'yxa-claim:%'");
    return QStringLiteral("apiID LIKE 'yxa-claim:%1:%'")
        .arg(SqlEscape::string(database, likePattern(holder)));
}

QString RowClaims::releaseStatement(uint mid) const
{
    return kReleaseClaim.arg(mid).arg(ownCondition());
}

bool RowClaims::release(uint mid)
{
    QSqlQuery query(database);
    if (!query.exec(releaseStatement(mid))) {
        qCWarning(lcMailing) << "Mailing::sentReply() - mid:" << mid
                             << "was not sent; its claim stays until it expires. SQL ERROR:"
                             << query.lastError().text();
        return false;
    }
    if (query.numRowsAffected() == 1)
        qCInfo(lcMailing) << "Mailing::sentReply() - mid:" << mid
                          << "was not sent; it is pending again";
    return true;
}
