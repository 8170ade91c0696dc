#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// One SMTP peer as a child process on a free loopback port: either the real
// aiosmtpd server of tests/support/smtp-server.py, which stores what it
// accepts in a maildir, or the misbehaving tests/faults/fault-smtp.py.
// Stopped by the destructor.
class SmtpPeer
{
public:
    SmtpPeer() = default;
    ~SmtpPeer();
    SmtpPeer(const SmtpPeer &) = delete;
    SmtpPeer &operator=(const SmtpPeer &) = delete;

    // Empty on success, otherwise why the peer did not come up.
    QString startReal(const QStringList &extraArgs = QStringList());
    QString startFault(const QString &mode, const QStringList &extraArgs = QStringList());
    void stop();

    quint16 port() const { return m_port; }
    // Messages the real server accepted, in arrival order.
    QStringList messages() const;
    int messageCount() const { return messages().size(); }
    QByteArray eml(int index) const;
    QJsonObject envelope(int index) const;
    // Connections the fault peer accepted so far.
    int connectionCount();
    // Messages the fault peer accepted so far.
    int acceptedCount();

    static QString sourceDir();

private:
    QString start(const QString &script, const QStringList &args);

    QProcess m_process;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    QByteArray m_output;
};
