#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

class EnviroSettings;

// Where and how the Mandrill transport reaches the API: a deployment value,
// read by the plug-in from its ini file (group "MailingPlugin", environment
// overrides through EnviroSettings) and handed to every worker. A plain
// value: copy it freely.
struct MandrillApiSettings
{
    // Scheme, host and port of the API; the request paths are fixed.
    QUrl apiUrl = defaultApiUrl();
    // Never written to a log line.
    QString apiKey = defaultApiKey();
    // A request without a complete reply within this time is aborted.
    int requestTimeoutMs = 60000;
    // A PEM bundle of CAs trusted besides the system's, for the API and the
    // tenants' SMTP servers alike (a private CA). Empty: the system's alone.
    QString caFile;
    // What TLS connections trust: the system's CAs and those of caFile;
    // empty when caFile names none, and the sockets keep their defaults.
    QList<QSslCertificate> caCertificates;

    static QUrl defaultApiUrl();
    static QString defaultApiKey();

    // Reads "apiUrl", "apiKey", "requestTimeout" (seconds) and "caFile" from
    // the settings' current group. Unusable values are logged and replaced
    // by their defaults (a caFile without certificates trusts the system's
    // CAs alone).
    static MandrillApiSettings fromSettings(const EnviroSettings &settings);

    QUrl sendUrl() const;
    QUrl infoUrl() const;

    bool operator==(const MandrillApiSettings &other) const;
    bool operator!=(const MandrillApiSettings &other) const { return !(*this == other); }
};
