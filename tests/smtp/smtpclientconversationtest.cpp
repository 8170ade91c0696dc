// SmtpClient against a scripted peer: the exact lines it sends, the replies
// it accepts, the errors it raises and how long it waits.
#include "testmain.h"

#include "fakesmtpserver.h"

#include "emailaddress.h"
#include "mimeattachment.h"
#include "mimemessage.h"
#include "mimetext.h"
#include "smtpclient.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

namespace {
enum MessageKind { Simple, AllRecipientTypes, DotLines, NoRecipients, Huge, UnsafeSender };

const QStringList greeting = {
    QStringLiteral("S: 220 fake.test ESMTP"),
    QStringLiteral("C: EHLO localhost"),
    QStringLiteral("S: 250-fake.test"),
    QStringLiteral("S: 250-AUTH PLAIN LOGIN"),
    QStringLiteral("S: 250 8BITMIME"),
};

QStringList envelope(const QStringList &rcpts = { QStringLiteral("to@x.test") })
{
    QStringList lines { QStringLiteral("C: MAIL FROM:<from@x.test>"), QStringLiteral("S: 250 ok") };
    for (const QString &r : rcpts)
        lines << QStringLiteral("C: RCPT TO:<") + r + QLatin1Char('>')
              << QStringLiteral("S: 250 ok");
    return lines;
}

const QStringList dataPhase = {
    QStringLiteral("C: DATA"),
    QStringLiteral("S: 354 go ahead"),
    QStringLiteral("C: <DATA>"),
    QStringLiteral("S: 250 queued"),
};

struct Message
{
    std::unique_ptr<MimeText> text;
    std::unique_ptr<MimeAttachment> attachment;
    std::unique_ptr<MimeMessage> message;
};

Message makeMessage(MessageKind kind)
{
    Message m;
    m.message = std::make_unique<MimeMessage>(true);
    m.message->setSender(new EmailAddress(kind == UnsafeSender
            ? QStringLiteral("from@x.test>\r\nRCPT TO:<evil@x.test")
            : QStringLiteral("from@x.test"),
        QStringLiteral("From")));
    if (kind != NoRecipients)
        m.message->addTo(new EmailAddress(QStringLiteral("to@x.test"), QString()));
    if (kind == AllRecipientTypes) {
        m.message->addBcc(new EmailAddress(QStringLiteral("bcc@x.test"), QString()));
        m.message->addCc(new EmailAddress(QStringLiteral("cc@x.test"), QString()));
        m.message->addTo(new EmailAddress(QStringLiteral("to2@x.test"), QString()));
    }
    m.message->setSubject(QStringLiteral("Test"));
    QString body = QStringLiteral("Hello");
    if (kind == DotLines)
        body = QStringLiteral("first\n.\n.hidden\r\n\r\n.\r\nMAIL FROM:<evil@x.test>\rlast");
    m.text = std::make_unique<MimeText>(body);
    m.message->addPart(m.text.get());
    if (kind == Huge) {
        m.attachment = std::make_unique<MimeAttachment>(
            QByteArray(16 * 1024 * 1024, 'z'), QStringLiteral("big.bin"));
        m.message->addPart(m.attachment.get());
    }
    return m;
}
} // namespace

class SmtpClientConversationTest : public QObject
{
    Q_OBJECT

private slots:
    void conversation_data();
    void conversation();
    void connectionRefused();
    void quitWithoutConnection();
    void slowReplyToTheMessage();
    void dataIsTheMessageMadeTransparent();
    void traceHidesSecrets_data();
    void traceHidesSecrets();
};

