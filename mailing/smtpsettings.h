#pragma once

#include <QMetaType>
#include <QString>

class QDebug;

// A tenant's SMTP account as the mailing worker reads it from `vars` and
// hands it to MailingPluginSmtpClient. A plain value: copy it freely. The
// defaults (port 465, TLS from the start, AUTH PLAIN, no Reply-To) are those
// of a worker that has not read its settings yet.
struct SmtpSettings
{
    QString host;
    quint16 port = 465;
    QString user;
    QString password; // plain text in memory; never logged
    int connectionType = 1; // SmtpClient::ConnectionType: 0 plain, 1 TLS, 2 STARTTLS
    int authMethod = 0; // SmtpClient::AuthMethod: 0 PLAIN, 1 LOGIN
    bool useReplyTo = false; // send from email, with the row's sender as Reply-To
    QString email; // the tenant's global sender address

    bool operator==(const SmtpSettings &other) const;
    bool operator!=(const SmtpSettings &other) const;
};

Q_DECLARE_METATYPE(SmtpSettings)

// For log lines: every field but the password, which shows only whether it is set.
QDebug operator<<(QDebug debug, const SmtpSettings &settings);
