#pragma once

#include <QProcess>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>

// A MariaDB server of this suite's own, which the tests may stop and start
// again on the same port and data directory (the shared fixture's server must
// not be stopped under the other suites). Created with
// tests/support/mariadb-server; stopped by the destructor.
class PrivateMariaDb
{
public:
    PrivateMariaDb() = default;
    ~PrivateMariaDb();
    PrivateMariaDb(const PrivateMariaDb &) = delete;
    PrivateMariaDb &operator=(const PrivateMariaDb &) = delete;

    // A fresh server; empty on success, otherwise why not.
    QString start();
    // Ends the server (SIGTERM, as a shutdown would) and waits until it is gone.
    bool kill();
    // Starts mariadbd again on the same data directory and port.
    QString restart();

    int port() const { return m_port; }
    QString dir() const { return m_dir.path(); }
    bool running() const;

    // A connection (not opened) with the options the database manager uses.
    QSqlDatabase connection(const QString &connectionName, const QString &database,
        const QString &user, const QString &password) const;
    QSqlDatabase root(const QString &connectionName, const QString &database = QString()) const;

    // A tenant database with its own user (password "pw-" + name) and tenant.sql.
    QString createTenant(const QString &database);

private:
    qint64 pid() const;

    QTemporaryDir m_dir { QStringLiteral("/tmp/yxa-faults-db-XXXXXX") };
    int m_port = 0;
    QString m_password;
    QProcess m_server;
};
