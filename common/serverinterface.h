#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QtPlugin>

// The lifecycle contract between the host server and a plug-in. The host is
// built against this very header, so the order and signatures of the virtual
// operations are binding: do not reorder, insert or remove any of them.
class ServerInterface
{
public:
    virtual ~ServerInterface() = default;
    virtual QString getVersion() const = 0;
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void setDebugLevel(unsigned char level) { debugLevel = level; }
    virtual void setDatabase(const QSqlDatabase &db) { database = db; }

protected:
    unsigned char debugLevel = 0;
    QSqlDatabase database;
};

#define ServerInterface_iid "com.velkor.yxa.ServerInterface"
Q_DECLARE_INTERFACE(ServerInterface, ServerInterface_iid)
