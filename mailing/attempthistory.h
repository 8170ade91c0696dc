#pragma once

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QString>

// The plug-in's own two tables in a tenant database, beside `emails` (which
// belongs to the tenant's applications and is not changed):
// - `email_attempts`: one entry per attempt to send a row: mid, attempt
//   number, time, host, transport, kind ("accepted", "temporary",
//   "unknown", "refused"), the transport's status word, the server's reply
//   (cut to 300 characters, never a password) and, for a mail that waits,
//   the time of its next attempt;
// - `email_retries`: the rows that wait for their next attempt, with the
//   attempts made and the time (the database's) from which it may go.
//   A waiting row keeps status 'Q' and `done` NULL in `emails`.
//
// Both are created when first needed. A tenant user without the right to
// create them gets one warning, and the tenant's mail goes out as before:
// one attempt each, no history.
class AttemptHistory
{
public:
    void setDatabase(const QSqlDatabase &db) { database = db; }
    // Written into every entry: the host (and process) that made the attempt.
    void setHost(const QString &name) { host = name.left(160); }

    // Creates the tables unless known to exist; false while they cannot be.
    // A failure is tried again after an hour, and warned about only once.
    bool prepare();
    bool isAvailable() const { return available; }

    // The pending rows whose time has come (waiting rows only when due),
    // oldest first, with the attempts made so far in `yxa_attempts` (NULL for
    // a row never tried).
    static QString pendingRowsStatement();
    // Claims a row as Mailing does, and only while its waiting state is still
    // the one read: a row another host tried meanwhile is not claimed.
    static QString claimStatement(uint mid, int attemptsMade, const QString &escapedHolder);

    bool record(uint mid, int attempt, const QString &transport, const QString &kind,
        const QString &status, const QString &reply, int nextInSeconds = -1);
    // The row waits `seconds` (from the database's now) for attempt attemptsMade + 1.
    bool scheduleNext(uint mid, int attemptsMade, int seconds);
    // The row is final: nothing waits any longer.
    bool clear(uint mid);
    // Deletes entries older than `days` of rows that are final or gone; at
    // most once an hour.
    void prune(uint days);

private:
    QSqlDatabase database;
    QString host;
    bool available = false;
    bool warned = false;
    QElapsedTimer lastTry;
    QElapsedTimer lastPrune;
};
