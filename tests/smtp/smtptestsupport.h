#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

// Helpers of the SMTP suite that talk to real peers: the aiosmtpd server of
// tests/support/smtp-server.py, a throw-away CA made with openssl, and
// Python's email package as an independent reader of what we render.
namespace SmtpTest {

// The source tree (for the scripts in tests/support).
QString sourceDir();

// Writes ca.pem, server.pem and server.key (CN localhost, SAN localhost and
// 127.0.0.1) into dir. Returns an empty string or the failure text.
QString makeCertificates(const QString &dir);
QList<QSslCertificate> caCertificates(const QString &dir);
// Writes server.pem and server.key into dir: a certificate for the DNS name
// `name` alone, signed by the CA that makeCertificates() left in caDir.
QString makeServerCertificate(const QString &caDir, const QString &dir, const QString &name);

// Parses the message file with /usr/bin/python3 and the standard email
// package (tests/support/smtp-eml-dump.py); on failure the object holds
// "error".
QJsonObject dumpEml(const QString &path);
QJsonObject dumpMessage(const QByteArray &message);

// One aiosmtpd process on a free loopback port, stopped by the destructor.
class Server
{
public:
    enum Mode { Plain, Tls, StartTls };

    Server();
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Empty on success, otherwise why the server did not come up.
    QString start(Mode mode, const QString &certDir, const QString &user = QString(),
        const QString &password = QString());
    void stop();

    quint16 port() const { return m_port; }
    QString maildir() const;
    int messageCount() const;
    QString emlPath(int index) const; // 1-based, in arrival order
    QByteArray eml(int index) const;
    QJsonObject envelope(int index) const;

private:
    QProcess m_process;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
};

} // namespace SmtpTest
