#include "pluginhost.h"

#include "databasemanagerinterface.h"
#include "dbmanager.h"
#include "serverinterface.h"
#include "verinfointerface.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <QSqlError>

Q_LOGGING_CATEGORY(lcHost, "yxa.host")

PluginHost::PluginHost(HostConfig hostConfig, QString dir, QObject *parent)
    : QObject(parent)
    , config(std::move(hostConfig))
    , pluginDir(std::move(dir))
{
    // Connections that plug-ins closed and queued are reclaimed once a minute.
    cleanupTimer.setInterval(60000);
    connect(&cleanupTimer, &QTimer::timeout, this, [this] {
        if (dbManager)
            dbManager->removeUnusedConnections();
    });
}

PluginHost::~PluginHost()
{
    shutdown();
}

QSqlDatabase PluginHost::openCentral(const DatabaseConfig &dbConfig, const QString &connectionName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connectionName);
    db.setHostName(dbConfig.host);
    db.setPort(dbConfig.port);
    db.setDatabaseName(dbConfig.database);
    db.setUserName(dbConfig.user);
    db.setPassword(dbConfig.password);
    db.setConnectOptions(QStringLiteral("MYSQL_OPT_RECONNECT=1"));
    return db;
}

bool PluginHost::start(QString *error)
{
    dbManager = std::make_unique<DBManager>();
    dbManager->setDebugLevel(static_cast<unsigned char>(config.debugLevel));
    dbManager->setCloseInfoDB(config.closeInfoDB);
    if (config.infoDb.isSet()) {
        dbManager->setInfoDB(openCentral(config.infoDb, QStringLiteral("YXA.InfoDB")));
        if (!dbManager->isInfoDB())
            qCWarning(lcHost) << "yxa-host: information database" << config.infoDb.database
                              << "is not reachable; plug-ins run in single-database mode";
    }
    QSqlDatabase kexDb;
    if (config.kexDb.isSet()) {
        kexDb = openCentral(config.kexDb, QStringLiteral("YXA.KEXDB"));
        if (!kexDb.open())
            qCWarning(lcHost) << "yxa-host: KEX database" << config.kexDb.database
                              << "cannot be opened:" << kexDb.lastError().text();
        dbManager->setKexDB(kexDb);
    }

    for (const QString &name : qAsConst(config.plugins)) {
        const QString path = QDir(pluginDir).filePath(QStringLiteral("lib%1.so").arg(name));
        if (!QFileInfo::exists(path)) {
            *error = QStringLiteral("unknown plug-in '%1' (no %2)").arg(name, path);
            shutdown();
            return false;
        }
        LoadedPlugin plugin;
        plugin.name = name;
        plugin.loader = std::make_unique<QPluginLoader>(path);
        plugin.instance = plugin.loader->instance();
        if (!plugin.instance) {
            *error = QStringLiteral("plug-in '%1' does not load: %2").arg(name, plugin.loader->errorString());
            shutdown();
            return false;
        }
        auto *server = qobject_cast<ServerInterface *>(plugin.instance);
        auto *managed = qobject_cast<DatabaseManagerInterface *>(plugin.instance);
        auto *verInfo = qobject_cast<VerInfoInterface *>(plugin.instance);
        if (!server || !managed || !verInfo) {
            *error = QStringLiteral("plug-in '%1' does not implement the host interfaces").arg(name);
            plugins.push_back(std::move(plugin));
            shutdown();
            return false;
        }
        plugin.server = server;
        managed->setDBManager(dbManager.get());
        server->setDebugLevel(static_cast<unsigned char>(config.debugLevel));
        server->setDatabase(kexDb);
        plugin.started = server->start();
        const QMap<QString, QString> info = verInfo->getVerInfo();
        QStringList parts;
        for (auto it = info.cbegin(); it != info.cend(); ++it)
            parts << it.key() + QLatin1Char('=') + it.value();
        qCInfo(lcHost).noquote() << "yxa-host: plug-in" << name << (plugin.started ? "started" : "did NOT start")
                                 << "-" << parts.join(QLatin1String(", "));
        plugins.push_back(std::move(plugin));
    }

    bool anyStarted = false;
    for (const LoadedPlugin &plugin : plugins)
        anyStarted = anyStarted || plugin.started;
    if (!anyStarted) {
        *error = QStringLiteral("no plug-in started");
        shutdown();
        return false;
    }
    cleanupTimer.start();
    return true;
}

void PluginHost::shutdown()
{
    cleanupTimer.stop();
    // Stop everything first, then destroy in reverse order of loading.
    for (LoadedPlugin &plugin : plugins) {
        if (plugin.server && plugin.started)
            plugin.server->stop();
        plugin.started = false;
    }
    while (!plugins.empty()) {
        LoadedPlugin &plugin = plugins.back();
        delete plugin.instance.data();
        // Unloading would pull code from under queued deleteLater() calls of the
        // plug-in's objects; the process ends soon anyway.
        plugins.pop_back();
    }
    if (dbManager) {
        dbManager->removeUnusedConnections();
        dbManager.reset();
    }
}
