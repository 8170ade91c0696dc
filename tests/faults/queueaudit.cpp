#include "queueaudit.h"

#include "mailtenant.h"

#include <QSqlError>
#include <QSqlQuery>

QueueAudit::QueueAudit(const QString &database)
    : QueueAudit(MailTenant::root(database))
{
}

QueueAudit::QueueAudit(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT mid, status, done, apiID FROM emails"))) {
        m_violations << QStringLiteral("cannot read emails: %1").arg(query.lastError().text());
        return;
    }
    while (query.next()) {
        const uint mid = query.value(0).toUInt();
        const QString status = query.value(1).toString();
        const bool doneNull = query.value(2).isNull();
        const bool apiNull = query.value(3).isNull();
        const bool pending = doneNull && apiNull;
        const bool awaiting = status == QLatin1String("Q") && !apiNull && doneNull;
        const bool final = QStringList { "S", "E", "B", "R" }.contains(status) && !doneNull;
        const int states = int(pending) + int(awaiting) + int(final);
        m_letters.insert(mid, status);
        if (states != 1) {
            m_states.insert(mid, Invalid);
            m_violations << QStringLiteral("mid %1: status '%2', done %3, apiID %4 is in %5 states")
                                .arg(mid)
                                .arg(status, doneNull ? "NULL" : "set", apiNull ? "NULL" : "set")
                                .arg(states);
            continue;
        }
        m_states.insert(mid, pending ? Pending : awaiting ? AwaitingCheck : Final);
    }
}

int QueueAudit::count(State state) const
{
    int n = 0;
    for (State s : m_states)
        n += s == state ? 1 : 0;
    return n;
}