void SmtpClientConversationTest::conversation_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("connectionType");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("message");
    QTest::addColumn<int>("timeout"); // 0: the client's defaults
    QTest::addColumn<QString>("results");
    QTest::addColumn<QList<int>>("errors");
    QTest::addColumn<int>("maxMs"); // upper bound for the whole dialogue

    using E = SmtpClient;
    const int tcp = SmtpClient::TcpConnection;
    const QStringList quit { QStringLiteral("C: QUIT") };

    QTest::newRow("plain submission, multi-line EHLO")
        << greeting + envelope() + dataPhase + quit << tcp << QStringLiteral("connect send quit")
        << int(Simple) << 0 << QStringLiteral("connect:1 send:1") << QList<int>() << 5000;

    QTest::newRow("bare 250 ends a reply") << QStringList { QStringLiteral("S: 220 fake"),
        QStringLiteral("C: EHLO localhost"), QStringLiteral("S: 250") }
            + quit << tcp << QStringLiteral("connect quit")
                                           << int(Simple) << 0 << QStringLiteral("connect:1")
                                           << QList<int>() << 5000;

    QTest::newRow("AUTH PLAIN: one line, empty authorisation identity")
        << greeting
            + QStringList { QStringLiteral("C: AUTH PLAIN AHVzZXIAc2VjcmV0"),
                  QStringLiteral("S: 235 ok") }
            + envelope() + dataPhase + quit
        << tcp << QStringLiteral("connect login-plain send quit") << int(Simple) << 0
        << QStringLiteral("connect:1 login:1 send:1") << QList<int>() << 5000;

    QTest::newRow("AUTH LOGIN") << greeting
            + QStringList { QStringLiteral("C: AUTH LOGIN"), QStringLiteral("S: 334 VXNlcm5hbWU6"),
                  QStringLiteral("C: dXNlcg=="), QStringLiteral("S: 334 UGFzc3dvcmQ6"),
                  QStringLiteral("C: c2VjcmV0"), QStringLiteral("S: 235 ok") }
            + envelope() + dataPhase + quit
                                << tcp << QStringLiteral("connect login-login send quit")
                                << int(Simple) << 0 << QStringLiteral("connect:1 login:1 send:1")
                                << QList<int>() << 5000;

    QTest::newRow("AUTH LOGIN refused password")
        << greeting
            + QStringList { QStringLiteral("C: AUTH LOGIN"), QStringLiteral("S: 334 VXNlcm5hbWU6"),
                  QStringLiteral("C: dXNlcg=="), QStringLiteral("S: 334 UGFzc3dvcmQ6"),
                  QStringLiteral("C: c2VjcmV0"), QStringLiteral("S: 535 5.7.8 no") }
            + quit
        << tcp << QStringLiteral("connect login-login quit") << int(Simple) << 0
        << QStringLiteral("connect:1 login:0")
        << QList<int> { E::ClientError, E::AuthenticationFailedError } << 5000;

    QTest::newRow("greeting 554") << QStringList { QStringLiteral("S: 554 go away") } + quit << tcp
                                  << QStringLiteral("connect quit") << int(Simple) << 0
                                  << QStringLiteral("connect:0")
                                  << QList<int> { E::ClientError, E::ServerError } << 5000;

    QTest::newRow("EHLO 421 on every line of a multi-line reply")
        << QStringList { QStringLiteral("S: 220 fake"), QStringLiteral("C: EHLO localhost"),
               QStringLiteral("S: 421-busy"), QStringLiteral("S: 421 busy") }
            + quit
        << tcp << QStringLiteral("connect quit") << int(Simple) << 0 << QStringLiteral("connect:0")
        << QList<int> { E::ServerError, E::ServerError, E::ServerError } << 5000;

    QTest::newRow("Cc and Bcc get RCPT TO, To first")
        << greeting
            + envelope({ QStringLiteral("to@x.test"), QStringLiteral("to2@x.test"),
                QStringLiteral("cc@x.test"), QStringLiteral("bcc@x.test") })
            + dataPhase + quit
        << tcp << QStringLiteral("connect send quit") << int(AllRecipientTypes) << 0
        << QStringLiteral("connect:1 send:1") << QList<int>() << 5000;

    QTest::newRow("no recipients, DATA refused")
        << greeting
            + QStringList { QStringLiteral("C: MAIL FROM:<from@x.test>"),
                  QStringLiteral("S: 250 ok"), QStringLiteral("C: DATA"),
                  QStringLiteral("S: 554 no valid recipients") }
            + quit
        << tcp << QStringLiteral("connect send quit") << int(NoRecipients) << 0
        << QStringLiteral("connect:1 send:0") << QList<int> { E::ClientError } << 5000;

    QTest::newRow("RCPT refused") << greeting
            + QStringList { QStringLiteral("C: MAIL FROM:<from@x.test>"),
                  QStringLiteral("S: 250 ok"), QStringLiteral("C: RCPT TO:<to@x.test>"),
                  QStringLiteral("S: 550 no such user") }
            + quit << tcp << QStringLiteral("connect send quit")
                                  << int(Simple) << 0 << QStringLiteral("connect:1 send:0")
                                  << QList<int> { E::ClientError } << 5000;

    QTest::newRow("dot lines doubled, line ends made CRLF")
        << greeting + envelope() + dataPhase + quit << tcp << QStringLiteral("connect send quit")
        << int(DotLines) << 0 << QStringLiteral("connect:1 send:1") << QList<int>() << 5000;

    QTest::newRow("unsafe envelope address: nothing of the envelope sent")
        << greeting + quit << tcp << QStringLiteral("connect send quit") << int(UnsafeSender) << 0
        << QStringLiteral("connect:1 send:0") << QList<int> { E::ClientError } << 5000;

    QTest::newRow("silent greeting: response time-out")
        << QStringList { QStringLiteral("W: 1200") } << tcp << QStringLiteral("connect")
        << int(Simple) << 200 << QStringLiteral("connect:0")
        << QList<int> { E::ResponseTimeoutError } << 2000;

    QTest::newRow("silent after AUTH: time-out fails the login")
        << greeting
            + QStringList { QStringLiteral("C: AUTH PLAIN AHVzZXIAc2VjcmV0"),
                  QStringLiteral("W: 1200") }
        << tcp << QStringLiteral("connect login-plain") << int(Simple) << 200
        << QStringLiteral("connect:1 login:0")
        << QList<int> { E::ResponseTimeoutError, E::AuthenticationFailedError } << 2000;

    QTest::newRow("silent after end of data")
        << greeting + envelope()
            + QStringList { QStringLiteral("C: DATA"), QStringLiteral("S: 354 go"),
                  QStringLiteral("C: <DATA>"), QStringLiteral("W: 1200") }
        << tcp << QStringLiteral("connect send") << int(Simple) << 200
        << QStringLiteral("connect:1 send:0") << QList<int> { E::ResponseTimeoutError } << 2000;

    QTest::newRow("server stops reading: send data time-out")
        << greeting + envelope()
            + QStringList { QStringLiteral("C: DATA"), QStringLiteral("S: 354 go"),
                  QStringLiteral("W: 1200"), QStringLiteral("X") }
        << tcp << QStringLiteral("connect send") << int(Huge) << 300
        << QStringLiteral("connect:1 send:0") << QList<int> { E::SendDataTimeoutError } << 30000;

    QTest::newRow("STARTTLS refused")
        << greeting
            + QStringList { QStringLiteral("C: STARTTLS"),
                  QStringLiteral("S: 454 TLS not available") }
            + quit
        << int(SmtpClient::TlsConnection) << QStringLiteral("connect quit") << int(Simple) << 0
        << QStringLiteral("connect:0") << QList<int> { E::ServerError, E::ServerError } << 5000;

    QTest::newRow("STARTTLS handshake never answered")
        << greeting
            + QStringList { QStringLiteral("C: STARTTLS"), QStringLiteral("S: 220 go ahead"),
                  QStringLiteral("W: 1200"), QStringLiteral("X") }
        << int(SmtpClient::TlsConnection) << QStringLiteral("connect") << int(Simple) << 300
        << QStringLiteral("connect:0") << QList<int> { E::ConnectionTimeoutError } << 2500;

    QTest::newRow("data sent with the STARTTLS reply: refused before the handshake")
        << greeting
            + QStringList { QStringLiteral("C: STARTTLS"),
                  QStringLiteral("S: 220 go ahead\r\n250 INJECTED") }
        << int(SmtpClient::TlsConnection) << QStringLiteral("connect quit") << int(Simple) << 300
        << QStringLiteral("connect:0") << QList<int> { E::ServerError } << 2500;

    QTest::newRow("quit against a silent server returns at once")
        << greeting + QStringList { QStringLiteral("C: QUIT"), QStringLiteral("W: 1200") } << tcp
        << QStringLiteral("connect quit") << int(Simple) << 0 << QStringLiteral("connect:1")
        << QList<int>() << 1500;
}

