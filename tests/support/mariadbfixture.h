#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QVariant>

// Access to the private MariaDB server that the test run starts (see
// tests/support/mariadb-server and the "mariadb" CTest fixture). The server's
// directory comes from YXA_TEST_MARIADB_DIR; its port and root password are
// files in it.
//
// Tenant databases are real databases with their own MySQL user, listed in an
// information database's `schemas` with a Base64 password, so that
// DBManager::getDatabase() connects exactly as it does in production.
class MariaDbFixture
{
public:
    static bool isAvailable(QString *why = nullptr);
    static QString host() { return QStringLiteral("127.0.0.1"); }
    static int port();
    static QString rootPassword();
    static QString serverDir();
    static QString sqlDir();

    // An open root connection registered under connectionName (reused when
    // already registered in this thread), optionally on a database.
    static QSqlDatabase rootConnection(const QString &connectionName = QStringLiteral("yxa.test.root"),
                                       const QString &database = QString());

    // A QMYSQL connection (not opened) to database as user.
    static QSqlDatabase connection(const QString &connectionName, const QString &database, const QString &user,
                                   const QString &password);

    // Drops and creates database, creates (or re-creates) user with password
    // and full rights on it, then runs the given files of sql/ in it
    // ("tenant.sql", "catering.sql", "info.sql").
    static bool createDatabase(const QString &database, const QString &user, const QString &password,
                               const QStringList &sqlFiles, QString *error = nullptr);
    static bool dropDatabase(const QString &database, const QString &user = QString());

    // An information database `schemas` table holding one row per tenant.
    static bool createInfoDatabase(const QString &database, QString *error = nullptr);
    // Creates the tenant database (user = database name, password "pw-" + database)
    // and adds its `schemas` row to the information database.
    static bool createTenant(const QString &infoDatabase, const QString &token, const QString &database, int status,
                             const QStringList &sqlFiles, QString *error = nullptr);
    static QString tenantPassword(const QString &database) { return QStringLiteral("pw-") + database; }

    static bool runSqlFile(QSqlDatabase db, const QString &path, QString *error = nullptr);
    static bool exec(QSqlDatabase db, const QString &sql, QString *error = nullptr);
    // The first column of the first row, or an invalid variant.
    static QVariant scalar(QSqlDatabase db, const QString &sql);

    // Splits a file of statements at ';' line ends (no procedures in our files).
    static QStringList splitStatements(const QString &text);
};

// A SQL step that fails says why.
#define QVERIFY_SQL(q, stmt) QVERIFY2((q).stmt, qPrintable((q).lastError().text()))

// Skips (in a test function) when there is no test server at all, and fails
// when the fixture said there is one but it cannot be reached.
#define YXA_REQUIRE_MARIADB()                                                                     \
    do {                                                                                          \
        QString yxaWhy;                                                                           \
        if (!MariaDbFixture::isAvailable(&yxaWhy))                                                \
            QFAIL(qPrintable(yxaWhy));                                                            \
    } while (false)
