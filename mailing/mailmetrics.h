#pragma once

#include <QElapsedTimer>
#include <QString>

#include <set>

class QObject;

// What the queue processor tells the host's metrics about its mails: the
// final letter of each mail by transport, and how long the transport took
// from hand-out to report. The transport is told by the report's sender; a
// row that never reached one (no recipient) counts as transport "none".
//
// It also keeps its tenant's share of the host-wide queue gauges (pending,
// waiting for a retry, oldest pending) and withdraws it when it goes.
class MailMetrics
{
public:
    MailMetrics() = default;
    ~MailMetrics();
    MailMetrics(const MailMetrics &) = delete;
    MailMetrics &operator=(const MailMetrics &) = delete;

    // What the last read of the queue found; oldestCreated -1: none pending.
    void queueRead(int pending, int waiting, qint64 oldestCreated);
    void attempt(const QString &kind);

    void handedOut(uint mid);
    // A report of the transport (or of the processor itself) for mid.
    void reported(uint mid, const QObject *transport, const QString &status);

    static QByteArray transportName(const QObject *transport);
    // 'S', 'E', 'B' or 'R' for a final status word, else 0.
    static char finalLetter(const QString &status);

private:
    int pending = 0;
    int waiting = 0;
    bool hasOldest = false;
    std::multiset<qint64>::iterator oldest;
    uint outMid = 0;
    QElapsedTimer outClock;
};
