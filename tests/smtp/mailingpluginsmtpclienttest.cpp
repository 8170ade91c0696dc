// The SMTP transport of the mailing worker: argument and settings checks,
// one status word per row, the message it builds and what reaches a real
// server.
#include "logcapture.h"
#include "testmain.h"

#include "fakesmtpserver.h"
#include "smtptestsupport.h"

#include "mailingpluginsmtpclient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
QByteArray attachmentsDocument(const QJsonArray &attachments)
{
    QJsonObject data;
    data.insert(QStringLiteral("attachments"), attachments);
    return QJsonDocument(data).toJson();
}

QJsonObject attachment(const QString &name, const QString &type, const QByteArray &content)
{
    QJsonObject element;
    if (!name.isEmpty())
        element.insert(QStringLiteral("name"), name);
    if (!type.isEmpty())
        element.insert(QStringLiteral("type"), type);
    if (!content.isNull())
        element.insert(QStringLiteral("content"), QString::fromLatin1(content.toBase64()));
    return element;
}

SmtpSettings plainSettings(quint16 port)
{
    SmtpSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.connectionType = 0;
    s.email = QStringLiteral("global@tenant.test");
    return s;
}

// Runs one send and returns its status word; the call must report exactly once.
struct Outcome
{
    bool result = false;
    int reports = 0;
    QString status;
    QString apiID;
    uint mid = 0;
};

Outcome send(MailingPluginSmtpClient &transport, uint mid, const QString &from, const QString &to,
    const QString &subject, const QByteArray &body, const QByteArray &data = QByteArray())
{
    QSignalSpy spy(&transport, &MailingPluginSmtpClient::sentDone);
    Outcome o;
    o.result = transport.sendMail(mid, from, to, subject, body, data);
    o.reports = spy.count();
    if (!spy.isEmpty()) {
        o.mid = spy.at(0).at(0).toUInt();
        o.status = spy.at(0).at(1).toString();
        o.apiID = spy.at(0).at(2).toString();
    }
    return o;
}
} // namespace

class MailingPluginSmtpClientTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void settingsProperty();
    void refusedWithoutTraffic_data();
    void refusedWithoutTraffic();
    void delivery_data();
    void delivery();
    void wrongPasswordIsInvalid();
    void failuresReportTheirOwnWord_data();
    void failuresReportTheirOwnWord();
    void orderMailOverStartTls();
    void failureKinds_data();
    void failureKinds();
    void keptSessionCarriesSeveralMails_data();
    void keptSessionCarriesSeveralMails();
    void privateCaOverTls_data();
    void privateCaOverTls();
    void clearAuthIsWarnedOncePerTransport_data();
    void clearAuthIsWarnedOncePerTransport();

private:
    QTemporaryDir certDir;
    QSslConfiguration savedDefault;
};

