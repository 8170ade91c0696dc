#include "hostconfig.h"

#include "configcheck.h"

#include <QFileInfo>
#include <QSettings>

namespace {
DatabaseConfig readDatabase(const ConfigCheck &check, const QString &group)
{
    DatabaseConfig config;
    config.host = check.text(group, QStringLiteral("host"));
    config.port = check.integer(group, QStringLiteral("port"));
    config.database = check.text(group, QStringLiteral("database"));
    config.user = check.text(group, QStringLiteral("user"));
    config.password = check.text(group, QStringLiteral("password"));
    return config;
}
} // namespace

bool HostConfig::load(const QString &fileName, QString *error)
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        *error = QStringLiteral("config file %1 does not exist").arg(fileName);
        return false;
    }
    if (!info.isReadable() || !info.isFile()) {
        *error = QStringLiteral("config file %1 is not readable").arg(fileName);
        return false;
    }
    QSettings probe(fileName, QSettings::IniFormat);
    if (probe.status() != QSettings::NoError) {
        *error = QStringLiteral("config file %1 cannot be parsed").arg(fileName);
        return false;
    }
    reading = std::make_shared<ConfigCheck>(QStringLiteral("host.ini"), fileName);
    const ConfigCheck &check = *reading;
    infoDb = readDatabase(check, QStringLiteral("InfoDB"));
    kexDb = readDatabase(check, QStringLiteral("KexDB"));
    const QString host = QStringLiteral("Host");
    plugins.clear();
    for (const QString &name :
        check.text(host, QStringLiteral("plugins")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!name.trimmed().isEmpty())
            plugins << name.trimmed();
    }
    debugLevel = check.integer(host, QStringLiteral("debugLevel"));
    infoDBRetry = check.integer(host, QStringLiteral("infoDBRetry"));
    maxConnections = check.integer(host, QStringLiteral("maxConnections"));
    leaseSeconds = check.integer(host, QStringLiteral("leaseSeconds"));
    closeInfoDB = check.boolean(host, QStringLiteral("closeInfoDB"));
    metricsListen = check.text(host, QStringLiteral("metricsListen"));
    return true;
}
