#pragma once

#include <QtPlugin>

class DBManager;

// Hands a plug-in the host's one database manager. The manager is owned by
// the host and outlives the plug-in.
class DatabaseManagerInterface
{
public:
    virtual ~DatabaseManagerInterface() = default;
    virtual void setDBManager(DBManager *manager) { dbManager = manager; }

protected:
    DBManager *dbManager = nullptr;
};

#define DatabaseManagerInterface_iid "com.velkor.yxa.DatabaseManagerInterface"
Q_DECLARE_INTERFACE(DatabaseManagerInterface, DatabaseManagerInterface_iid)
