#pragma once

#include <QObject>
#include <QString>

// One mailbox: an address and an optional display name. Used by MimeMessage
// for the sender, the recipients and Reply-To.
class EmailAddress : public QObject
{
    Q_OBJECT
public:
    explicit EmailAddress(const QString &address = QString(), const QString &name = QString(),
        QObject *parent = nullptr);

    void setName(const QString &name);
    void setAddress(const QString &address);
    QString getName() const;
    QString getAddress() const;

    // True when the address can stand in an SMTP envelope and between angle
    // brackets: no CR, LF, "<" or ">" that would end the command or the
    // bracket early, and no longer than the 254 octets a path may have.
    static bool isEnvelopeSafe(const QString &address);

private:
    QString name;
    QString address;
};
