#include "smtptestsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryFile>

#ifndef YXA_SOURCE_DIR_DEFAULT
#define YXA_SOURCE_DIR_DEFAULT ""
#endif

namespace SmtpTest {

namespace {
const QString python = QStringLiteral("/usr/bin/python3");

QString run(const QString &program, const QStringList &args, const QString &workDir)
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QLatin1String(": ")
            + QString::fromLocal8Bit(p.readAll());
    return QString();
}
} // namespace

QString sourceDir()
{
    const QString env = qEnvironmentVariable("YXA_SOURCE_DIR");
    return env.isEmpty() ? QStringLiteral(YXA_SOURCE_DIR_DEFAULT) : env;
}

QString makeCertificates(const QString &dir)
{
    const QString openssl = QStringLiteral("openssl");
    QFile ext(dir + QLatin1String("/ext.cnf"));
    if (!ext.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write ext.cnf");
    ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
              "extendedKeyUsage=serverAuth\n");
    ext.close();

    const QList<QStringList> steps = {
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
            QStringLiteral("ca.key"), QStringLiteral("-out"), QStringLiteral("ca.pem"),
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=yxa test CA"), QStringLiteral("-addext"),
            QStringLiteral("basicConstraints=critical,CA:TRUE"), QStringLiteral("-addext"),
            QStringLiteral("keyUsage=critical,keyCertSign,cRLSign") },
        { QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
            QStringLiteral("-nodes"), QStringLiteral("-keyout"), QStringLiteral("server.key"),
            QStringLiteral("-out"), QStringLiteral("server.csr"), QStringLiteral("-subj"),
            QStringLiteral("/CN=localhost") },
        { QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
            QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
            QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
            QStringLiteral("-out"), QStringLiteral("server.pem"), QStringLiteral("-days"),
            QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("ext.cnf") },
    };
    for (const QStringList &args : steps) {
        const QString error = run(openssl, args, dir);
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

QString makeServerCertificate(const QString &caDir, const QString &dir, const QString &name)
{
    QFile ext(dir + QLatin1String("/ext.cnf"));
    if (!ext.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write ext.cnf");
    ext.write("subjectAltName=DNS:" + name.toLatin1()
        + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
    ext.close();
    const QStringList request { QStringLiteral("req"), QStringLiteral("-newkey"),
        QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
        QStringLiteral("server.key"), QStringLiteral("-out"), QStringLiteral("server.csr"),
        QStringLiteral("-subj"), QLatin1String("/CN=") + name };
    const QStringList sign { QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
        QStringLiteral("server.csr"), QStringLiteral("-CA"), caDir + QLatin1String("/ca.pem"),
        QStringLiteral("-CAkey"), caDir + QLatin1String("/ca.key"), QStringLiteral("-set_serial"),
        QStringLiteral("4242"), QStringLiteral("-out"), QStringLiteral("server.pem"),
        QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"),
        QStringLiteral("ext.cnf") };
    for (const QStringList &args : { request, sign }) {
        const QString error = run(QStringLiteral("openssl"), args, dir);
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

QList<QSslCertificate> caCertificates(const QString &dir)
{
    return QSslCertificate::fromPath(dir + QLatin1String("/ca.pem"));
}

QJsonObject dumpEml(const QString &path)
{
    QProcess p;
    p.start(python, { sourceDir() + QLatin1String("/tests/support/smtp-eml-dump.py"), path });
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        QJsonObject failed;
        failed.insert(QStringLiteral("error"), QString::fromLocal8Bit(p.readAllStandardError()));
        return failed;
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

QJsonObject dumpMessage(const QByteArray &message)
{
    QTemporaryFile file;
    if (!file.open())
        return QJsonObject { { QStringLiteral("error"), QStringLiteral("no temporary file") } };
    file.write(message);
    file.close();
    return dumpEml(file.fileName());
}

Server::Server() = default;

Server::~Server()
{
    stop();
}

QString Server::start(
    Mode mode, const QString &certDir, const QString &user, const QString &password)
{
    if (!m_dir.isValid())
        return QStringLiteral("no temporary directory");
    static const char *const modes[] = { "plain", "tls", "starttls" };
    QStringList args { sourceDir() + QLatin1String("/tests/support/smtp-server.py"),
        QStringLiteral("--maildir"), maildir(), QStringLiteral("--mode"),
        QString::fromLatin1(modes[mode]) };
    if (!certDir.isEmpty())
        args << QStringLiteral("--cert") << certDir + QLatin1String("/server.pem")
             << QStringLiteral("--key") << certDir + QLatin1String("/server.key");
    if (!user.isEmpty())
        args << QStringLiteral("--user") << user << QStringLiteral("--password") << password;

    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(python, args);
    if (!m_process.waitForStarted(10000))
        return QStringLiteral("smtp-server.py did not start: ") + m_process.errorString();
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(20000))
            return QStringLiteral("smtp-server.py is not ready: ")
                + QString::fromLocal8Bit(m_process.readAllStandardError());
    }
    const QByteArray line = m_process.readLine().trimmed();
    if (!line.startsWith("READY "))
        return QStringLiteral("unexpected output of smtp-server.py: ") + QString::fromLatin1(line);
    m_port = quint16(line.mid(6).toUInt());
    return QString();
}

void Server::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString Server::maildir() const
{
    return m_dir.path() + QLatin1String("/mail");
}

int Server::messageCount() const
{
    return QDir(maildir()).entryList({ QStringLiteral("*.eml") }, QDir::Files).size();
}

QString Server::emlPath(int index) const
{
    return maildir() + QStringLiteral("/%1.eml").arg(index, 4, 10, QLatin1Char('0'));
}

QByteArray Server::eml(int index) const
{
    QFile file(emlPath(index));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QJsonObject Server::envelope(int index) const
{
    QFile file(maildir() + QStringLiteral("/%1.json").arg(index, 4, 10, QLatin1Char('0')));
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace SmtpTest
