#pragma once

#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <vector>

// The outside world of one end-to-end run: a real SMTP server (aiosmtpd), the
// fake Mandrill API and yxa-host with both plug-ins, all as child processes
// on loopback, stopped when the object goes. Several hosts may run over the
// same information database, each with its own configuration and log.
class SystemRun
{
public:
    SystemRun();
    ~SystemRun();

    bool startSmtpServer(QString *error);
    bool startFakeApi(QString *error);
    // Scripted replies of the fake API from now on (see fake-mandrill.py).
    bool setApiScript(const QJsonObject &script);
    // The API request time-out (seconds) of hosts started from now on.
    void setApiRequestTimeout(int seconds) { m_requestTimeout = seconds; }
    // The database server and account the hosts use; the test fixture's
    // server as root unless set before a host starts.
    void setDatabaseServer(int port, const QString &user, const QString &password);
    // Writes yxa.ini and host.ini and starts the host (host number 0).
    bool startHost(const QString &infoDatabase, const QString &kexDatabase, QString *error);
    void stopHost();
    bool hostRunning() const;
    QString hostLog() const;

    // Starts one more host; hostKeys are further [Host] lines (e.g.
    // leaseSeconds). Returns its number, or -1 with *error.
    int addHost(const QString &infoDatabase, const QString &kexDatabase, const QMap<QString, QString> &hostKeys,
                QString *error);
    int hostCount() const { return int(m_hosts.size()); }
    qint64 hostPid(int number) const;
    bool hostRunning(int number) const;
    QString hostLog(int number) const;
    // SIGKILL: the host gets no chance to release anything.
    void killHost(int number);
    // SIGSTOP and SIGCONT: a host that stalls and wakes up again.
    void freezeHost(int number, bool frozen);
    void stopHost(int number);

    int smtpPort() const { return m_smtpPort; }
    int apiPort() const { return m_apiPort; }
    QString mailDir() const { return m_dir.filePath(QStringLiteral("mail")); }
    QString workDir() const { return m_dir.path(); }
    QStringList receivedMails() const;
    // The requests the fake API recorded, one JSON object each.
    QList<QJsonObject> apiRequests() const;

    static QString sourceDir();
    static QString binaryDir();

private:
    QProcess *spawn(const QString &program, const QStringList &args, const QString &logName);
    QProcess *host(int number) const;
    static QString hostFile(int number, const QString &base, const QString &suffix);

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    std::vector<QProcess *> m_hosts;
    int m_smtpPort = 0;
    int m_apiPort = 0;
    int m_dbPort = 0;
    int m_requestTimeout = 15;
    QString m_dbUser;
    QString m_dbPassword;
};
