#include "mailmetrics.h"

#include "metricsregistry.h"

#include <QDateTime>
#include <QMutex>
#include <QObject>

namespace {
// The oldest pending mail of every queue of the process, for the host-wide age.
QMutex oldestMutex;
std::multiset<qint64> oldestCreated;
} // namespace

MailMetrics::~MailMetrics()
{
    queueRead(0, 0, -1);
}

void MailMetrics::queueRead(int pendingNow, int waitingNow, qint64 oldestNow)
{
    // Shifted even by nothing: a gauge shows from the first read on, at 0.
    MetricsRegistry::gaugeShift("yxa_mails_pending", {}, pendingNow - pending);
    MetricsRegistry::gaugeShift("yxa_mails_retry_waiting", {}, waitingNow - waiting);
    pending = pendingNow;
    waiting = waitingNow;
    QMutexLocker lock(&oldestMutex);
    if (hasOldest)
        oldestCreated.erase(oldest);
    hasOldest = oldestNow >= 0;
    if (hasOldest)
        oldest = oldestCreated.insert(oldestNow);
    const qint64 age = oldestCreated.empty()
        ? 0
        : qMax<qint64>(0, QDateTime::currentSecsSinceEpoch() - *oldestCreated.begin());
    MetricsRegistry::gauge("yxa_mail_oldest_pending_age_seconds", {}, double(age));
}

void MailMetrics::attempt(const QString &kind)
{
    MetricsRegistry::count("yxa_mail_attempts_total", { { "kind", kind.toLatin1() } });
}

void MailMetrics::handedOut(uint mid)
{
    outMid = mid;
    outClock.start();
}

void MailMetrics::reported(uint mid, const QObject *transport, const QString &status)
{
    const QByteArray name = transportName(transport);
    if (mid == outMid && outClock.isValid()) {
        MetricsRegistry::observe("yxa_mail_send_duration_seconds", { { "transport", name } },
            double(outClock.nsecsElapsed()) / 1e9);
        outClock.invalidate();
    }
    const char letter = finalLetter(status);
    if (letter)
        MetricsRegistry::count(
            "yxa_mails_total", { { "transport", name }, { "status", QByteArray(1, letter) } });
}

QByteArray MailMetrics::transportName(const QObject *transport)
{
    if (!transport)
        return QByteArrayLiteral("none");
    const QByteArray className = transport->metaObject()->className();
    if (className.contains("Smtp"))
        return QByteArrayLiteral("smtp");
    return QByteArrayLiteral("api");
}

char MailMetrics::finalLetter(const QString &status)
{
    if (status == QLatin1String("sent"))
        return 'S';
    if (status == QLatin1String("error") || status == QLatin1String("neterror"))
        return 'E';
    if (status == QLatin1String("bad") || status == QLatin1String("invalid"))
        return 'B';
    if (status == QLatin1String("rejected"))
        return 'R';
    return 0;
}