void MailingPluginSmtpClientTest::initTestCase()
{
    QVERIFY(certDir.isValid());
    const QString error = SmtpTest::makeCertificates(certDir.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // The transport builds its clients itself; the test CA is trusted the way
    // an operator would add a private CA, through the default configuration.
    savedDefault = QSslConfiguration::defaultConfiguration();
    QSslConfiguration configuration = savedDefault;
    configuration.setCaCertificates(
        configuration.caCertificates() + SmtpTest::caCertificates(certDir.path()));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

void MailingPluginSmtpClientTest::cleanupTestCase()
{
    QSslConfiguration::setDefaultConfiguration(savedDefault);
}

void MailingPluginSmtpClientTest::settingsProperty()
{
    MailingPluginSmtpClient transport;
    const SmtpSettings initial = transport.settings();
    QCOMPARE(initial.port, quint16(465));
    QCOMPARE(initial.connectionType, 1);
    QCOMPARE(initial.authMethod, 0);
    QCOMPARE(initial.useReplyTo, false);
    QVERIFY(initial.host.isEmpty() && initial.user.isEmpty() && initial.password.isEmpty()
        && initial.email.isEmpty());
    QCOMPARE(transport.getDebugLevel(), (unsigned char)0);

    QSignalSpy spy(&transport, &MailingPluginSmtpClient::settingsChanged);
    transport.setSettings(initial);
    QCOMPARE(spy.count(), 0);

    SmtpSettings changed = initial;
    changed.password = QStringLiteral("secret");
    QVERIFY(changed != initial);
    QVERIFY(transport.setProperty("settings", QVariant::fromValue(changed)));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<SmtpSettings>(), changed);
    QCOMPARE(transport.property("settings").value<SmtpSettings>(), changed);
    transport.setSettings(changed);
    QCOMPARE(spy.count(), 1);

    QString logged;
    QDebug(&logged) << changed;
    QVERIFY2(!logged.contains(QLatin1String("secret")), qPrintable(logged));
    QVERIFY(logged.contains(QLatin1String("password: set")));
}

void MailingPluginSmtpClientTest::refusedWithoutTraffic_data()
{
    QTest::addColumn<uint>("mid");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("settingsChange");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("log");

    const QString a = QStringLiteral("a@x.test");
    const QString b = QStringLiteral("b@x.test");
    const QString invalidArgs = QStringLiteral("invalid arguments");
    const QString invalidSettings = QStringLiteral("invalid SMTP settings");
    const QString unsafe = QStringLiteral("address holds CR, LF");
    QTest::newRow("mid 0") << 0u << a << b << QStringLiteral("S") << QByteArray("x") << QString()
                           << QStringLiteral("rejected") << invalidArgs;
    QTest::newRow("empty subject") << 5u << a << b << QString() << QByteArray("x") << QString()
                                   << QStringLiteral("rejected") << invalidArgs;
    QTest::newRow("empty from") << 5u << QString() << b << QStringLiteral("S") << QByteArray("x")
                                << QString() << QStringLiteral("rejected") << invalidArgs;
    QTest::newRow("empty to") << 5u << a << QString() << QStringLiteral("S") << QByteArray("x")
                              << QString() << QStringLiteral("rejected") << invalidArgs;
    QTest::newRow("empty body") << 5u << a << b << QStringLiteral("S") << QByteArray() << QString()
                                << QStringLiteral("rejected") << invalidArgs;
    QTest::newRow("port 0") << 5u << a << b << QStringLiteral("S") << QByteArray("x")
                            << QStringLiteral("port0") << QStringLiteral("error")
                            << invalidSettings;
    QTest::newRow("empty host") << 5u << a << b << QStringLiteral("S") << QByteArray("x")
                                << QStringLiteral("nohost") << QStringLiteral("error")
                                << invalidSettings;
    QTest::newRow("connection type 3")
        << 5u << a << b << QStringLiteral("S") << QByteArray("x") << QStringLiteral("type3")
        << QStringLiteral("error") << invalidSettings;
    QTest::newRow("reply-to without global address")
        << 5u << a << b << QStringLiteral("S") << QByteArray("x") << QStringLiteral("noglobal")
        << QStringLiteral("error") << invalidSettings;
    QTest::newRow("CR LF in to") << 5u << a << QStringLiteral("b@x.test>\r\nRCPT TO:<evil@x.test")
                                 << QStringLiteral("S") << QByteArray("x") << QString()
                                 << QStringLiteral("bad") << unsafe;
    QTest::newRow("angle bracket in from")
        << 5u << QStringLiteral("a@x.test> SIZE=1") << b << QStringLiteral("S") << QByteArray("x")
        << QString() << QStringLiteral("bad") << unsafe;
    QTest::newRow("LF in from, reply-to mode")
        << 5u << QStringLiteral("a@x.test\nBcc: v@x.test") << b << QStringLiteral("S")
        << QByteArray("x") << QStringLiteral("replyto") << QStringLiteral("bad") << unsafe;
    QTest::newRow("address longer than a path")
        << 5u << a << (QString(250, QLatin1Char('b')) + QStringLiteral("@x.test"))
        << QStringLiteral("S") << QByteArray("x") << QString() << QStringLiteral("bad") << unsafe;
}

void MailingPluginSmtpClientTest::refusedWithoutTraffic()
{
    QFETCH(uint, mid);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, subject);
    QFETCH(QByteArray, body);
    QFETCH(QString, settingsChange);
    QFETCH(QString, status);
    QFETCH(QString, log);

    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    SmtpSettings s = plainSettings(listener.serverPort());
    if (settingsChange == QLatin1String("port0"))
        s.port = 0;
    else if (settingsChange == QLatin1String("nohost"))
        s.host.clear();
    else if (settingsChange == QLatin1String("type3"))
        s.connectionType = 3;
    else if (settingsChange == QLatin1String("noglobal"))
        s.useReplyTo = true, s.email.clear();
    else if (settingsChange == QLatin1String("replyto"))
        s.useReplyTo = true;

    MailingPluginSmtpClient transport;
    transport.setSettings(s);
    QTest::ignoreMessage(status == QLatin1String("rejected") || status == QLatin1String("bad")
                || status == QLatin1String("error")
            ? QtWarningMsg
            : QtDebugMsg,
        QRegularExpression(
            QStringLiteral("^MailingPluginSmtpClient::sendMail\\(mid: %1\\) - ").arg(mid)
            + QRegularExpression::escape(log)));
    const Outcome o = send(transport, mid, from, to, subject, body);
    QCOMPARE(o.reports, 1);
    QCOMPARE(o.mid, mid);
    QCOMPARE(o.status, status);
    QVERIFY(o.apiID.isEmpty());
    QCOMPARE(o.result, false);
    QVERIFY(!listener.waitForNewConnection(100));
}

