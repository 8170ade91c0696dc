#include "systemrun.h"

#include "mariadbfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QThread>

#include <csignal>
#include <sys/types.h>

namespace {
const QString python = QStringLiteral("/usr/bin/python3");

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(text.toUtf8());
    return true;
}
} // namespace

SystemRun::SystemRun()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("mail"));
    QDir(m_dir.path()).mkpath(QStringLiteral("etc"));
    QDir(m_dir.path()).mkpath(QStringLiteral("log"));
}

SystemRun::~SystemRun()
{
    stopHost();
    for (auto &process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(2000);
            }
        }
    }
}

QString SystemRun::sourceDir()
{
    return qEnvironmentVariable("YXA_SOURCE_DIR");
}

QString SystemRun::binaryDir()
{
    return qEnvironmentVariable("YXA_BINARY_DIR");
}

QProcess *SystemRun::spawn(const QString &program, const QStringList &args, const QString &logName)
{
    auto process = std::make_unique<QProcess>();
    process->setStandardErrorFile(m_dir.filePath(logName));
    process->start(program, args);
    m_processes.push_back(std::move(process));
    return m_processes.back().get();
}

bool SystemRun::startSmtpServer(QString *error)
{
    QProcess *smtp = spawn(python,
                           { sourceDir() + QStringLiteral("/tests/support/smtp-server.py"), QStringLiteral("--maildir"),
                             mailDir(), QStringLiteral("--mode"), QStringLiteral("plain") },
                           QStringLiteral("smtp.log"));
    QByteArray out;
    const bool ready = waitFor(
        [&] {
            smtp->waitForReadyRead(50);
            out += smtp->readAllStandardOutput();
            return out.contains("READY ") && out.contains('\n');
        },
        20000);
    if (!ready) {
        *error = QStringLiteral("the SMTP server did not start: ") + QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("smtp.log"))));
        return false;
    }
    const int at = out.indexOf("READY ");
    m_smtpPort = out.mid(at + 6, out.indexOf('\n', at) - at - 6).trimmed().toInt();
    return m_smtpPort > 0;
}

bool SystemRun::startFakeApi(QString *error)
{
    const QString portFile = m_dir.filePath(QStringLiteral("api.port"));
    spawn(python,
          { sourceDir() + QStringLiteral("/tests/support/fake-mandrill.py"), QStringLiteral("--record"),
            m_dir.filePath(QStringLiteral("api.jsonl")), QStringLiteral("--port-file"), portFile,
            QStringLiteral("--script"), m_dir.filePath(QStringLiteral("api-script.json")),
            QStringLiteral("--max-seconds"), QStringLiteral("3600") },
          QStringLiteral("api.log"));
    if (!waitFor([&] { return !readFile(portFile).trimmed().isEmpty(); }, 20000)) {
        *error = QStringLiteral("the fake API did not start: ") + QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("api.log"))));
        return false;
    }
    m_apiPort = readFile(portFile).trimmed().toInt();
    return m_apiPort > 0;
}

bool SystemRun::setApiScript(const QJsonObject &script)
{
    return writeFile(m_dir.filePath(QStringLiteral("api-script.json")),
        QString::fromUtf8(QJsonDocument(script).toJson()));
}

void SystemRun::setDatabaseServer(int port, const QString &user, const QString &password)
{
    m_dbPort = port;
    m_dbUser = user;
    m_dbPassword = password;
}

// The first host keeps the plain names (host.ini, host.log, log/); the others
// are numbered (host-1.ini, host-1.log, log-1/).
QString SystemRun::hostFile(int number, const QString &base, const QString &suffix)
{
    return number == 0 ? base + suffix : QStringLiteral("%1-%2%3").arg(base).arg(number).arg(suffix);
}

bool SystemRun::startHost(const QString &infoDatabase, const QString &kexDatabase, QString *error)
{
    if (!m_hosts.empty()) {
        *error = QStringLiteral("the first host is already running");
        return false;
    }
    return addHost(infoDatabase, kexDatabase, {}, error) == 0;
}

