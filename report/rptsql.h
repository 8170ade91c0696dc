#pragma once

#include "rptdsabstract.h"
#include "rptsqlconnection.h"

#include <QImage>
#include <QSqlDatabase>
#include <QStringList>

class QSqlQuery;

// An SQL data source: one query run once per print, its rows kept as text.
// The connection is registered under dbConnectionName (Qt's default name when
// empty) and removed again when the source is destroyed.
class RptSql : public RptDsAbstract
{
    Q_OBJECT

public:
    explicit RptSql(QObject *parent = nullptr);
    ~RptSql() override;

    void setConnection(const RptSqlConnection &connection);
    bool openQuery();
    QImage getFieldImage(const QString &fieldName, int recNo);
    QStringList columnNames() const { return m_columns; }
    QString connectionName() const { return m_connectionName; }

public slots:
    void loadXML(const QDomElement &e) override;
    QString getFieldValue(const QString &fieldName, int recNo) override;

private:
    // Whether recNo can be read; logs why not.
    bool seek(int recNo);

    QString m_dbType;
    QString m_dbName;
    QString m_dbHost;
    QString m_dbUser;
    QString m_dbPassword;
    int m_dbPort = 0;
    QString m_dbConnectionName;
    QString m_sqlQuery;
    QString m_dbCoding;
    QString m_charsetCoding;
    QString m_connectionName;
    QSqlDatabase m_db;
    QSqlQuery *m_query = nullptr;
    QStringList m_columns;
    QList<QStringList> m_rows;
};