void MailingPluginSmtpClientTest::delivery_data()
{
    QTest::addColumn<bool>("useReplyTo");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("mailData");
    QTest::addColumn<QStringList>("attachments"); // "name|type|size" as read back
    QTest::addColumn<bool>("parseError");
    QTest::addColumn<QString>("textType");

    const QByteArray pdf = "%PDF-1.4\n" + QByteArray(3000, '\x9c') + "\n%%EOF\n";
    const QByteArray three = attachmentsDocument({
        attachment(QStringLiteral("a.pdf"), QStringLiteral("application/pdf"), pdf),
        attachment(QStringLiteral("skipped.txt"), QStringLiteral("text/plain"), QByteArray()),
        attachment(QStringLiteral("b.bin"), QString(), QByteArray("\x00\x01\x02", 3)),
    });

    const QString plain = QStringLiteral("text/plain");
    const QString html = QStringLiteral("text/html");
    QTest::newRow("plain") << false << QByteArray("Hello\n.\nBye") << QByteArray() << QStringList()
                           << false << plain;
    QTest::newRow("reply-to mode")
        << true << QByteArray("Hello") << QByteArray() << QStringList() << false << plain;
    QTest::newRow("attachments: without content skipped, without type default")
        << false << QByteArray("see\x00hidden", 10) << three
        << QStringList { QStringLiteral("a.pdf|application/pdf|%1").arg(pdf.size()),
               QStringLiteral("b.bin|application/octet-stream|3") }
        << false << plain;
    QTest::newRow("broken mail data document costs only the attachments")
        << false << QByteArray("Hello") << QByteArray("{\"attachments\": [") << QStringList()
        << true << plain;
    QTest::newRow("repeated member name: the last value is the document's")
        << false << QByteArray("x")
        << QByteArray(
               R"({"attachments":[{"name":"old.pdf","content":"AAAA"}],)"
               R"("attachments":[{"name":"a.pdf","type":"application/pdf","content":"JVBERg=="}]})")
        << QStringList { QStringLiteral("a.pdf|application/pdf|4") } << false << plain;
    QTest::newRow("line over 998 octets")
        << false << QByteArray("<html>") + QByteArray(3000, 'h') + QByteArray("</html>\nnext")
        << QByteArray() << QStringList() << false << html;
    QTest::newRow("a tag makes it HTML, a lone '<' does not")
        << false << QByteArray("<p>Dobr\xc3\xbd <b>de\xc5\x88</b></p>\n") << QByteArray()
        << QStringList() << false << html;
    QTest::newRow("lone less-than sign")
        << false << QByteArray("1 < 2") << QByteArray() << QStringList() << false << plain;
    QTest::newRow("bytes that are no UTF-8 counted as sent")
        << false << QByteArray(880, '\xe9') + "\nnext" << QByteArray() << QStringList() << false
        << plain;
    QTest::newRow("a type with non-ASCII parameters goes out as octet stream")
        << false << QByteArray("x")
        << attachmentsDocument({ attachment(QStringLiteral("c.pdf"),
               QStringLiteral("application/pdf; name=\"Objedn\u00e1vka.pdf\""), "%PDF") })
        << QStringList { QStringLiteral("c.pdf|application/octet-stream|4") } << false << plain;
}

void MailingPluginSmtpClientTest::delivery()
{
    QFETCH(bool, useReplyTo);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, mailData);
    QFETCH(QStringList, attachments);
    QFETCH(bool, parseError);
    QFETCH(QString, textType);

    SmtpTest::Server server;
    const QString error = server.start(SmtpTest::Server::Plain, QString());
    QVERIFY2(error.isEmpty(), qPrintable(error));

    MailingPluginSmtpClient transport;
    transport.setDebugLevel(2);
    SmtpSettings s = plainSettings(server.port());
    s.useReplyTo = useReplyTo;
    transport.setSettings(s);
    if (parseError)
        QTest::ignoreMessage(QtCriticalMsg,
            QRegularExpression(QStringLiteral(
                "^MailingPluginSmtpClient::sendMail\\(\\) - JSON data parse error: .+")));

    const QString from = QStringLiteral("writer@tenant.test");
    const QString to = QStringLiteral("supplier@x.test");
    const Outcome o = send(transport, 42, from, to, QStringLiteral("Order"), body, mailData);
    QCOMPARE(o.status, QStringLiteral("sent"));
    QCOMPARE(o.reports, 1);
    QVERIFY(o.result);
    QCOMPARE(transport.lastError(), -1);

    QCOMPARE(server.messageCount(), 1);
    const QJsonObject envelope = server.envelope(1);
    const QString sender = useReplyTo ? s.email : from;
    QCOMPARE(envelope.value(QLatin1String("mail_from")).toString(), sender);
    QCOMPARE(envelope.value(QLatin1String("rcpt_tos")).toArray(), QJsonArray { to });

    const QJsonObject parsed = SmtpTest::dumpEml(server.emlPath(1));
    QCOMPARE(parsed.value(QLatin1String("from")).toString(), sender);
    QCOMPARE(parsed.value(QLatin1String("to")).toString(), to);
    QCOMPARE(parsed.value(QLatin1String("reply_to")).toString(), useReplyTo ? from : QString());
    QCOMPARE(parsed.value(QLatin1String("subject")).toString(), QStringLiteral("Order"));
    QCOMPARE(parsed.value(QLatin1String("defects")).toArray(), QJsonArray());

    // Every line within what SMTP carries, counted in octets as received.
    for (const QByteArray &line : server.eml(1).split('\n'))
        QVERIFY2(line.size() <= 999, line.left(80).constData());
    // Every mail has its own identifier, in the sender's domain.
    QVERIFY(QRegularExpression(QStringLiteral("\r\nMessage-ID: <[0-9a-f]{32}@%1>\r\n")
                                   .arg(QRegularExpression::escape(sender.section('@', 1))))
                .match(QString::fromUtf8(server.eml(1)))
                .hasMatch());

    const QJsonArray parts = parsed.value(QLatin1String("parts")).toArray();
    QCOMPARE(parts.size(), 1 + attachments.size());
    QCOMPARE(parts.at(0).toObject().value(QLatin1String("content_type")).toString(), textType);
    const int nul = body.indexOf('\0');
    QCOMPARE(parts.at(0).toObject().value(QLatin1String("text")).toString(),
        QString::fromUtf8(nul < 0 ? body : body.left(nul)) + QLatin1Char('\n'));
    for (int i = 0; i < attachments.size(); ++i) {
        const QJsonObject part = parts.at(i + 1).toObject();
        QCOMPARE(QStringLiteral("%1|%2|%3")
                     .arg(part.value(QLatin1String("filename")).toString(),
                         part.value(QLatin1String("content_type")).toString())
                     .arg(part.value(QLatin1String("size")).toInt()),
            attachments.at(i));
    }
}

