#pragma once

#include "databasemanagerinterface.h"
#include "serverinterface.h"
#include "verinfointerface.h"

#include <QObject>

// The catering plug-in's main object, loaded by the host.
class Tablora : public QObject, public ServerInterface, public DatabaseManagerInterface, public VerInfoInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.velkor.yxa.ServerInterface" FILE "tablora.json")
    Q_INTERFACES(ServerInterface DatabaseManagerInterface VerInfoInterface)

public:
    explicit Tablora(QObject *parent = nullptr);
    ~Tablora() override;

    QString getVersion() const override;
    QMap<QString, QString> getVerInfo() const override;

    bool start() override;
    void stop() override;
    void pause() override;
    void resume() override;
    void setDatabase(const QSqlDatabase &db) override;
};
