#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// One row of the tenant's mail queue `emails` as the catering side writes
// and reads it. A null type means "no type" and is stored as NULL.
struct MailRecord
{
    quint32 mid = 0;
    QChar type;
    QString status;
    QString from;
    QString to;
    QString subject;
    QString body;
    quint32 created = 0;
    quint16 sent = 0;
    quint32 done = 0;
    quint32 aid = 0;
    quint32 uid = 0;
    QByteArray data;
};
