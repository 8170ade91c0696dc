#pragma once

#include <QSqlDatabase>
#include <QString>

#include <functional>

// The marks a queue processor puts on the rows of `emails` it sends, so that
// no other host (or other worker of this one) sends them too. A claim is
// `apiID = 'yxa-claim:<holder>:<database time>'` on a pending row; the
// outcome replaces it, and a claim older than any send may take means its
// holder went while the mail was out.
//
// Without a holder (one host, one processor per tenant) nothing is claimed.
class RowClaims
{
public:
    void setDatabase(const QSqlDatabase &db) { database = db; }
    void setHolder(const QString &name) { holder = name; }
    bool isActive() const { return !holder.isEmpty(); }

    // With `retries`, a row waiting for a further attempt is claimed only
    // while its waiting state is still the one read (attemptsMade).
    QString claimStatement(uint mid, int attemptsMade, bool retries) const;
    // Runs the claim; false when another reader has the row or the claim
    // could not be written (both logged).
    bool claim(uint mid, int attemptsMade, bool retries);
    // Ends 'E' the rows whose claim outlived any send, except those that
    // `ours` says are still in this processor's hands.
    void expire(const std::function<bool(uint)> &ours);
    // What only this holder's claims match, for the guard of its writes.
    QString ownCondition() const;
    // The statement that clears this holder's claim of a pending row.
    QString releaseStatement(uint mid) const;
    // Clears it now; false when the statement failed (logged).
    bool release(uint mid);

private:
    QSqlDatabase database;
    QString holder;
};
