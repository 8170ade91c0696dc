#include "outcomestatement.h"

#include "mailinglogging.h"

#include <QDateTime>

namespace {
const QString kUpdateSent = QStringLiteral(
    "UPDATE emails SET sent = sent +1, done = %1, status = 'S', apiID=%3 WHERE mid = %2");
const QString kUpdateError
    = QStringLiteral("UPDATE emails SET done = %1, status = 'E', apiID=%3  WHERE mid = %2");
const QString kUpdateBad
    = QStringLiteral("UPDATE emails SET done = %1, status = 'B', apiID=%3  WHERE mid = %2");
const QString kUpdateRejected
    = QStringLiteral("UPDATE emails SET done = %1, status = 'R', apiID=%3  WHERE mid = %2");
const QString kUpdateQueued
    = QStringLiteral("UPDATE emails SET status = 'Q', apiID=%1  WHERE mid = %2");
// The provider took the mail but named no message: it must not be sent
// again, and there is nothing to ask its state by.
const QString kQueuedWithoutId = QStringLiteral("yxa-queued-without-id");
} // namespace

QString OutcomeStatement::forStatus(
    const QString &status, uint mid, const QString &apiValue, bool answersCheck, bool logNetErrors)
{
    const QString now = QString::number(QDateTime::currentSecsSinceEpoch());
    const QString midText = QString::number(mid);
    if (status == QLatin1String("sent"))
        return kUpdateSent.arg(now, midText, apiValue);
    if (status == QLatin1String("neterror")) {
        if (logNetErrors)
            qCWarning(lcMailing) << "Mailing::sentReply() :: neterror";
        return kUpdateError.arg(now, midText, apiValue);
    }
    if (status == QLatin1String("error"))
        return kUpdateError.arg(now, midText, apiValue);
    if (status == QLatin1String("bad") || status == QLatin1String("invalid"))
        return kUpdateBad.arg(now, midText, apiValue);
    if (status == QLatin1String("rejected"))
        return kUpdateRejected.arg(now, midText, apiValue);
    if (status == QLatin1String("queued")) {
        if (apiValue != QLatin1String("NULL"))
            return kUpdateQueued.arg(apiValue, midText);
        qCWarning(lcMailing) << "Mailing::sentReply() mid:" << mid
                             << "queued without a message id; it is not sent again and its "
                                "delivery state cannot be asked";
        return kUpdateQueued.arg(QStringLiteral("'%1'").arg(kQueuedWithoutId), midText);
    }
    if (!answersCheck) {
        // A word not known here may mean the mail left; left pending it
        // would go again on every pass, so it ends as an error that says why.
        qCWarning(lcMailing) << "Mailing::sentReply() mid:" << mid << "unknown send status"
                             << status << "- it ends 'E' and is not sent again";
        return kUpdateError.arg(now, midText, apiValue);
    }
    qCWarning(lcMailing) << "Mailing::sentReply() unimplemented status:" << status;
    return QString();
}

QString OutcomeStatement::letterOf(const QString &status)
{
    if (status == QLatin1String("error") || status == QLatin1String("neterror"))
        return QStringLiteral("'E'");
    if (status == QLatin1String("bad") || status == QLatin1String("invalid"))
        return QStringLiteral("'B'");
    if (status == QLatin1String("rejected"))
        return QStringLiteral("'R'");
    return QStringLiteral("unchanged");
}