void MailingPluginSmtpClientTest::wrongPasswordIsInvalid()
{
    SmtpTest::Server server;
    const QString error = server.start(SmtpTest::Server::StartTls, certDir.path(),
        QStringLiteral("kitchen"), QStringLiteral("right"));
    QVERIFY2(error.isEmpty(), qPrintable(error));

    MailingPluginSmtpClient transport;
    transport.setDebugLevel(1);
    SmtpSettings s = plainSettings(server.port());
    s.connectionType = 2;
    s.authMethod = 1;
    s.user = QStringLiteral("kitchen");
    s.password = QStringLiteral("wrong-secret");
    transport.setSettings(s);
    QTest::ignoreMessage(QtDebugMsg, "MailingPluginSmtpClient::sendMail(mid: 9)");
    QTest::ignoreMessage(QtDebugMsg,
        QRegularExpression(QStringLiteral("^MailingPluginSmtpClient::smtpClientError\\(5 - Client "
                                          "error\\) RAW response: '535 .*")));
    QTest::ignoreMessage(QtDebugMsg,
        QRegularExpression(QStringLiteral("^MailingPluginSmtpClient::smtpClientError\\(3 - "
                                          "Authentication failed\\) RAW response: '535 .*")));
    const Outcome o = send(transport, 9, QStringLiteral("a@x.test"), QStringLiteral("b@x.test"),
        QStringLiteral("S"), "x");
    QCOMPARE(o.status, QStringLiteral("invalid"));
    QCOMPARE(transport.lastError(), int(SmtpClient::AuthenticationFailedError));
    QCOMPARE(server.messageCount(), 0);

    // The right password on the same object: the old error does not linger.
    s.password = QStringLiteral("right");
    transport.setSettings(s);
    transport.setDebugLevel(0);
    QCOMPARE(send(transport, 10, QStringLiteral("a@x.test"), QStringLiteral("b@x.test"),
                 QStringLiteral("S"), "x")
                 .status,
        QStringLiteral("sent"));
    QCOMPARE(transport.lastError(), -1);
    QCOMPARE(server.envelope(1).value(QLatin1String("authenticated")).toBool(), true);
    QCOMPARE(server.envelope(1).value(QLatin1String("tls")).toBool(), true);
}

void MailingPluginSmtpClientTest::failuresReportTheirOwnWord_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<bool>("credentials");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("lastError"); // -2: not checked (depends on when the close is seen)

    const QStringList greeting { QStringLiteral("S: 220 fake"), QStringLiteral("C: EHLO localhost"),
        QStringLiteral("S: 250 fake") };
    QTest::newRow("recipient refused: bad")
        << greeting
            + QStringList { QStringLiteral("C: MAIL FROM:<a@x.test>"), QStringLiteral("S: 250 ok"),
                  QStringLiteral("C: RCPT TO:<b@x.test>"), QStringLiteral("S: 550 no such user"),
                  QStringLiteral("C: QUIT") }
        << false << QStringLiteral("bad") << int(SmtpClient::ClientError);
    QTest::newRow("recipient refused and connection closed: still bad") << greeting
            + QStringList { QStringLiteral("C: MAIL FROM:<a@x.test>"), QStringLiteral("S: 250 ok"),
                  QStringLiteral("C: RCPT TO:<b@x.test>"), QStringLiteral("S: 550 no such user"),
                  QStringLiteral("X") } << false << QStringLiteral("bad")
                                                                        << -2;
    QTest::newRow("mailbox busy: error")
        << greeting
            + QStringList { QStringLiteral("C: MAIL FROM:<a@x.test>"),
                  QStringLiteral("S: 451 try later"), QStringLiteral("C: QUIT") }
        << false << QStringLiteral("error") << int(SmtpClient::ServerError);
    QTest::newRow("odd reply without an error signal: error")
        << greeting
            + QStringList { QStringLiteral("C: MAIL FROM:<a@x.test>"),
                  QStringLiteral("S: 354 what?"), QStringLiteral("C: QUIT") }
        << false << QStringLiteral("error") << -1;
    QTest::newRow("server hangs up after greeting: neterror, no login attempt") << QStringList {
        QStringLiteral("S: 220 fake"), QStringLiteral("C: EHLO localhost"), QStringLiteral("X")
    } << true << QStringLiteral("neterror") << int(SmtpClient::ResponseTimeoutError);
}

