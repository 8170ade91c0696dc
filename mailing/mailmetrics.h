#pragma once

#include <QElapsedTimer>
#include <QString>

class QObject;

// What the queue processor tells the host's metrics about its mails: the
// final letter of each mail by transport, and how long the transport took
// from hand-out to report. The transport is told by the report's sender; a
// row that never reached one (no recipient) counts as transport "none".
class MailMetrics
{
public:
    void handedOut(uint mid);
    // A report of the transport (or of the processor itself) for mid.
    void reported(uint mid, const QObject *transport, const QString &status);

    static QByteArray transportName(const QObject *transport);
    // 'S', 'E', 'B' or 'R' for a final status word, else 0.
    static char finalLetter(const QString &status);

private:
    uint outMid = 0;
    QElapsedTimer outClock;
};
