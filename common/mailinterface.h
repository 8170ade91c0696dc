#pragma once

#include <QByteArray>
#include <QString>

// A mail transport inside the mailing plug-in. Implementations are QObjects
// that declare the signal
//     void sentDone(uint mid, QString status, QString apiID = QString());
// and report the outcome of sendMail() and checkMail() only through it.
// mid is the key of the row in `emails`, mailData its mail data document.
class MailInterface
{
public:
    virtual ~MailInterface() = default;
    virtual bool sendMail(uint mid, QString from, QString to, QString subject, QByteArray body,
                          const QByteArray &mailData)
        = 0;
    virtual void checkMail(uint mid, const QString &id)
    {
        Q_UNUSED(mid)
        Q_UNUSED(id)
    }
};
