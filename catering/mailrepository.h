#pragma once

#include "mailrecord.h"

#include <QObject>
#include <QSqlDatabase>

// The catering side's access to the tenant's mail queue `emails`, which the
// mailing plug-in works off. Used on the thread that owns the connection;
// it holds nothing but the connection and the debug switch, so callers make
// a fresh one per mail.
//
// Results instead of exceptions: addMail gives 0 for a mail without sender,
// recipient or subject, -1 for a database failure, otherwise the new key;
// loadMail gives an empty record (mid 0) on every failure; resetMail false.
class MailRepository : public QObject
{
    Q_OBJECT

public:
    explicit MailRepository(QObject *parent = nullptr);

    void setDB(const QSqlDatabase &database) { db = database; }

    bool debug = false;

public slots:
    int addMail(MailRecord mail);
    MailRecord loadMail(uint mid);
    bool resetMail(uint mid);

private:
    QSqlDatabase db;
};
