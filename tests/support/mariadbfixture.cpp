#include "mariadbfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QThread>

namespace {
QString readFirstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readLine()).trimmed();
}

QString quoteIdentifier(const QString &name)
{
    QString q = name;
    q.replace(QLatin1Char('`'), QLatin1String("``"));
    return QLatin1Char('`') + q + QLatin1Char('`');
}

QString quoteString(const QString &text)
{
    QString q = text;
    q.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    q.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}
} // namespace

QString MariaDbFixture::serverDir()
{
    return qEnvironmentVariable("YXA_TEST_MARIADB_DIR");
}

QString MariaDbFixture::sqlDir()
{
    const QString source = qEnvironmentVariable("YXA_SOURCE_DIR");
    return (source.isEmpty() ? QStringLiteral(".") : source) + QStringLiteral("/sql");
}

int MariaDbFixture::port()
{
    return readFirstLine(serverDir() + QStringLiteral("/port")).toInt();
}

QString MariaDbFixture::rootPassword()
{
    return readFirstLine(serverDir() + QStringLiteral("/root-password"));
}

bool MariaDbFixture::isAvailable(QString *why)
{
    if (serverDir().isEmpty()) {
        if (why)
            *why = QStringLiteral("YXA_TEST_MARIADB_DIR is not set: run under ctest (the mariadb fixture)");
        return false;
    }
    if (port() <= 0) {
        if (why)
            *why = QStringLiteral("no test MariaDB server is running in %1").arg(serverDir());
        return false;
    }
    QSqlDatabase db = rootConnection();
    if (!db.isOpen()) {
        if (why)
            *why = QStringLiteral("cannot connect to the test MariaDB: %1").arg(db.lastError().text());
        return false;
    }
    return true;
}

QSqlDatabase MariaDbFixture::connection(const QString &connectionName, const QString &database, const QString &user,
                                        const QString &password)
{
    QSqlDatabase db = QSqlDatabase::contains(connectionName)
        ? QSqlDatabase::database(connectionName, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connectionName);
    db.setHostName(host());
    db.setPort(port());
    db.setDatabaseName(database);
    db.setUserName(user);
    db.setPassword(password);
    return db;
}

QSqlDatabase MariaDbFixture::rootConnection(const QString &connectionName, const QString &database)
{
    // Connections belong to a thread; give each thread its own root connection.
    QString name = connectionName;
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        name += QString::asprintf("@%p", static_cast<void *>(QThread::currentThreadId()));
    QSqlDatabase db = connection(name, database, QStringLiteral("root"), rootPassword());
    if (db.isOpen() && db.databaseName() != database)
        db.close();
    if (!db.isOpen())
        db.open();
    return db;
}

bool MariaDbFixture::exec(QSqlDatabase db, const QString &sql, QString *error)
{
    QSqlQuery query(db);
    if (!query.exec(sql)) {
        if (error)
            *error = query.lastError().text() + QStringLiteral(" in: ") + sql.left(300);
        return false;
    }
    return true;
}

QVariant MariaDbFixture::scalar(QSqlDatabase db, const QString &sql)
{
    QSqlQuery query(db);
    if (query.exec(sql) && query.next())
        return query.value(0);
    return QVariant();
}

QStringList MariaDbFixture::splitStatements(const QString &text)
{
    QStringList statements;
    QString current;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1String("--")) || trimmed.isEmpty())
            continue;
        current += line + QLatin1Char('\n');
        if (trimmed.endsWith(QLatin1Char(';'))) {
            statements << current.trimmed();
            current.clear();
        }
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

bool MariaDbFixture::runSqlFile(QSqlDatabase db, const QString &path, QString *error)
{
    QString file = path;
    if (QDir::isRelativePath(file))
        file = sqlDir() + QLatin1Char('/') + file;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1").arg(file);
        return false;
    }
    const QStringList statements = splitStatements(QString::fromUtf8(in.readAll()));
    for (const QString &statement : statements) {
        if (!exec(db, statement, error))
            return false;
    }
    return true;
}

bool MariaDbFixture::createDatabase(const QString &database, const QString &user, const QString &password,
                                    const QStringList &sqlFiles, QString *error)
{
    QSqlDatabase root = rootConnection();
    if (!root.isOpen()) {
        if (error)
            *error = root.lastError().text();
        return false;
    }
    const QString db = quoteIdentifier(database);
    QStringList statements { QStringLiteral("DROP DATABASE IF EXISTS %1").arg(db),
                             QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci").arg(db) };
    if (!user.isEmpty()) {
        const QString account = quoteString(user) + QStringLiteral("@'%'");
        statements << QStringLiteral("DROP USER IF EXISTS %1").arg(account)
                   << QStringLiteral("CREATE USER %1 IDENTIFIED BY %2").arg(account, quoteString(password))
                   << QStringLiteral("GRANT ALL PRIVILEGES ON %1.* TO %2").arg(db, account);
    }
    for (const QString &statement : statements) {
        if (!exec(root, statement, error))
            return false;
    }
    if (sqlFiles.isEmpty())
        return true;
    QSqlDatabase target = rootConnection(QStringLiteral("yxa.test.root.") + database, database);
    if (!target.isOpen()) {
        if (error)
            *error = target.lastError().text();
        return false;
    }
    bool ok = true;
    for (const QString &file : sqlFiles) {
        if (!runSqlFile(target, file, error)) {
            ok = false;
            break;
        }
    }
    return ok;
}

bool MariaDbFixture::dropDatabase(const QString &database, const QString &user)
{
    QSqlDatabase root = rootConnection();
    bool ok = exec(root, QStringLiteral("DROP DATABASE IF EXISTS %1").arg(quoteIdentifier(database)));
    if (!user.isEmpty())
        ok = exec(root, QStringLiteral("DROP USER IF EXISTS %1@'%'").arg(quoteString(user))) && ok;
    return ok;
}

bool MariaDbFixture::createInfoDatabase(const QString &database, QString *error)
{
    return createDatabase(database, QString(), QString(), { QStringLiteral("info.sql") }, error);
}

bool MariaDbFixture::createTenant(const QString &infoDatabase, const QString &token, const QString &database,
                                  int status, const QStringList &sqlFiles, QString *error)
{
    if (!createDatabase(database, database, tenantPassword(database), sqlFiles, error))
        return false;
    QSqlDatabase info = rootConnection(QStringLiteral("yxa.test.root.") + infoDatabase, infoDatabase);
    QSqlQuery query(info);
    query.prepare(QStringLiteral("INSERT INTO `schemas` (token, name, user, pass, status) VALUES (?, ?, ?, ?, ?)"));
    query.addBindValue(token);
    query.addBindValue(database);
    query.addBindValue(database);
    query.addBindValue(QString::fromLatin1(tenantPassword(database).toUtf8().toBase64()));
    query.addBindValue(status);
    if (!query.exec()) {
        if (error)
            *error = query.lastError().text();
        return false;
    }
    return true;
}