void MailingPluginSmtpClientTest::failuresReportTheirOwnWord()
{
    QFETCH(QStringList, script);
    QFETCH(bool, credentials);
    QFETCH(QString, status);
    QFETCH(int, lastError);

    MailingPluginSmtpClient transport;

    // First a failure that leaves an error code behind, then the row.
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 closed = probe.serverPort();
        probe.close();
        transport.setSettings(plainSettings(closed));
        QCOMPARE(send(transport, 1, QStringLiteral("a@x.test"), QStringLiteral("b@x.test"),
                     QStringLiteral("S"), "x")
                     .status,
            QStringLiteral("neterror"));
        QCOMPARE(transport.lastError(), int(SmtpClient::ConnectionTimeoutError));
    }

    FakeSmtpServer server(script);
    const quint16 port = server.listen();
    QVERIFY(port != 0);
    SmtpSettings s = plainSettings(port);
    if (credentials) {
        s.user = QStringLiteral("u");
        s.password = QStringLiteral("p");
    }
    transport.setSettings(s);
    const Outcome o = send(transport, 2, QStringLiteral("a@x.test"), QStringLiteral("b@x.test"),
        QStringLiteral("S"), "x");
    server.wait(20000);
    QCOMPARE(o.status, status);
    QCOMPARE(o.reports, 1);
    if (lastError != -2)
        QCOMPARE(transport.lastError(), lastError);
    QCOMPARE(server.clientLines(), server.expectedClientLines());
}

void MailingPluginSmtpClientTest::failureKinds_data()
{
    QTest::addColumn<QStringList>("script"); // empty: nobody listens
    QTest::addColumn<bool>("credentials");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reply");

    const QStringList greeting { QStringLiteral("S: 220 fake"), QStringLiteral("C: EHLO localhost"),
        QStringLiteral("S: 250 fake") };
    const QStringList envelope { QStringLiteral("C: MAIL FROM:<a@x.test>"),
        QStringLiteral("S: 250 ok"), QStringLiteral("C: RCPT TO:<b@x.test>"),
        QStringLiteral("S: 250 ok"), QStringLiteral("C: DATA"), QStringLiteral("S: 354 go"),
        QStringLiteral("C: <DATA>") };
    QTest::newRow("451 to RCPT") << greeting
            + QStringList { QStringLiteral("C: MAIL FROM:<a@x.test>"), QStringLiteral("S: 250 ok"),
                  QStringLiteral("C: RCPT TO:<b@x.test>"),
                  QStringLiteral("S: 451 4.7.1 try again later"), QStringLiteral("C: QUIT") }
                                 << false << "error"
                                 << "temporary"
                                 << "451 4.7.1 try again later";
    QTest::newRow("421 at the greeting")
        << QStringList { QStringLiteral("S: 421 4.3.2 busy"), QStringLiteral("C: QUIT") } << false
        << "error"
        << "temporary"
        << "421 4.3.2 busy";
    QTest::newRow("454 to AUTH") << greeting
            + QStringList { QStringLiteral("C: AUTH PLAIN AHUAcA=="),
                  QStringLiteral("S: 454 4.7.0 temporary authentication failure"),
                  QStringLiteral("C: QUIT") }
                                 << true << "invalid"
                                 << "temporary"
                                 << "454 4.7.0";
    QTest::newRow("535 to AUTH") << greeting
            + QStringList { QStringLiteral("C: AUTH PLAIN AHUAcA=="),
                  QStringLiteral("S: 535 5.7.8 bad credentials"), QStringLiteral("C: QUIT") }
                                 << true << "invalid"
                                 << "refused"
                                 << "535 5.7.8";
    QTest::newRow("452 after the end of DATA") << greeting + envelope
            + QStringList { QStringLiteral("S: 452 4.3.1 no room"), QStringLiteral("C: QUIT") }
                                               << false << "error"
                                               << "temporary"
                                               << "452 4.3.1 no room";
    QTest::newRow("multi-line 550 to RCPT") << greeting
            + QStringList { QStringLiteral("C: MAIL FROM:<a@x.test>"), QStringLiteral("S: 250 ok"),
                  QStringLiteral("C: RCPT TO:<b@x.test>"),
                  QStringLiteral("S: 550-5.1.1 no such user"),
                  QStringLiteral("S: 550 5.1.1 see the docs"), QStringLiteral("C: QUIT") }
                                            << false << "bad"
                                            << "refused"
                                            << "550 5.1.1 no such user 5.1.1 see the docs";
    QTest::newRow("drop before the end of the message") << greeting
            + QStringList { QStringLiteral("C: MAIL FROM:<a@x.test>"), QStringLiteral("S: 250 ok"),
                  QStringLiteral("X") } << false << "neterror"
                                                        << "temporary"
                                                        << "timeout after: 250 ok";
    QTest::newRow("drop after the end of the message")
        << greeting + envelope + QStringList { QStringLiteral("X") } << false << "neterror"
        << "unknown"
        << "after the end of the message";
    QTest::newRow("nobody listens") << QStringList() << false << "neterror"
                                    << "temporary"
                                    << "Connection timeout";
}

