#include "pluginhost.h"

#include "databasemanagerinterface.h"
#include "dbmanager.h"
#include "metricsregistry.h"
#include "reloadinterface.h"
#include "serverinterface.h"
#include "verinfointerface.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <QSqlError>
#include <QSqlQuery>

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
    infoCheckTimer.setInterval(10000);
    connect(&infoCheckTimer, &QTimer::timeout, this, &PluginHost::checkInfoDatabase);
}

namespace {
// Why the database did not open, in the server's own words ("Access denied
// for user ..."): a refused login is no network fault and says so.
QString whyNotOpen(const QSqlDatabase &db, bool again)
{
    const QSqlError error = db.lastError();
    const QString text = error.databaseText().trimmed().isEmpty() ? error.text().trimmed()
                                                                  : error.databaseText().trimmed();
    // ER_DBACCESS_DENIED_ERROR, ER_ACCESS_DENIED_ERROR, ER_ACCESS_DENIED_NO_PASSWORD_ERROR
    static const QStringList refusals { QStringLiteral("1044"), QStringLiteral("1045"),
        QStringLiteral("1698") };
    if (refusals.contains(error.nativeErrorCode()))
        return (again ? QStringLiteral("still refuses the login: ")
                      : QStringLiteral("refused the login: "))
            + text;
    return (again ? QStringLiteral("is still not reachable: ")
                  : QStringLiteral("is not reachable: "))
        + text;
}
} // namespace

void PluginHost::checkInfoDatabase()
{
    if (!dbManager || !config.infoDb.isSet())
        return;
    const bool answered = dbManager->withInfoDB([](QSqlDatabase &db) {
        QSqlQuery query(db);
        return query.exec(QStringLiteral("SELECT 1"));
    });
    MetricsRegistry::gauge("yxa_info_db_up", {}, answered ? 1 : 0);
    if (answered)
        MetricsRegistry::gauge(
            "yxa_info_db_answer_timestamp_seconds", {}, double(QDateTime::currentSecsSinceEpoch()));
}

void PluginHost::applyReload(const HostConfig &next)
{
    config.debugLevel = next.debugLevel;
    config.infoDBRetry = next.infoDBRetry;
    if (infoRetryTimer.interval() != config.infoDBRetry * 1000)
        infoRetryTimer.setInterval(config.infoDBRetry * 1000);
    if (!dbManager)
        return;
    dbManager->setDebugLevel(static_cast<unsigned char>(config.debugLevel));
    for (LoadedPlugin &plugin : plugins) {
        if (!plugin.server)
            continue;
        plugin.server->setDebugLevel(static_cast<unsigned char>(config.debugLevel));
        // Before the late start a plug-in reads its settings when it starts.
        if (auto *reloadable = qobject_cast<ReloadInterface *>(plugin.instance);
            reloadable && plugin.started)
            reloadable->reloadSettings();
    }
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
    for (const QString &name : qAsConst(config.plugins)) {
        if (!loadPlugin(name, error)) {
            shutdown();
            return false;
        }
    }
    if (plugins.empty()) {
        *error = QStringLiteral("no plug-in started");
        return false;
    }
    if (!config.infoDb.isSet() && !config.kexDb.isSet()) {
        // Otherwise every plug-in would report its own "Driver not loaded".
        *error = QStringLiteral("no database configured: name one in [KexDB] (and the tenants' "
                                "information database in [InfoDB])");
        shutdown();
        return false;
    }

    dbManager = std::make_unique<DBManager>();
    dbManager->setDebugLevel(static_cast<unsigned char>(config.debugLevel));
    dbManager->setCloseInfoDB(config.closeInfoDB);
    dbManager->setMaxConnections(config.maxConnections);
    dbManager->setLeaseSeconds(config.leaseSeconds);
    if (config.kexDb.isSet()) {
        kexDb = openCentral(config.kexDb, QStringLiteral("YXA.KEXDB"));
        if (!kexDb.open())
            qCWarning(lcHost) << "yxa-host: KEX database" << config.kexDb.database
                              << "cannot be opened:" << kexDb.lastError().text();
        dbManager->setKexDB(kexDb);
    } else {
        qCInfo(lcHost) << "yxa-host: no KEX database configured ([KexDB]); the plug-ins serve "
                          "the tenants of the information database only";
    }
    if (config.infoDb.isSet()) {
        dbManager->setInfoDB(openCentral(config.infoDb, QStringLiteral("YXA.InfoDB")));
        if (!dbManager->isInfoDB()) {
            qCWarning(lcHost).nospace().noquote()
                << "yxa-host: information database \"" << config.infoDb.database << "\" "
                << whyNotOpen(dbManager->getInfoDB(), false)
                << "; the plug-ins start once it answers (next try in " << config.infoDBRetry
                << " s)";
            infoRetryTimer.setInterval(config.infoDBRetry * 1000);
            connect(&infoRetryTimer, &QTimer::timeout, this, &PluginHost::retryInfoDatabase,
                Qt::UniqueConnection);
            infoRetryTimer.start();
            return true;
        }
    }
    return startPlugins(error);
}

