#include "hostconfig.h"

#include "envirosettings.h"

#include <QFileInfo>

namespace {
DatabaseConfig readDatabase(EnviroSettings &settings, const QString &group)
{
    DatabaseConfig config;
    settings.beginGroup(group);
    config.host = settings.value(QStringLiteral("host"), config.host).toString();
    config.port = settings.value(QStringLiteral("port"), config.port).toInt();
    config.database = settings.value(QStringLiteral("database"), QString()).toString();
    config.user = settings.value(QStringLiteral("user"), QString()).toString();
    config.password = settings.value(QStringLiteral("password"), QString()).toString();
    settings.endGroup();
    return config;
}

bool toBool(const QString &text)
{
    const QString t = text.trimmed().toLower();
    return t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("yes")
        || t == QLatin1String("on");
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
    EnviroSettings settings(fileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *error = QStringLiteral("config file %1 cannot be parsed").arg(fileName);
        return false;
    }
    infoDb = readDatabase(settings, QStringLiteral("InfoDB"));
    kexDb = readDatabase(settings, QStringLiteral("KexDB"));
    settings.beginGroup(QStringLiteral("Host"));
    const QString pluginList = settings.value(QStringLiteral("plugins"), QStringLiteral("mailing,tablora"))
                                   .toStringList()
                                   .join(QLatin1Char(','));
    plugins.clear();
    for (const QString &name : pluginList.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!name.trimmed().isEmpty())
            plugins << name.trimmed();
    }
    bool ok = false;
    const int level = settings.value(QStringLiteral("debugLevel"), 0).toString().toInt(&ok);
    debugLevel = ok ? level : 0;
    const int retry = settings.value(QStringLiteral("infoDBRetry"), 30).toString().toInt(&ok);
    infoDBRetry = ok && retry > 0 ? retry : 30;
    const int connectionBudget = settings.value(QStringLiteral("maxConnections"), 32).toString().toInt(&ok);
    maxConnections = ok && connectionBudget >= 2 ? connectionBudget : 32;
    const int lease = settings.value(QStringLiteral("leaseSeconds"), 60).toString().toInt(&ok);
    leaseSeconds = ok && lease >= 10 ? lease : 60;
    closeInfoDB = toBool(settings.value(QStringLiteral("closeInfoDB"), QStringLiteral("false")).toString());
    settings.endGroup();
    return true;
}
