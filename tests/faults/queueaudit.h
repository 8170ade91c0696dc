#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Reads a tenant's whole `emails` table and tells, for every row, which of
// the queue's states it is in: pending (done and apiID NULL), awaiting a
// delivery check ('Q' with an identifier) or final ('S', 'E', 'B', 'R' with
// done set). A row in none of them, or in more than one, is a violation.
class QueueAudit
{
public:
    enum State { Pending, AwaitingCheck, Final, Invalid };

    // A database of the shared test server, read as root.
    explicit QueueAudit(const QString &database);
    // Over an open connection with rights on `emails`.
    explicit QueueAudit(const QSqlDatabase &db);

    // One line per row that is not in exactly one state; empty when sound.
    QStringList violations() const { return m_violations; }
    State state(uint mid) const { return m_states.value(mid, Invalid); }
    QString letter(uint mid) const { return m_letters.value(mid); }
    int rows() const { return m_states.size(); }
    int count(State state) const;

private:
    QHash<uint, State> m_states;
    QHash<uint, QString> m_letters;
    QStringList m_violations;
};