void PluginHost::retryInfoDatabase()
{
    if (!dbManager)
        return;
    // No plug-in uses the manager yet, so re-setting the handle is safe; it
    // opens the database and records whether it answered.
    dbManager->setInfoDB(dbManager->getInfoDB());
    if (!dbManager->isInfoDB()) {
        qCWarning(lcHost).nospace().noquote()
            << "yxa-host: information database \"" << config.infoDb.database << "\" "
            << whyNotOpen(dbManager->getInfoDB(), true) << " (next try in " << config.infoDBRetry
            << " s)";
        return;
    }
    infoRetryTimer.stop();
    qCInfo(lcHost).nospace().noquote() << "yxa-host: information database \"" << config.infoDb.database
                             << "\" answers; starting the plug-ins";
    QString error;
    if (!startPlugins(&error)) {
        qCCritical(lcHost).noquote() << "yxa-host:" << error;
        QCoreApplication::exit(1);
    }
}

bool PluginHost::loadPlugin(const QString &name, QString *error)
{
    const QString path = QDir(pluginDir).filePath(QStringLiteral("lib%1.so").arg(name));
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("unknown plug-in '%1' (no %2)").arg(name, path);
        return false;
    }
    LoadedPlugin plugin;
    plugin.name = name;
    plugin.loader = std::make_unique<QPluginLoader>(path);
    plugin.instance = plugin.loader->instance();
    if (!plugin.instance) {
        *error = QStringLiteral("plug-in '%1' does not load: %2").arg(name, plugin.loader->errorString());
        return false;
    }
    plugin.server = qobject_cast<ServerInterface *>(plugin.instance);
    const bool complete = plugin.server && qobject_cast<DatabaseManagerInterface *>(plugin.instance)
        && qobject_cast<VerInfoInterface *>(plugin.instance);
    if (!complete) {
        *error = QStringLiteral("plug-in '%1' does not implement the host interfaces").arg(name);
        plugin.server = nullptr;
    }
    plugins.push_back(std::move(plugin));
    return complete;
}

bool PluginHost::startPlugins(QString *error)
{
    for (LoadedPlugin &plugin : plugins) {
        qobject_cast<DatabaseManagerInterface *>(plugin.instance)->setDBManager(dbManager.get());
        plugin.server->setDebugLevel(static_cast<unsigned char>(config.debugLevel));
        plugin.server->setDatabase(kexDb);
        plugin.started = plugin.server->start();
        const QMap<QString, QString> info = qobject_cast<VerInfoInterface *>(plugin.instance)->getVerInfo();
        QStringList parts;
        for (auto it = info.cbegin(); it != info.cend(); ++it)
            parts << it.key() + QLatin1Char('=') + it.value();
        MetricsRegistry::gauge("yxa_plugin_info",
            { { "plugin", plugin.name.toUtf8() },
                { "version", info.value(QStringLiteral("VER")).toUtf8() } },
            1);
        qCInfo(lcHost).noquote() << "yxa-host: plug-in" << plugin.name
                                 << (plugin.started ? "started" : "did NOT start") << "-"
                                 << parts.join(QLatin1String(", "));
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
    checkInfoDatabase();
    infoCheckTimer.start();
    running = true;
    emit started();
    return true;
}

void PluginHost::shutdown()
{
    cleanupTimer.stop();
    infoRetryTimer.stop();
    infoCheckTimer.stop();
    running = false;
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