void MailingPluginSmtpClientTest::failureKinds()
{
    QFETCH(QStringList, script);
    QFETCH(bool, credentials);
    QFETCH(QString, status);
    QFETCH(QString, kind);
    QFETCH(QString, reply);

    quint16 port = 0;
    std::unique_ptr<FakeSmtpServer> server;
    if (script.isEmpty()) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
        probe.close();
    } else {
        server = std::make_unique<FakeSmtpServer>(script);
        port = server->listen();
        QVERIFY(port != 0);
    }
    MailingPluginSmtpClient transport;
    SmtpSettings s = plainSettings(port);
    if (credentials) {
        s.user = QStringLiteral("u");
        s.password = QStringLiteral("p");
    }
    transport.setSettings(s);
    QSignalSpy failures(&transport, &MailingPluginSmtpClient::attemptFailed);
    const Outcome o = send(transport, 9, QStringLiteral("a@x.test"), QStringLiteral("b@x.test"),
        QStringLiteral("S"), "x");
    if (server)
        server->wait(20000);
    // Today's word is kept; whether to try again is said beside it, once.
    QCOMPARE(o.status, status);
    QCOMPARE(failures.count(), 1);
    QCOMPARE(failures.at(0).at(0).toUInt(), 9u);
    QCOMPARE(failures.at(0).at(1).toString(), QStringLiteral("smtp"));
    QCOMPARE(failures.at(0).at(2).toString(), kind);
    QVERIFY2(failures.at(0).at(3).toString().contains(reply),
        qPrintable(failures.at(0).at(3).toString()));
    if (server)
        QCOMPARE(server->clientLines(), server->expectedClientLines());
}

void MailingPluginSmtpClientTest::orderMailOverStartTls()
{
    SmtpTest::Server server;
    const QString error = server.start(SmtpTest::Server::StartTls, certDir.path(),
        QStringLiteral("kitchen@tenant.test"), QStringLiteral("Tajné heslo 1"));
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QByteArray pdf = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    pdf.reserve(1024 * 1024 + 64);
    while (pdf.size() < 1024 * 1024)
        pdf.append(char(QRandomGenerator::global()->bounded(256)));
    pdf.append("\n%%EOF\n");

    const QString subject = QStringLiteral("Objednávka jedál na štvrtok – Školská jedáleň Žilina");
    const QString body
        = QStringLiteral("Dobrý deň,\n\nv prílohe posielame objednávku.\n.\nĎakujeme.\n");
    const QByteArray document = attachmentsDocument({ attachment(
        QStringLiteral("Objednávka-20261210-Obed.pdf"), QStringLiteral("application/pdf"), pdf) });

    MailingPluginSmtpClient transport;
    SmtpSettings s = plainSettings(server.port());
    s.host = QStringLiteral("localhost");
    s.connectionType = 2;
    s.authMethod = 1;
    s.user = QStringLiteral("kitchen@tenant.test");
    s.password = QStringLiteral("Tajné heslo 1");
    transport.setSettings(s);

    const Outcome o = send(transport, 77, QStringLiteral("kitchen@tenant.test"),
        QStringLiteral("supplier@x.test"), subject, body.toUtf8(), document);
    QCOMPARE(o.status, QStringLiteral("sent"));
    QVERIFY(o.result);

    QCOMPARE(server.messageCount(), 1);
    const QJsonObject envelope = server.envelope(1);
    QVERIFY(envelope.value(QLatin1String("tls")).toBool());
    QVERIFY(envelope.value(QLatin1String("authenticated")).toBool());

    const QJsonObject parsed = SmtpTest::dumpEml(server.emlPath(1));
    QCOMPARE(parsed.value(QLatin1String("subject")).toString(), subject);
    QCOMPARE(parsed.value(QLatin1String("defects")).toArray(), QJsonArray());
    const QJsonArray parts = parsed.value(QLatin1String("parts")).toArray();
    QCOMPARE(parts.size(), 2);
    QCOMPARE(
        parts.at(0).toObject().value(QLatin1String("text")).toString(), body + QLatin1Char('\n'));
    const QJsonObject file = parts.at(1).toObject();
    QCOMPARE(file.value(QLatin1String("filename")).toString(),
        QStringLiteral("Objednávka-20261210-Obed.pdf"));
    QCOMPARE(
        file.value(QLatin1String("content_type")).toString(), QStringLiteral("application/pdf"));
    QVERIFY(
        QByteArray::fromBase64(file.value(QLatin1String("base64")).toString().toLatin1()) == pdf);
}

