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
class PluginHost : public QObject
{
    Q_OBJECT

public:
    PluginHost(HostConfig config, QString pluginDir, QObject *parent = nullptr);
    ~PluginHost() override;

    // Loads and starts every configured plug-in. False with a one-line reason
    // when a plug-in is unknown, does not cast, or none started.
    bool start(QString *error);
    // Stops and destroys the plug-ins; safe to call twice.
    void shutdown();

    DBManager *manager() const { return dbManager.get(); }

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

    HostConfig config;
    QString pluginDir;
    std::unique_ptr<DBManager> dbManager;
    std::vector<LoadedPlugin> plugins;
    QTimer cleanupTimer;
};
