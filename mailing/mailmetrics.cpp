#include "mailmetrics.h"

#include "metricsregistry.h"

#include <QObject>

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