void SmtpClientConversationTest::conversation()
{
    QFETCH(QStringList, script);
    QFETCH(int, connectionType);
    QFETCH(QString, steps);
    QFETCH(int, message);
    QFETCH(int, timeout);
    QFETCH(QString, results);
    QFETCH(QList<int>, errors);
    QFETCH(int, maxMs);

    FakeSmtpServer server(script);
    const quint16 port = server.listen();
    QVERIFY(port != 0);

    Message m = makeMessage(MessageKind(message));
    QStringList got;
    QList<int> raised;
    QElapsedTimer timer;
    {
        SmtpClient client(
            QStringLiteral("127.0.0.1"), port, SmtpClient::ConnectionType(connectionType));
        client.setUser(QStringLiteral("user"));
        client.setPassword(QStringLiteral("secret"));
        if (timeout > 0) {
            client.setConnectionTimeout(timeout);
            client.setResponseTimeout(timeout);
            client.setSendMessageTimeout(timeout);
        }
        connect(&client, &SmtpClient::smtpError, this,
            [&raised](SmtpClient::SmtpError e) { raised << int(e); });

        timer.start();
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            if (step == QLatin1String("connect")) {
                got << QStringLiteral("connect:%1").arg(int(client.connectToHost()));
            } else if (step.startsWith(QLatin1String("login-"))) {
                client.setAuthMethod(step == QLatin1String("login-plain") ? SmtpClient::AuthPlain
                                                                          : SmtpClient::AuthLogin);
                got << QStringLiteral("login:%1").arg(int(client.login()));
            } else if (step == QLatin1String("send")) {
                got << QStringLiteral("send:%1").arg(int(client.sendMail(*m.message)));
            } else if (step == QLatin1String("quit")) {
                QElapsedTimer quitTimer;
                quitTimer.start();
                client.quit();
                QVERIFY2(quitTimer.elapsed() < 1000, "quit() waited for a reply");
            }
        }
        QVERIFY2(timer.elapsed() < maxMs, qPrintable(QString::number(timer.elapsed())));
    }
    server.wait(20000);

    QCOMPARE(got.join(QLatin1Char(' ')), results);
    QCOMPARE(raised, errors);
    QCOMPARE(server.clientLines(), server.expectedClientLines());

    const QList<QByteArray> data = server.dataLines();
    if (!data.isEmpty()) {
        QVERIFY(data.first().startsWith("From: From <from@x.test>"));
        for (const QByteArray &line : data)
            QVERIFY2(!line.contains("bcc@"), line.constData());
    }
    if (message == DotLines) {
        const int start = data.indexOf("first");
        QVERIFY(start > 0);
        const QList<QByteArray> expected { "first", "..", "..hidden", "", "..",
            "MAIL FROM:<evil@x.test>", "last" };
        QCOMPARE(data.mid(start, expected.size()), expected);
    }
}

