#include "privatemariadb.h"

#include "mariadbfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTcpSocket>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>
#include <sys/types.h>

namespace {
const QString kConnectOptions = QStringLiteral("MYSQL_OPT_RECONNECT=1;CLIENT_IGNORE_SPACE=1");

QString script()
{
    return qEnvironmentVariable("YXA_SOURCE_DIR", QStringLiteral(YXA_TEST_SOURCE_DIR))
        + QStringLiteral("/tests/support/mariadb-server");
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}
} // namespace

PrivateMariaDb::~PrivateMariaDb()
{
    if (m_port) {
        QProcess stop;
        stop.start(script(), { QStringLiteral("stop"), m_dir.path() });
        stop.waitForFinished(40000);
    }
    if (m_server.state() != QProcess::NotRunning)
        m_server.waitForFinished(5000);
}

QString PrivateMariaDb::start()
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(script(), { QStringLiteral("start"), m_dir.path() });
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return QStringLiteral("mariadb-server start failed: %1")
            .arg(QString::fromLocal8Bit(process.readAll()));
    m_port = readFile(m_dir.filePath(QStringLiteral("port"))).toInt();
    m_password = QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("root-password"))));
    return m_port ? QString() : QStringLiteral("no port file");
}

qint64 PrivateMariaDb::pid() const
{
    return readFile(m_dir.filePath(QStringLiteral("mysqld.pid"))).toLongLong();
}

bool PrivateMariaDb::running() const
{
    const qint64 p = pid();
    return p > 0 && ::kill(pid_t(p), 0) == 0;
}

bool PrivateMariaDb::kill()
{
    const qint64 p = pid();
    if (p <= 0 || ::kill(pid_t(p), SIGTERM) != 0)
        return false;
    QElapsedTimer timer;
    timer.start();
    while (::kill(pid_t(p), 0) == 0 && timer.elapsed() < 30000)
        QThread::msleep(100);
    if (m_server.state() != QProcess::NotRunning)
        m_server.waitForFinished(5000);
    return ::kill(pid_t(p), 0) != 0;
}

QString PrivateMariaDb::restart()
{
    const QString dir = m_dir.path();
    m_server.setProcessChannelMode(QProcess::ForwardedChannels);
    m_server.start(QStringLiteral("/usr/sbin/mariadbd"),
        { QStringLiteral("--no-defaults"), QStringLiteral("--datadir=") + dir + QStringLiteral("/data"),
            QStringLiteral("--socket=") + dir + QStringLiteral("/mysqld.sock"),
            QStringLiteral("--pid-file=") + dir + QStringLiteral("/mysqld.pid"),
            QStringLiteral("--port=%1").arg(m_port), QStringLiteral("--bind-address=127.0.0.1"),
            QStringLiteral("--tmpdir=") + dir + QStringLiteral("/tmp"),
            QStringLiteral("--log-error=") + dir + QStringLiteral("/error.log"),
            QStringLiteral("--user=") + QString::fromLocal8Bit(getpwuid(getuid())->pw_name),
            QStringLiteral("--skip-name-resolve"), QStringLiteral("--max-connections=2000"),
            QStringLiteral("--innodb-buffer-pool-size=64M"),
            QStringLiteral("--innodb-log-file-size=16M"),
            QStringLiteral("--character-set-server=utf8mb4"),
            QStringLiteral("--collation-server=utf8mb4_unicode_ci") });
    if (!m_server.waitForStarted(10000))
        return QStringLiteral("mariadbd did not start: %1").arg(m_server.errorString());
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 60000) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
        if (probe.waitForConnected(500) && running())
            return QString();
        if (m_server.state() == QProcess::NotRunning)
            return QStringLiteral("mariadbd ended, see %1/error.log").arg(dir);
        QThread::msleep(200);
    }
    return QStringLiteral("mariadbd did not listen on %1").arg(m_port);
}

QSqlDatabase PrivateMariaDb::connection(const QString &connectionName, const QString &database,
    const QString &user, const QString &password) const
{
    QSqlDatabase db = QSqlDatabase::contains(connectionName)
        ? QSqlDatabase::database(connectionName, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connectionName);
    db.setHostName(QStringLiteral("127.0.0.1"));
    db.setPort(m_port);
    db.setDatabaseName(database);
    db.setUserName(user);
    db.setPassword(password);
    db.setConnectOptions(kConnectOptions);
    return db;
}

QSqlDatabase PrivateMariaDb::root(const QString &connectionName, const QString &database) const
{
    QSqlDatabase db = connection(connectionName, database, QStringLiteral("root"), m_password);
    if (!db.isOpen())
        db.open();
    return db;
}

QString PrivateMariaDb::createTenant(const QString &database)
{
    QSqlDatabase db = root(QStringLiteral("faults.private.root"));
    if (!db.isOpen())
        return db.lastError().text();
    const QString password = QStringLiteral("pw-") + database;
    QString error;
    for (const QString &sql : { QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(database),
             QStringLiteral("CREATE DATABASE `%1`").arg(database),
             QStringLiteral("CREATE OR REPLACE USER '%1'@'127.0.0.1' IDENTIFIED BY '%2'").arg(database, password),
             QStringLiteral("GRANT ALL ON `%1`.* TO '%1'@'127.0.0.1'").arg(database) })
        if (!MariaDbFixture::exec(db, sql, &error))
            return error;
    QSqlDatabase tenant = root(QStringLiteral("faults.private.root.") + database, database);
    if (!MariaDbFixture::runSqlFile(tenant, MariaDbFixture::sqlDir() + QStringLiteral("/tenant.sql"), &error))
        return error.isEmpty() ? QStringLiteral("tenant.sql failed") : error;
    return QString();
}
