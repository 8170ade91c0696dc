#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class ConfigCheck;

// What yxa-host reads from its ini file (environment variables override
// every key, e.g. INFODB_HOST or KEXDB_PASSWORD).
struct DatabaseConfig
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 3306;
    QString database;
    QString user;
    QString password;

    bool isSet() const { return !database.isEmpty(); }
};

struct HostConfig
{
    DatabaseConfig infoDb;
    DatabaseConfig kexDb;
    QStringList plugins { QStringLiteral("mailing"), QStringLiteral("tablora") };
    int debugLevel = 0;
    bool closeInfoDB = false;
    // Tenant connections of this host at most, all plug-ins together.
    int maxConnections = 32;
    // Length of a tenant lease among hosts over one information database.
    int leaseSeconds = 60;
    // Seconds between attempts to reach an information database that does
    // not answer at start.
    int infoDBRetry = 30;
    // host:port of the metrics and health listener; empty: none.
    QString metricsListen = QStringLiteral("127.0.0.1:9464");
    // The file as read: its problems and the values in effect.
    std::shared_ptr<const ConfigCheck> reading;

    // False with a one-line reason when the file is missing or unreadable.
    // Values that do not parse keep their defaults; reading names them.
    bool load(const QString &fileName, QString *error);
};