void SmtpClientConversationTest::connectionRefused()
{
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    SmtpClient client(QStringLiteral("127.0.0.1"), port, SmtpClient::TcpConnection);
    client.setConnectionTimeout(500);
    QSignalSpy spy(&client, &SmtpClient::smtpError);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!client.connectToHost());
    QVERIFY(timer.elapsed() < 2000);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<SmtpClient::SmtpError>(), SmtpClient::ConnectionTimeoutError);

    // Nothing to say goodbye to: no further error.
    client.quit();
    QCOMPARE(spy.count(), 1);
}

// A server that scans the message answers late; the mail it then accepts
// must not count as failed.
void SmtpClientConversationTest::slowReplyToTheMessage()
{
    FakeSmtpServer server(greeting + envelope()
        + QStringList { QStringLiteral("C: DATA"), QStringLiteral("S: 354 go"),
            QStringLiteral("C: <DATA>"), QStringLiteral("W: 800"), QStringLiteral("S: 250 queued"),
            QStringLiteral("C: QUIT") });
    const quint16 port = server.listen();
    QVERIFY(port != 0);
    Message m = makeMessage(Simple);
    SmtpClient client(QStringLiteral("127.0.0.1"), port, SmtpClient::TcpConnection);
    client.setResponseTimeout(300);
    client.setSendMessageTimeout(3000);
    QSignalSpy spy(&client, &SmtpClient::smtpError);
    QVERIFY(client.connectToHost());
    QVERIFY(client.sendMail(*m.message));
    client.quit();
    QCOMPARE(spy.count(), 0);
}

