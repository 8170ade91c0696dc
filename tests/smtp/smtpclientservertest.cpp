// SmtpClient against a real SMTP server (aiosmtpd): plain TCP, TLS from the
// start and STARTTLS, with AUTH PLAIN and AUTH LOGIN; certificates from a CA
// made for this run.
#include "testmain.h"

#include "smtptestsupport.h"

#include "emailaddress.h"
#include "mimeattachment.h"
#include "mimemessage.h"
#include "mimetext.h"
#include "smtpclient.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

class SmtpClientServerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void submission_data();
    void submission();

private:
    QTemporaryDir certDir;
};

void SmtpClientServerTest::initTestCase()
{
    QVERIFY(certDir.isValid());
    const QString error = SmtpTest::makeCertificates(certDir.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(SmtpTest::caCertificates(certDir.path()).size(), 1);
}

void SmtpClientServerTest::submission_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("connectionType");
    QTest::addColumn<int>("auth"); // -1 none
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("trustCa");
    QTest::addColumn<bool>("delivered");
    QTest::addColumn<QList<int>>("errors");

    using S = SmtpTest::Server;
    const QString right = QStringLiteral("p\u00e4ss word");
    const QList<int> none;
    QTest::newRow("plain, no auth")
        << int(S::Plain) << int(SmtpClient::TcpConnection) << -1 << right << true << true << none;
    QTest::newRow("plain, AUTH PLAIN")
        << int(S::Plain) << int(SmtpClient::TcpConnection) << int(SmtpClient::AuthPlain) << right
        << true << true << none;
    QTest::newRow("plain, AUTH LOGIN")
        << int(S::Plain) << int(SmtpClient::TcpConnection) << int(SmtpClient::AuthLogin) << right
        << true << true << none;
    QTest::newRow("implicit TLS, AUTH PLAIN")
        << int(S::Tls) << int(SmtpClient::SslConnection) << int(SmtpClient::AuthPlain) << right
        << true << true << none;
    QTest::newRow("implicit TLS, AUTH LOGIN")
        << int(S::Tls) << int(SmtpClient::SslConnection) << int(SmtpClient::AuthLogin) << right
        << true << true << none;
    QTest::newRow("STARTTLS, AUTH PLAIN")
        << int(S::StartTls) << int(SmtpClient::TlsConnection) << int(SmtpClient::AuthPlain) << right
        << true << true << none;
    QTest::newRow("STARTTLS, AUTH LOGIN")
        << int(S::StartTls) << int(SmtpClient::TlsConnection) << int(SmtpClient::AuthLogin) << right
        << true << true << none;
    QTest::newRow("wrong password, AUTH LOGIN")
        << int(S::StartTls) << int(SmtpClient::TlsConnection) << int(SmtpClient::AuthLogin)
        << QStringLiteral("wrong") << true << false
        << QList<int> { SmtpClient::ClientError, SmtpClient::AuthenticationFailedError };
    QTest::newRow("wrong password, AUTH PLAIN")
        << int(S::Plain) << int(SmtpClient::TcpConnection) << int(SmtpClient::AuthPlain)
        << QStringLiteral("wrong") << true << false
        << QList<int> { SmtpClient::ClientError, SmtpClient::AuthenticationFailedError };
    QTest::newRow("untrusted certificate, implicit TLS")
        << int(S::Tls) << int(SmtpClient::SslConnection) << -1 << right << false << false
        << QList<int> { SmtpClient::ConnectionTimeoutError };
    QTest::newRow("untrusted certificate, STARTTLS")
        << int(S::StartTls) << int(SmtpClient::TlsConnection) << -1 << right << false << false
        << QList<int> { SmtpClient::ConnectionTimeoutError };
}

void SmtpClientServerTest::submission()
{
    QFETCH(int, mode);
    QFETCH(int, connectionType);
    QFETCH(int, auth);
    QFETCH(QString, password);
    QFETCH(bool, trustCa);
    QFETCH(bool, delivered);
    QFETCH(QList<int>, errors);

    SmtpTest::Server server;
    const QString error = server.start(SmtpTest::Server::Mode(mode), certDir.path(),
        QStringLiteral("user@x.test"), QStringLiteral("p\u00e4ss word"));
    QVERIFY2(error.isEmpty(), qPrintable(error));

    MimeMessage message;
    message.setSender(new EmailAddress(QStringLiteral("from@x.test"), QStringLiteral("Jedáleň")));
    message.addTo(new EmailAddress(QStringLiteral("to@x.test"), QString()));
    message.addBcc(new EmailAddress(QStringLiteral("bcc@x.test"), QString()));
    message.setSubject(QStringLiteral("Objednávka"));
    MimeText text(QStringLiteral("line one\n.\n..two\nend"));
    message.addPart(&text);
    const QByteArray bytes = QByteArray::fromHex("00ff2e0d0a2e0d0a");
    MimeAttachment attachment(bytes, QStringLiteral("x.bin"));
    message.addPart(&attachment);

    SmtpClient client(
        QStringLiteral("127.0.0.1"), server.port(), SmtpClient::ConnectionType(connectionType));
    if (trustCa) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(SmtpTest::caCertificates(certDir.path()));
        client.setSslConfiguration(configuration);
    }
    client.setConnectionTimeout(3000);
    QList<int> raised;
    connect(&client, &SmtpClient::smtpError, this,
        [&raised](SmtpClient::SmtpError e) { raised << int(e); });

    bool ok = client.connectToHost();
    if (ok && auth >= 0)
        ok = client.login(QStringLiteral("user@x.test"), password, SmtpClient::AuthMethod(auth));
    if (ok)
        ok = client.sendMail(message);
    client.quit();

    QCOMPARE(ok, delivered);
    QCOMPARE(raised, errors);
    if (!delivered) {
        QCOMPARE(server.messageCount(), 0);
        return;
    }
    QCOMPARE(client.getResponseCode(), 250);
    QCOMPARE(server.messageCount(), 1);
    const QJsonObject envelope = server.envelope(1);
    QCOMPARE(envelope.value(QLatin1String("mail_from")).toString(), QStringLiteral("from@x.test"));
    QCOMPARE(envelope.value(QLatin1String("rcpt_tos")).toArray(),
        (QJsonArray { QStringLiteral("to@x.test"), QStringLiteral("bcc@x.test") }));
    QCOMPARE(envelope.value(QLatin1String("authenticated")).toBool(), auth >= 0);
    QCOMPARE(envelope.value(QLatin1String("tls")).toBool(), mode != SmtpTest::Server::Plain);

    const QJsonObject parsed = SmtpTest::dumpEml(server.emlPath(1));
    QCOMPARE(parsed.value(QLatin1String("subject")).toString(), QStringLiteral("Objednávka"));
    QCOMPARE(
        parsed.value(QLatin1String("from")).toString(), QStringLiteral("Jedáleň <from@x.test>"));
    QCOMPARE(parsed.value(QLatin1String("bcc")).toString(), QString());
    const QJsonArray parts = parsed.value(QLatin1String("parts")).toArray();
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts.at(0).toObject().value(QLatin1String("text")).toString(),
        QStringLiteral("line one\n.\n..two\nend\n"));
    QCOMPARE(QByteArray::fromBase64(
                 parts.at(1).toObject().value(QLatin1String("base64")).toString().toLatin1()),
        bytes);
    QVERIFY(!server.eml(1).contains("bcc@x.test"));
}

YXA_TEST_CLASS(SmtpClientServerTest)
#include "smtpclientservertest.moc"
