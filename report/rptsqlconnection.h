#pragma once

#include <QMetaType>
#include <QString>

// Description of an SQL data source, set by a caller in code or read from a
// template's "DataSource" element of type "SQL".
struct RptSqlConnection
{
    bool active = false;
    int reportPage = 0;
    QString dsName;
    QString dbType;
    QString dbName;
    QString dbHost;
    QString dbUser;
    QString dbPassword;
    int dbPort = 0;
    QString dbConnectionName;
    QString sqlQuery;
    QString dbCoding;
    QString charsetCoding;
};
Q_DECLARE_METATYPE(RptSqlConnection)