void MailingPluginSmtpClientTest::keptSessionCarriesSeveralMails_data()
{
    QTest::addColumn<QStringList>("script");
    const auto S = [](const char *text) { return QStringLiteral("S: ") + QLatin1String(text); };
    const auto C = [](const char *text) { return QStringLiteral("C: ") + QLatin1String(text); };
    const QStringList login { S("220 fake"), C("EHLO localhost"), S("250-fake"), S("250 8BITMIME"),
        C("AUTH PLAIN AHUAcA=="), S("235 ok") };
    const auto mail = [&](const char *rcpt) {
        return QStringList { C("MAIL FROM:<a@x.test>"), S("250 ok"), C(rcpt), S("250 ok"), C("DATA"), S("354 go"),
            C("<DATA>"), S("250 queued") };
    };
    QTest::newRow("one command at a time")
        << login + mail("RCPT TO:<b1@x.test>")
            + QStringList { C("MAIL FROM:<a@x.test>"), S("250 ok"), C("RCPT TO:<b2@x.test>"),
                  S("451 4.3.0 try later"), C("RSET"), S("250 ok") }
            + mail("RCPT TO:<b3@x.test>") + QStringList { C("QUIT") };
    // Announced: MAIL, RCPT and DATA in one write; a refused recipient makes
    // the server refuse DATA too, and the mail's error is that of RCPT.
    const auto pipelined = [&](const char *rcpt, const char *rcptReply, const char *dataReply) {
        return QStringList { C("MAIL FROM:<a@x.test>"), C(rcpt), C("DATA"), S("250 ok"), S(rcptReply),
            S(dataReply) };
    };
    QTest::newRow("pipelined")
        << QStringList { S("220 fake"), C("EHLO localhost"), S("250-fake"), S("250 PIPELINING"),
               C("AUTH PLAIN AHUAcA=="), S("235 ok") }
            + pipelined("RCPT TO:<b1@x.test>", "250 ok", "354 go")
            + QStringList { C("<DATA>"), S("250 queued") }
            + pipelined("RCPT TO:<b2@x.test>", "451 4.3.0 try later", "554 5.5.1 no valid recipients")
            + QStringList { C("RSET"), S("250 ok") } + pipelined("RCPT TO:<b3@x.test>", "250 ok", "354 go")
            + QStringList { C("<DATA>"), S("250 queued"), C("QUIT") };
}

void MailingPluginSmtpClientTest::keptSessionCarriesSeveralMails()
{
    QFETCH(QStringList, script);
    FakeSmtpServer server(script);
    const quint16 port = server.listen();
    QVERIFY(port != 0);
    MailingPluginSmtpClient transport;
    SmtpSettings s = plainSettings(port);
    s.user = QStringLiteral("u");
    s.password = QStringLiteral("p");
    transport.setSettings(s);
    transport.setKeepSession(true);
    // Documents of one size: each mail still carries its own.
    const QByteArray first
        = attachmentsDocument({ attachment(QStringLiteral("a.txt"), {}, "one") });
    const QByteArray other
        = attachmentsDocument({ attachment(QStringLiteral("b.txt"), {}, "two") });
    QStringList statuses;
    for (int i = 1; i <= 3; ++i)
        statuses << send(transport, uint(i), QStringLiteral("a@x.test"),
            QStringLiteral("b%1@x.test").arg(i), QStringLiteral("S"), "x", i < 3 ? first : other)
                        .status;
    QVERIFY(transport.hasSession());
    transport.endSession();
    server.wait(20000);
    QCOMPARE(statuses, (QStringList { "sent", "error", "sent" }));
    QList<QByteArray> files;
    for (const QByteArray &line : server.dataLines()) {
        if (line.startsWith("Content-Disposition:") || line == "b25l" || line == "dHdv")
            files << line;
    }
    QCOMPARE(files,
        (QList<QByteArray> { "Content-Disposition: attachment; filename=\"a.txt\"", "b25l",
            "Content-Disposition: attachment; filename=\"b.txt\"", "dHdv" }));
    QCOMPARE(transport.sessionCount(), 1);
    QCOMPARE(server.clientLines(), server.expectedClientLines());
}