void SmtpClientConversationTest::quitWithoutConnection()
{
    SmtpClient client(QStringLiteral("127.0.0.1"), 1, SmtpClient::ConnectionType(7));
    QVERIFY(client.getSocket() == nullptr);
    QSignalSpy spy(&client, &SmtpClient::smtpError);
    QTest::ignoreMessage(
        QtWarningMsg, "SmtpClient::connectToHost() - connection type 7 has no socket");
    QVERIFY(!client.connectToHost());
    client.quit();
    QCOMPARE(spy.count(), 0);
    client.setConnectionType(SmtpClient::SslConnection);
    QVERIFY(qobject_cast<QSslSocket *>(client.getSocket()));
}

// What goes out after DATA is the UTF-8 of toString(), line by line as the
// peer reads it: any line end a CRLF, a leading "." doubled.
void SmtpClientConversationTest::dataIsTheMessageMadeTransparent()
{
    FakeSmtpServer server(
        greeting + envelope() + dataPhase + QStringList { QStringLiteral("C: QUIT") });
    const quint16 port = server.listen();
    QVERIFY(port != 0);
    MimeMessage message(true);
    message.setSender(new EmailAddress(QStringLiteral("from@x.test"), QStringLiteral("Jedáleň")));
    message.addTo(new EmailAddress(QStringLiteral("to@x.test"), QString()));
    message.setSubject(QStringLiteral("Objednávka"));
    MimeText text(QStringLiteral("Dobrý deň\n.\n.x\r\n\r\n.\r\rlast\r"));
    MimeText latin(QStringLiteral(".café 中\n"));
    latin.setEncoding(MimePart::Encoding7Bit);
    MimeText quoted(QStringLiteral("a  \n.b") + QString(100, QLatin1Char('=')));
    quoted.setEncoding(MimePart::EncodingQuotedPrintable);
    QByteArray bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += char(i * 7 % 251);
    MimeAttachment attachment(bytes, QStringLiteral("menu ľ.pdf"));
    for (MimePart *part : std::initializer_list<MimePart *> { &text, &latin, &quoted, &attachment })
        message.addPart(part);
    {
        SmtpClient client(QStringLiteral("127.0.0.1"), port, SmtpClient::TcpConnection);
        QVERIFY(client.connectToHost());
        QVERIFY(client.sendMail(message));
        client.quit();
    }
    server.wait(20000);

    const QByteArray sent = message.toString().toUtf8() + "\r\n";
    QList<QByteArray> expected;
    QByteArray line;
    for (int i = 0; i < sent.size(); ++i) {
        const char c = sent.at(i);
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        expected << (line.startsWith('.') ? '.' + line : line);
        line.clear();
        if (c == '\r' && sent.mid(i + 1, 1) == "\n")
            ++i;
    }
    QCOMPARE(server.dataLines(), expected);
}

namespace {
QStringList *capturedLines = nullptr;
void captureMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    if (capturedLines)
        capturedLines->append(text);
}
} // namespace

