#pragma once

#include <QList>
#include <QString>

// When a mail that failed for a moment (a 4xx reply, a server or API that
// could not be reached) is tried again: one wait in seconds after each failed
// attempt, so a schedule of n waits allows n + 1 attempts. Each wait is
// drawn within ±10 % of its value, so that the mails deferred together by
// one outage do not all come back in the same second.
//
// An empty schedule allows one attempt: a failure is final at once.
class RetrySchedule
{
public:
    // 1 min, 5 min, 15 min, 1 h, 4 h: six attempts over about 5½ hours.
    RetrySchedule();

    static RetrySchedule none();
    // Seconds, comma-separated ("60,300,900"); blanks are allowed, an empty
    // text is the empty schedule. A text that is no such list gives ok false
    // and the default schedule.
    static RetrySchedule parse(const QString &text, bool *ok = nullptr);

    // Attempts a mail gets at most.
    int attempts() const { return int(waits.size()) + 1; }
    // Seconds to wait after the failed attempt number `attempt` (1 for the
    // first), jitter applied; -1 when that attempt was the last one.
    int delayAfter(int attempt) const;
    const QList<int> &intervals() const { return waits; }
    QString toString() const;

    bool operator==(const RetrySchedule &other) const { return waits == other.waits; }
    bool operator!=(const RetrySchedule &other) const { return waits != other.waits; }

private:
    QList<int> waits;
};
