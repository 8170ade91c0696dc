#pragma once

#include "mandrillapisettings.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// Runs tests/support/fake-mandrill.py (with /usr/bin/python3) on a free
// loopback port for the lifetime of the object, and reads back the requests
// it recorded. The script's replies can be changed while it runs.
class FakeMandrill
{
public:
    explicit FakeMandrill(const QJsonObject &script = QJsonObject());
    ~FakeMandrill();
    FakeMandrill(const FakeMandrill &) = delete;
    FakeMandrill &operator=(const FakeMandrill &) = delete;

    // Serve HTTPS with this PEM certificate chain and key; call before
    // start(). The URL then names "localhost".
    void useTls(const QString &certFile, const QString &keyFile);
    // Empty on success, otherwise why it did not start.
    QString start();
    void setScript(const QJsonObject &script);

    QUrl url() const;
    MandrillApiSettings apiSettings(int requestTimeoutMs = 10000) const;

    // Recorded requests, oldest first; with a path, only those to it.
    QList<QJsonObject> requests(const QString &path = QString()) const;
    int sendCount() const { return requests(sendPath()).size(); }
    int infoCount() const { return requests(infoPath()).size(); }

    static QString sendPath() { return QStringLiteral("/api/1.0/messages/send.json"); }
    static QString infoPath() { return QStringLiteral("/api/1.0/messages/info.json"); }
    static QString scriptPath();

    // Script helpers: one reply entry.
    static QJsonObject reply(int status, const QJsonValue &json);
    static QJsonObject rawReply(int status, const QString &body);

private:
    QTemporaryDir dir;
    QProcess process;
    int port = 0;
    QStringList tlsFiles;
};
