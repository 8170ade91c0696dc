#pragma once

#include "databasemanagerinterface.h"
#include "serverinterface.h"
#include "verinfointerface.h"

#include <QObject>

// The mailing plug-in's main object, loaded by the host.
class MailingPlugin : public QObject, public ServerInterface, public DatabaseManagerInterface, public VerInfoInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.velkor.yxa.ServerInterface" FILE "mailingplugin.json")
    Q_INTERFACES(ServerInterface DatabaseManagerInterface VerInfoInterface)

public:
    explicit MailingPlugin(QObject *parent = nullptr);
    ~MailingPlugin() override;

    QString getVersion() const override;
    QMap<QString, QString> getVerInfo() const override;

    bool start() override;
    void stop() override;
    void pause() override;
    void resume() override;
};