// The plug-in's caFile reaches the transport as a CA list: a server whose
// certificate comes from that private CA is trusted, over TLS from the start
// and after STARTTLS alike, and its name is still checked.
void MailingPluginSmtpClientTest::privateCaOverTls_data()
{
    QTest::addColumn<int>("connectionType");
    QTest::addColumn<bool>("withCaFile");
    QTest::addColumn<bool>("rightName");
    QTest::addColumn<QString>("status");
    for (const int type : { 1, 2 }) {
        const QString mode = type == 1 ? QStringLiteral("TLS") : QStringLiteral("STARTTLS");
        QTest::newRow(qPrintable(mode + QStringLiteral(", caFile trusts the private CA")))
            << type << true << true << "sent";
        QTest::newRow(qPrintable(mode + QStringLiteral(", without caFile the CA is unknown")))
            << type << false << true << "neterror";
        QTest::newRow(qPrintable(mode + QStringLiteral(", a certificate for another name")))
            << type << true << false << "neterror";
    }
}

void MailingPluginSmtpClientTest::privateCaOverTls()
{
    QFETCH(int, connectionType);
    QFETCH(bool, withCaFile);
    QFETCH(bool, rightName);
    QFETCH(QString, status);

    // This class trusts the test CA by default; here only the transport's
    // own list may.
    const QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    QSslConfiguration::setDefaultConfiguration(savedDefault);
    const auto restore
        = qScopeGuard([&trusting] { QSslConfiguration::setDefaultConfiguration(trusting); });

    QTemporaryDir otherDir;
    QVERIFY(otherDir.isValid());
    QString serverDir = certDir.path();
    if (!rightName) {
        const QString error = SmtpTest::makeServerCertificate(
            certDir.path(), otherDir.path(), QStringLiteral("mail.example.test"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        serverDir = otherDir.path();
    }
    SmtpTest::Server server;
    const QString error = server.start(
        connectionType == 1 ? SmtpTest::Server::Tls : SmtpTest::Server::StartTls, serverDir);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    MailingPluginSmtpClient transport;
    SmtpSettings s = plainSettings(server.port());
    s.host = QStringLiteral("localhost");
    s.connectionType = connectionType;
    transport.setSettings(s);
    if (withCaFile)
        transport.setCaCertificates(
            QSslConfiguration::systemCaCertificates() + SmtpTest::caCertificates(certDir.path()));

    const Outcome o = send(transport, 5, QStringLiteral("a@x.test"), QStringLiteral("b@x.test"),
        QStringLiteral("S"), "x");
    QCOMPARE(o.status, status);
    QCOMPARE(server.messageCount(), status == QLatin1String("sent") ? 1 : 0);
    if (status == QLatin1String("sent"))
        QVERIFY(server.envelope(1).value(QLatin1String("tls")).toBool());
}

// AUTH over plain TCP still works, but the operator hears of it once per
// tenant's transport, not once per mail, and never hears the password.
void MailingPluginSmtpClientTest::clearAuthIsWarnedOncePerTransport_data()
{
    QTest::addColumn<int>("connectionType");
    QTest::addColumn<bool>("credentials");
    QTest::addColumn<int>("warnings");
    QTest::newRow("plain TCP with a user") << 0 << true << 1;
    QTest::newRow("plain TCP without a user") << 0 << false << 0;
    QTest::newRow("STARTTLS with a user") << 2 << true << 0;
}

void MailingPluginSmtpClientTest::clearAuthIsWarnedOncePerTransport()
{
    QFETCH(int, connectionType);
    QFETCH(bool, credentials);
    QFETCH(int, warnings);
    const QString user = QStringLiteral("kitchen");
    const QString password = QStringLiteral("Clear-Secret-77");
    SmtpTest::Server server;
    const QString error
        = server.start(connectionType == 0 ? SmtpTest::Server::Plain : SmtpTest::Server::StartTls,
            certDir.path(), user, password);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    MailingPluginSmtpClient transport;
    SmtpSettings s = plainSettings(server.port());
    s.host = QStringLiteral("localhost");
    s.connectionType = connectionType;
    if (credentials) {
        s.user = user;
        s.password = password;
    }
    transport.setSettings(s);
    LogCapture log;
    for (uint mid = 1; mid <= 3; ++mid)
        QCOMPARE(send(transport, mid, QStringLiteral("a@x.test"), QStringLiteral("b@x.test"),
                     QStringLiteral("S"), "x")
                     .status,
            QStringLiteral("sent"));
    QCOMPARE(server.messageCount(), 3);
    QCOMPARE(server.envelope(3).value(QLatin1String("authenticated")).toBool(), credentials);
    const QStringList warned = log.matching(QStringLiteral("crosses the network in clear"));
    QCOMPARE(warned.size(), warnings);
    if (warnings)
        QVERIFY2(warned.at(0).contains(QStringLiteral("\"kitchen\"")), qPrintable(warned.at(0)));
    for (const QString &line : log.lines())
        QVERIFY2(!line.contains(password), qPrintable(line));
}

YXA_TEST_CLASS(MailingPluginSmtpClientTest)
#include "mailingpluginsmtpclienttest.moc"
