#pragma once

#include "hostconfig.h"

#include <QObject>
#include <QPointer>
#include <QSqlDatabase>
#include <QTimer>
#include <memory>
#include <vector>

class DBManager;
class QPluginLoader;
class ServerInterface;

// Plays the host server's part: one DBManager for everybody, the plug-ins
// loaded through QPluginLoader and driven through the host interfaces in the
// order they rely on (setDBManager, setDebugLevel, setDatabase, start).
//
// A plug-in decides once, when it starts, whether it serves the tenants of
// the information database or the KEX database alone. So with an information
// database configured but not answering, the plug-ins are loaded but started
// only once it answers; it is tried again every infoDBRetry seconds.
class PluginHost : public QObject
{
    Q_OBJECT

public:
    PluginHost(HostConfig config, QString pluginDir, QObject *parent = nullptr);
    ~PluginHost() override;

    // Loads and starts every configured plug-in. False with a one-line reason
    // when a plug-in is unknown, does not cast, no database is configured, or
    // none started. When the start waits for the information database, a
    // later start in which no plug-in starts ends the application with 1.
    bool start(QString *error);
    // Stops and destroys the plug-ins; safe to call twice.
    void shutdown();

    DBManager *manager() const { return dbManager.get(); }
    bool pluginsStarted() const { return running; }

    // Settings that can change at run time, after a reload: the debug level
    // reaches the manager and every plug-in, then each plug-in that follows
    // changes (ReloadInterface) reads its own settings again.
    void applyReload(const HostConfig &next);

signals:
    // The plug-ins run (also after a late start on the information database).
    void started();

private:
    struct LoadedPlugin
    {
        QString name;
        std::unique_ptr<QPluginLoader> loader;
        QPointer<QObject> instance;
        ServerInterface *server = nullptr;
        bool started = false;
    };

    QSqlDatabase openCentral(const DatabaseConfig &config, const QString &connectionName);
    bool loadPlugin(const QString &name, QString *error);
    bool startPlugins(QString *error);
    void retryInfoDatabase();
    // Asks the information database for a sign of life, for the health check.
    void checkInfoDatabase();

    HostConfig config;
    QString pluginDir;
    std::unique_ptr<DBManager> dbManager;
    std::vector<LoadedPlugin> plugins;
    QTimer cleanupTimer;
    QTimer infoRetryTimer;
    QTimer infoCheckTimer;
    bool running = false;
    QSqlDatabase kexDb;
};
