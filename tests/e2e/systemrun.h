#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <vector>

// The outside world of one end-to-end run: a real SMTP server (aiosmtpd), the
// fake Mandrill API and yxa-host with both plug-ins, all as child processes
// on loopback, stopped when the object goes.
class SystemRun
{
public:
    SystemRun();
    ~SystemRun();

    bool startSmtpServer(QString *error);
    bool startFakeApi(QString *error);
    // Writes yxa.ini and host.ini and starts the host.
    bool startHost(const QString &infoDatabase, const QString &kexDatabase, QString *error);
    void stopHost();
    bool hostRunning() const;
    QString hostLog() const;

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

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QProcess *m_host = nullptr;
    int m_smtpPort = 0;
    int m_apiPort = 0;
};