void SmtpClientConversationTest::traceHidesSecrets_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QStringList>("authLines");
    QTest::newRow("AUTH PLAIN") << int(SmtpClient::AuthPlain)
                                << QStringList { QStringLiteral("C: AUTH PLAIN AHVzZXIAc2VjcmV0"),
                                       QStringLiteral("S: 235 ok") };
    QTest::newRow("AUTH LOGIN") << int(SmtpClient::AuthLogin)
                                << QStringList { QStringLiteral("C: AUTH LOGIN"),
                                       QStringLiteral("S: 334 VXNlcm5hbWU6"),
                                       QStringLiteral("C: dXNlcg=="),
                                       QStringLiteral("S: 334 UGFzc3dvcmQ6"),
                                       QStringLiteral("C: c2VjcmV0"), QStringLiteral("S: 235 ok") };
}

// With YXA_SMTP_TRACE=1 the dialogue is logged in the script form of the
// fake server, so a trace from production can become a test row; the
// credentials never appear in it.
void SmtpClientConversationTest::traceHidesSecrets()
{
    QFETCH(int, method);
    QFETCH(QStringList, authLines);

    const QStringList script
        = greeting + authLines + envelope() + dataPhase + QStringList { QStringLiteral("C: QUIT") };
    FakeSmtpServer server(script);
    const quint16 port = server.listen();
    QVERIFY(port != 0);
    Message m = makeMessage(DotLines);

    QStringList lines;
    qputenv("YXA_SMTP_TRACE", "1");
    {
        SmtpClient client(QStringLiteral("127.0.0.1"), port, SmtpClient::TcpConnection);
        qunsetenv("YXA_SMTP_TRACE");
        capturedLines = &lines;
        const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
        const bool ok = client.connectToHost()
            && client.login(
                QStringLiteral("user"), QStringLiteral("secret"), SmtpClient::AuthMethod(method))
            && client.sendMail(*m.message);
        client.quit();
        qInstallMessageHandler(previous);
        capturedLines = nullptr;
        QVERIFY(ok);
    }
    server.wait(20000);

    QStringList trace;
    const QString prefix = QStringLiteral("SmtpClient::trace() ");
    for (const QString &line : qAsConst(lines)) {
        if (line.startsWith(prefix)
            && (line.midRef(prefix.size()).startsWith(QLatin1String("C: "))
                || line.midRef(prefix.size()).startsWith(QLatin1String("S: "))))
            trace << line.mid(prefix.size());
    }
    const QString joined = trace.join(QLatin1Char('\n'));
    for (const QString &secret : { QStringLiteral("AHVzZXIAc2VjcmV0"), QStringLiteral("dXNlcg=="),
             QStringLiteral("c2VjcmV0"), QStringLiteral("secret") })
        QVERIFY2(!QString(joined).remove(QStringLiteral("<secret>")).contains(secret),
            qPrintable(joined));
    QVERIFY(trace.contains(QStringLiteral("C: EHLO localhost")));
    QVERIFY(trace.contains(QStringLiteral("S: 250-AUTH PLAIN LOGIN")));
    QVERIFY(
        trace.contains(method == SmtpClient::AuthPlain ? QStringLiteral("C: AUTH PLAIN <secret>")
                                                       : QStringLiteral("C: <secret>")));
    QVERIFY(trace.contains(QStringLiteral("C: ..hidden")));
    QCOMPARE(trace.last(), QStringLiteral("C: QUIT"));

    // Without the variable nothing is traced.
    lines.clear();
    SmtpClient quiet(QStringLiteral("127.0.0.1"), 1, SmtpClient::TcpConnection);
    quiet.setConnectionTimeout(200);
    capturedLines = &lines;
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    quiet.connectToHost();
    qInstallMessageHandler(previous);
    capturedLines = nullptr;
    for (const QString &line : qAsConst(lines))
        QVERIFY2(!line.startsWith(prefix), qPrintable(line));
}

YXA_TEST_CLASS(SmtpClientConversationTest)
#include "smtpclientconversationtest.moc"