int SystemRun::addHost(const QString &infoDatabase, const QString &kexDatabase, const QMap<QString, QString> &hostKeys,
                       QString *error)
{
    const int number = int(m_hosts.size());
    const QString yxaIni = QStringLiteral("[MailingPlugin]\ninterval=5\ncheckInterval=10\napiUrl=http://127.0.0.1:%1\n"
                                          "requestTimeout=%2\n")
                               .arg(m_apiPort)
                               .arg(m_requestTimeout);
    const int dbPort = m_dbPort > 0 ? m_dbPort : MariaDbFixture::port();
    const QString dbUser = m_dbUser.isEmpty() ? QStringLiteral("root") : m_dbUser;
    const QString dbPassword = m_dbUser.isEmpty() ? MariaDbFixture::rootPassword() : m_dbPassword;
    auto section = [&](const QString &group, const QString &database) {
        return QStringLiteral("[%1]\nhost=127.0.0.1\nport=%2\ndatabase=%3\nuser=%4\npassword=%5\n\n")
            .arg(group)
            .arg(dbPort)
            .arg(database, dbUser, dbPassword);
    };
    QString hostIni = section(QStringLiteral("InfoDB"), infoDatabase) + section(QStringLiteral("KexDB"), kexDatabase)
        + QStringLiteral("[Host]\nplugins=mailing,tablora\ndebugLevel=1\n");
    for (auto key = hostKeys.cbegin(); key != hostKeys.cend(); ++key)
        hostIni += key.key() + QLatin1Char('=') + key.value() + QLatin1Char('\n');
    const QString iniPath = m_dir.filePath(QStringLiteral("etc/") + hostFile(number, QStringLiteral("host"), QStringLiteral(".ini")));
    const QString logDir = m_dir.filePath(hostFile(number, QStringLiteral("log"), QString()));
    QDir().mkpath(logDir);
    if (!writeFile(m_dir.filePath(QStringLiteral("etc/yxa.ini")), yxaIni) || !writeFile(iniPath, hostIni)) {
        *error = QStringLiteral("cannot write the configuration");
        return -1;
    }
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("YXA_DATA_DIR"), m_dir.filePath(QStringLiteral("etc")));
    env.insert(QStringLiteral("YXA_LOG_DIR"), logDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardOutputFile(m_dir.filePath(hostFile(number, QStringLiteral("host"), QStringLiteral(".log"))));
    process->start(binaryDir() + QStringLiteral("/bin/yxa-host"),
                   { QStringLiteral("--config"), iniPath, QStringLiteral("--plugins"), binaryDir() + QStringLiteral("/plugins") });
    if (!process->waitForStarted(10000)) {
        *error = QStringLiteral("yxa-host did not start");
        return -1;
    }
    m_hosts.push_back(process.get());
    m_processes.push_back(std::move(process));
    return number;
}

QProcess *SystemRun::host(int number) const
{
    return number >= 0 && number < int(m_hosts.size()) ? m_hosts[size_t(number)] : nullptr;
}

void SystemRun::stopHost()
{
    for (int number = 0; number < hostCount(); ++number)
        stopHost(number);
}

void SystemRun::stopHost(int number)
{
    QProcess *process = host(number);
    if (process && process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(30000))
            process->kill();
        process->waitForFinished(5000);
    }
}

void SystemRun::freezeHost(int number, bool frozen)
{
    QProcess *process = host(number);
    if (process && process->state() != QProcess::NotRunning)
        ::kill(pid_t(process->processId()), frozen ? SIGSTOP : SIGCONT);
}

void SystemRun::killHost(int number)
{
    QProcess *process = host(number);
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
}

qint64 SystemRun::hostPid(int number) const
{
    QProcess *process = host(number);
    return process ? process->processId() : 0;
}

bool SystemRun::hostRunning() const
{
    return hostRunning(0);
}

bool SystemRun::hostRunning(int number) const
{
    QProcess *process = host(number);
    return process && process->state() == QProcess::Running;
}

QString SystemRun::hostLog() const
{
    return hostLog(0);
}

QString SystemRun::hostLog(int number) const
{
    return QString::fromUtf8(readFile(m_dir.filePath(hostFile(number, QStringLiteral("host"), QStringLiteral(".log")))));
}

QStringList SystemRun::receivedMails() const
{
    QStringList mails;
    const QStringList names = QDir(mailDir()).entryList({ QStringLiteral("*.eml") }, QDir::Files, QDir::Name);
    for (const QString &name : names)
        mails << QDir(mailDir()).filePath(name);
    return mails;
}

QList<QJsonObject> SystemRun::apiRequests() const
{
    QList<QJsonObject> requests;
    const QList<QByteArray> lines = readFile(m_dir.filePath(QStringLiteral("api.jsonl"))).split('\n');
    for (const QByteArray &line : lines) {
        if (!line.trimmed().isEmpty())
            requests << QJsonDocument::fromJson(line).object();
    }
    return requests;
}
