// Wire-exact rendering of the MIME model: header block, parts, encoders.
#include "testmain.h"

#include "emailaddress.h"
#include "mimeattachment.h"
#include "mimecontentformatter.h"
#include "mimehtml.h"
#include "mimeinlinefile.h"
#include "mimemessage.h"
#include "mimemultipart.h"
#include "mimetext.h"
#include "mimeencoding_p.h"
#include "quotedprintable.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>
#include <QTest>

namespace {
const QRegularExpression dateLine(
    QStringLiteral("\r\nDate: \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}\r\n"));

// The header block of a rendered message, up to the content's own lines.
QString headerBlock(const QString &message)
{
    const int end = message.indexOf(QLatin1String("Content-Type: multipart/"));
    return end < 0 ? message : message.left(end);
}

QStringList headerLines(const QString &message)
{
    QStringList lines = headerBlock(message).split(QStringLiteral("\r\n"));
    lines.removeAll(QString());
    return lines;
}
} // namespace

class MimeRenderTest : public QObject
{
    Q_OBJECT

private slots:
    void completeExample();
    void recipientLines_data();
    void recipientLines();
    void headerEncodings_data();
    void headerEncodings();
    void longEncodedSubjectIsSplit();
    void headerInjection_data();
    void headerInjection();
    void inReplyTo();
    void base64Folding_data();
    void base64Folding();
    void base64DecodingReadsAsQt_data();
    void base64DecodingReadsAsQt();
    void quotedPrintableFolding_data();
    void quotedPrintableFolding();
    void quotedPrintableTextKeepsLines_data();
    void quotedPrintableTextKeepsLines();
    void quotedPrintableEncode_data();
    void quotedPrintableEncode();
    void quotedPrintableDecode_data();
    void quotedPrintableDecode();
    void partBodies_data();
    void partBodies();
    void attachmentDisposition_data();
    void attachmentDisposition();
    void inlineFileFromDisk();
    void multipartTypes_data();
    void multipartTypes();
    void boundariesAreUnpredictable();
    void renderingTwiceKeepsContent();
    void messageContentOwnership();
    void messageWithoutSender();
    void dateIsTheTimeOfRendering();
};

void MimeRenderTest::completeExample()
{
    MimeMessage message(true);
    message.setSender(new EmailAddress(QStringLiteral("sender@example.com"), QString()));
    EmailAddress replyTo(QStringLiteral("reply@example.com"), QString());
    message.setReplyTo(&replyTo);
    message.addRecipient(new EmailAddress(QStringLiteral("to@example.com"), QString()));
    message.setSubject(QStringLiteral("Hi"));
    MimeText text(QStringLiteral("Hello"));
    MimeAttachment attachment(QByteArray("abc"), QStringLiteral("x.pdf"));
    message.addPart(&text);
    message.addPart(&attachment);

    QString rendered = message.toString();
    const auto *multi = qobject_cast<MimeMultiPart *>(&message.getContent());
    QVERIFY(multi);
    const QString b = multi->getBoundary();

    QVERIFY2(rendered.contains(dateLine), qPrintable(rendered));
    rendered.replace(dateLine, QStringLiteral("\r\nDate: D\r\n"));
    // Every message carries an identifier of its own in the sender's domain,
    // kept when it is rendered again.
    const QRegularExpression idLine(
        QStringLiteral("\r\nMessage-ID: <([0-9a-f]{32})@example\\.com>\r\n"));
    const QString id = idLine.match(rendered).captured(1);
    QVERIFY2(!id.isEmpty(), qPrintable(rendered));
    QCOMPARE(idLine.match(message.toString()).captured(1), id);
    MimeMessage other;
    other.setSender(new EmailAddress(QStringLiteral("sender@example.com"), QString()));
    QVERIFY(!other.toString().contains(id));
    rendered.replace(idLine, QStringLiteral("\r\nMessage-ID: M\r\n"));
    const QStringList lines = {
        QStringLiteral("From: <sender@example.com>"),
        QStringLiteral("To: <to@example.com>"),
        QStringLiteral("Subject: Hi"),
        QStringLiteral("Reply-To:  <reply@example.com>"),
        QStringLiteral("MIME-Version: 1.0"),
        QStringLiteral("Date: D"),
        QStringLiteral("Message-ID: M"),
        QStringLiteral("Content-Type: multipart/mixed; boundary=") + b,
        QStringLiteral("Content-Transfer-Encoding: 8bit"),
        QString(),
        QStringLiteral("--") + b,
        QStringLiteral("Content-Type: text/plain; charset=utf-8"),
        QStringLiteral("Content-Transfer-Encoding: 8bit"),
        QString(),
        QStringLiteral("Hello"),
        QString(),
        QStringLiteral("--") + b,
        QStringLiteral("Content-Type: application/octet-stream"),
        QStringLiteral("Content-Transfer-Encoding: base64"),
        QStringLiteral("Content-Disposition: attachment; filename=\"x.pdf\""),
        QString(),
        QStringLiteral("YWJj"),
        QString(),
        QStringLiteral("--") + b + QStringLiteral("--"),
        QString(),
        QString(),
    };
    QCOMPARE(rendered, lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void MimeRenderTest::recipientLines_data()
{
    QTest::addColumn<QStringList>("to");
    QTest::addColumn<QStringList>("cc");
    QTest::addColumn<QStringList>("bcc");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no recipients")
        << QStringList() << QStringList() << QStringList()
        << QStringList { QStringLiteral("From: <s@x.test>"), QStringLiteral("To:") };
    QTest::newRow("named and unnamed To")
        << QStringList { QStringLiteral("Ann|a@x.test"), QStringLiteral("|b@y.test") }
        << QStringList() << QStringList()
        << QStringList { QStringLiteral("From: <s@x.test>"),
               QStringLiteral("To: Ann <a@x.test>, <b@y.test>") };
    QTest::newRow("Cc when present")
        << QStringList { QStringLiteral("|a@x.test") }
        << QStringList { QStringLiteral("|c@x.test"), QStringLiteral("Cid|d@x.test") }
        << QStringList()
        << QStringList { QStringLiteral("From: <s@x.test>"), QStringLiteral("To: <a@x.test>"),
               QStringLiteral("Cc: <c@x.test>, Cid <d@x.test>") };
    QTest::newRow("Bcc never in the text")
        << QStringList { QStringLiteral("|a@x.test") } << QStringList()
        << QStringList { QStringLiteral("Hidden|hidden@x.test") }
        << QStringList { QStringLiteral("From: <s@x.test>"), QStringLiteral("To: <a@x.test>") };
}

void MimeRenderTest::recipientLines()
{
    QFETCH(QStringList, to);
    QFETCH(QStringList, cc);
    QFETCH(QStringList, bcc);
    QFETCH(QStringList, expected);

    MimeMessage message;
    message.setSender(new EmailAddress(QStringLiteral("s@x.test"), QString()));
    const auto add = [&message](const QStringList &list, MimeMessage::RecipientType type) {
        for (const QString &entry : list) {
            const QStringList nameAddress = entry.split(QLatin1Char('|'));
            message.addRecipient(new EmailAddress(nameAddress.at(1), nameAddress.at(0)), type);
        }
    };
    add(to, MimeMessage::To);
    add(cc, MimeMessage::Cc);
    add(bcc, MimeMessage::Bcc);
    message.setSubject(QStringLiteral("S"));

    const QString rendered = message.toString();
    expected << QStringLiteral("Subject: S") << QStringLiteral("MIME-Version: 1.0");
    QStringList lines = headerLines(rendered);
    QVERIFY(lines.last().startsWith(QLatin1String("Message-ID: <")));
    lines.removeLast();
    QVERIFY(lines.last().startsWith(QLatin1String("Date: ")));
    lines.removeLast();
    QCOMPARE(lines, expected);
    QVERIFY(!rendered.contains(QLatin1String("hidden@")));
    QCOMPARE(message.getRecipients(MimeMessage::Bcc).size(), bcc.size());
}

void MimeRenderTest::headerEncodings_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("senderName");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("fromLine");
    QTest::addColumn<QString>("subjectLine");

    const int def = MimePart::Encoding8Bit;
    const int b64 = MimePart::EncodingBase64;
    const int qp = MimePart::EncodingQuotedPrintable;
    QTest::newRow("ascii default")
        << def << QStringLiteral("Ann") << QStringLiteral("Hi: there")
        << QStringLiteral("From: Ann <s@x.test>") << QStringLiteral("Subject: Hi: there");
    QTest::newRow("empty name") << def << QString() << QStringLiteral("Hi")
                                << QStringLiteral("From: <s@x.test>")
                                << QStringLiteral("Subject: Hi");
    QTest::newRow("quoted-printable")
        << qp << QString() << QStringLiteral("Z\u00fcrich: Lunch")
        << QStringLiteral("From: <s@x.test>")
        << QStringLiteral("Subject: =?utf-8?Q?Z=C3=BCrich=3A_Lunch?=");
    QTest::newRow("quoted-printable name") << qp << QStringLiteral("A b") << QStringLiteral("x")
                                           << QStringLiteral("From: =?utf-8?Q?A_b?= <s@x.test>")
                                           << QStringLiteral("Subject: =?utf-8?Q?x?=");
    QTest::newRow("quoted-printable keeps the word closed")
        << qp << QString() << QStringLiteral("a?=b_c") << QStringLiteral("From: <s@x.test>")
        << QStringLiteral("Subject: =?utf-8?Q?a=3F=3Db=5Fc?=");
    QTest::newRow("base64") << b64 << QStringLiteral("Ann") << QStringLiteral("Hi")
                            << QStringLiteral("From: =?utf-8?B?QW5u?= <s@x.test>")
                            << QStringLiteral("Subject: =?utf-8?B?SGk=?=");
    // Slovak text with the default encoding goes out as Base64 words.
    QTest::newRow("slovak default")
        << def << QStringLiteral("Jedáleň") << QStringLiteral("Objednávka jedál")
        << QStringLiteral("From: =?utf-8?B?")
            + QString::fromLatin1(QStringLiteral("Jedáleň").toUtf8().toBase64())
            + QStringLiteral("?= <s@x.test>")
        << QStringLiteral("Subject: =?utf-8?B?")
            + QString::fromLatin1(QStringLiteral("Objednávka jedál").toUtf8().toBase64())
            + QStringLiteral("?=");
}

void MimeRenderTest::headerEncodings()
{
    QFETCH(int, encoding);
    QFETCH(QString, senderName);
    QFETCH(QString, subject);
    QFETCH(QString, fromLine);
    QFETCH(QString, subjectLine);

    MimeMessage message;
    message.setHeaderEncoding(MimePart::Encoding(encoding));
    message.setSender(new EmailAddress(QStringLiteral("s@x.test"), senderName));
    message.setSubject(subject);
    const QStringList lines = headerLines(message.toString());
    QCOMPARE(lines.value(0), fromLine);
    QCOMPARE(lines.value(2), subjectLine);
}

void MimeRenderTest::longEncodedSubjectIsSplit()
{
    const QString subject = QStringLiteral(
        "Objednávka jedál na štvrtok 10. decembra – Žilina, Ružomberok a Liptovský Mikuláš");
    MimeMessage message;
    message.setSender(new EmailAddress(QStringLiteral("s@x.test"), QString()));
    message.setSubject(subject);
    const QString block = headerBlock(message.toString());
    const int start = block.indexOf(QLatin1String("Subject: "));
    const int end = block.indexOf(QLatin1String("\r\nMIME-Version"));
    const QString field = block.mid(start + 9, end - start - 9);

    // Words joined by folding, each within 75 characters, whole UTF-8
    // characters each, together giving the subject back.
    const QStringList words = field.split(QStringLiteral("\r\n "));
    QVERIFY(words.size() > 1);
    QString decoded;
    for (const QString &word : words) {
        QVERIFY2(word.size() <= 75, qPrintable(word));
        QVERIFY(word.startsWith(QLatin1String("=?utf-8?B?")) && word.endsWith(QLatin1String("?=")));
        const QByteArray bytes = QByteArray::fromBase64(word.mid(10, word.size() - 12).toLatin1());
        QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes);
        decoded += QString::fromUtf8(bytes);
    }
    QCOMPARE(decoded, subject);
}

void MimeRenderTest::headerInjection_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("line");

    const QString evil = QStringLiteral("x\r\nBcc: victim@x.test\nX-Evil: 1\rY");
    QTest::newRow("subject") << QStringLiteral("subject") << evil
                             << QStringLiteral("Subject: x  Bcc: victim@x.test X-Evil: 1 Y");
    QTest::newRow("display name") << QStringLiteral(
        "name") << evil << QStringLiteral("From: x  Bcc: victim@x.test X-Evil: 1 Y <s@x.test>");
    QTest::newRow("address") << QStringLiteral("address") << evil
                             << QStringLiteral("To: <x  Bcc: victim@x.test X-Evil: 1 Y>");
    QTest::newRow("in-reply-to") << QStringLiteral(
        "inReplyTo") << evil << QStringLiteral("In-Reply-To: <x  Bcc: victim@x.test X-Evil: 1 Y>");
}

void MimeRenderTest::headerInjection()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, line);

    MimeMessage message;
    message.setSender(new EmailAddress(
        QStringLiteral("s@x.test"), field == QLatin1String("name") ? value : QString()));
    message.addTo(new EmailAddress(
        field == QLatin1String("address") ? value : QStringLiteral("t@x.test"), QString()));
    message.setSubject(field == QLatin1String("subject") ? value : QStringLiteral("S"));
    if (field == QLatin1String("inReplyTo"))
        message.setInReplyTo(value);

    const QString block = headerBlock(message.toString());
    QVERIFY2(headerLines(block).contains(line), qPrintable(block));
    for (const QString &l : headerLines(block)) {
        QVERIFY2(!l.startsWith(QLatin1String("Bcc")) && !l.startsWith(QLatin1String("X-Evil"))
                && !l.startsWith(QLatin1Char('Y')),
            qPrintable(l));
    }
    QCOMPARE(block.count(QLatin1Char('\r')), block.count(QLatin1String("\r\n")));
    QCOMPARE(block.count(QLatin1Char('\n')), block.count(QLatin1String("\r\n")));
}

void MimeRenderTest::inReplyTo()
{
    MimeMessage message;
    message.setSender(new EmailAddress(QStringLiteral("s@x.test"), QString()));
    message.setInReplyTo(QStringLiteral("abc@x.test"));
    const QStringList lines = headerLines(message.toString());
    QCOMPARE(lines.mid(4, 2),
        (QStringList { QStringLiteral("In-Reply-To: <abc@x.test>"),
            QStringLiteral("References: <abc@x.test>") }));
}

void MimeRenderTest::base64Folding_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<QList<int>>("lineLengths");

    QTest::newRow("100 at 60") << 100 << 60 << QList<int> { 60, 40 };
    QTest::newRow("exactly 60") << 60 << 60 << QList<int> { 60 };
    QTest::newRow("120 at 60") << 120 << 60 << QList<int> { 60, 60 };
    QTest::newRow("121 at 60") << 121 << 60 << QList<int> { 60, 60, 1 };
    QTest::newRow("short") << 4 << 60 << QList<int> { 4 };
    QTest::newRow("empty") << 0 << 60 << QList<int> { 0 };
    QTest::newRow("76") << 200 << 76 << QList<int> { 76, 76, 48 };
}

void MimeRenderTest::base64Folding()
{
    QFETCH(int, length);
    QFETCH(int, maxLength);
    QFETCH(QList<int>, lineLengths);

    QString input;
    for (int i = 0; i < length; ++i)
        input += QLatin1Char(char('A' + i % 26));
    const MimeContentFormatter formatter(maxLength);
    const QString out = formatter.format(input, false);
    QList<int> lengths;
    for (const QString &line : out.split(QStringLiteral("\r\n")))
        lengths << line.size();
    QCOMPARE(lengths, lineLengths);
    QCOMPARE(QString(out).remove(QStringLiteral("\r\n")), input);

    // The same folding inside a Base64 part: 75 bytes give 100 characters.
    if (length == 100 && maxLength == 60) {
        MimeAttachment part(QByteArray(75, '\xfe'), QString());
        const QString text = part.toString();
        const QString b64 = QString::fromLatin1(QByteArray(75, '\xfe').toBase64());
        QVERIFY(text.contains(
            b64.left(60) + QStringLiteral("\r\n") + b64.mid(60) + QStringLiteral("\r\n\r\n")));
    }
}

void MimeRenderTest::quotedPrintableFolding_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("70 plain") << QByteArray(70, 'a')
                              << QString(59, QLatin1Char('a')) + QStringLiteral("=\r\n")
            + QString(11, QLatin1Char('a'));
    QTest::newRow("escape at 58 moves down")
        << QByteArray(57, 'a') + QByteArray("\xc3\xbc")
        << QString(57, QLatin1Char('a')) + QStringLiteral("=\r\n=C3=BC");
    QTest::newRow("escape ending at 59 stays") << QByteArray(56, 'a')
            + QByteArray("=") << QString(56, QLatin1Char('a')) + QStringLiteral("=3D");
    QTest::newRow("short") << QByteArray("Hello") << QStringLiteral("Hello");
}

void MimeRenderTest::quotedPrintableFolding()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);

    const MimeContentFormatter formatter(60);
    QCOMPARE(formatter.format(QuotedPrintable::encode(input), true), expected);

    // Random bytes: no line over 60 characters with its "=", no escape cut,
    // and decoding gives the bytes back.
    QByteArray random(5000, Qt::Uninitialized);
    auto *gen = QRandomGenerator::global();
    for (char &c : random)
        c = char(gen->bounded(256));
    MimePart part;
    part.setEncoding(MimePart::EncodingQuotedPrintable);
    part.setContent(random);
    const QString text = part.toString();
    const QString body = text.mid(text.indexOf(QLatin1String("\r\n\r\n")) + 4).chopped(4);
    const QRegularExpression cutEscape(QStringLiteral("=[0-9A-F]?$"));
    for (const QString &line : body.split(QStringLiteral("\r\n"))) {
        QVERIFY2(line.size() <= 60, qPrintable(line));
        QVERIFY2(!line.chopped(line.endsWith(QLatin1Char('=')) ? 1 : 0).contains(cutEscape),
            qPrintable(line));
    }
    QCOMPARE(QuotedPrintable::decode(body), random);
}

// A text's line breaks stay line breaks; only its long lines get soft ones.
void MimeRenderTest::quotedPrintableTextKeepsLines_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("CRLF and LF are line breaks")
        << QByteArray("a\r\nb\nc") << QStringLiteral("a\r\nb\r\nc");
    QTest::newRow("only the long line wrapped")
        << QByteArray(70, 'a') + "\nshort\n" + QByteArray(60, 'b')
        << QString(59, QLatin1Char('a')) + QStringLiteral("=\r\n") + QString(11, QLatin1Char('a'))
            + QStringLiteral("\r\nshort\r\n") + QString(59, QLatin1Char('b'))
            + QStringLiteral("=\r\nb");
    QTest::newRow("blank before a break or the end escaped")
        << QByteArray("a \r\nb ") << QStringLiteral("a=20\r\nb=20");
    QTest::newRow("bare CR is data") << QByteArray("a\rb") << QStringLiteral("a=0Db");
    QTest::newRow("blanks before bare LFs")
        << QByteArray(" \n").repeated(10) << QStringLiteral("=20\r\n").repeated(10);
}

void MimeRenderTest::quotedPrintableTextKeepsLines()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);

    MimeText part(QString::fromUtf8(input));
    part.setEncoding(MimePart::EncodingQuotedPrintable);
    const QString text = part.toString();
    QCOMPARE(text.mid(text.indexOf(QLatin1String("\r\n\r\n")) + 4).chopped(4), expected);
}

void MimeRenderTest::quotedPrintableEncode_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ascii") << QByteArray("Hello World ~!") << QStringLiteral("Hello World ~!");
    QTest::newRow("equals") << QByteArray("a=b") << QStringLiteral("a=3Db");
    QTest::newRow("line ends") << QByteArray("a\r\nb") << QStringLiteral("a=0D=0Ab");
    QTest::newRow("utf-8") << QStringLiteral("Zü").toUtf8() << QStringLiteral("Z=C3=BC");
    QTest::newRow("tab and del") << QByteArray("\t\x7f") << QStringLiteral("=09=7F");
    QTest::newRow("nul") << QByteArray("a\0b", 3) << QStringLiteral("a=00b");
}

void MimeRenderTest::quotedPrintableEncode()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    QCOMPARE(QuotedPrintable::encode(input), expected);
    QCOMPARE(QuotedPrintable::decode(expected), input);
}

void MimeRenderTest::quotedPrintableDecode_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("escape") << QStringLiteral("=3D=C3=BC") << QByteArray("=\xc3\xbc");
    QTest::newRow("soft break") << QStringLiteral("ab=\r\ncd") << QByteArray("abcd");
    QTest::newRow("lower-case hex is literal") << QStringLiteral("=3d") << QByteArray("=3d");
    QTest::newRow("trailing equals") << QStringLiteral("a=") << QByteArray("a=");
    QTest::newRow("wide character") << QStringLiteral("a\u010db") << QByteArray("a\0b", 3);
}

void MimeRenderTest::quotedPrintableDecode()
{
    QFETCH(QString, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(QuotedPrintable::decode(input), expected);
}

void MimeRenderTest::partBodies_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("body");

    QTest::newRow("8bit stops at NUL")
        << int(MimePart::Encoding8Bit) << QByteArray("ab\0cd", 5) << QStringLiteral("ab");
    QTest::newRow("8bit utf-8") << int(MimePart::Encoding8Bit) << QStringLiteral("Žilina").toUtf8()
                                << QStringLiteral("Žilina");
    QTest::newRow("7bit ascii") << int(MimePart::Encoding7Bit) << QByteArray("plain\0x", 7)
                                << QStringLiteral("plain");
    QTest::newRow("7bit: Latin-1 kept, the rest '?'")
        << int(MimePart::Encoding7Bit) << QStringLiteral("café 中 ok").toUtf8()
        << QStringLiteral("café ? ok");
    QTest::newRow("8bit: malformed utf-8 replaced")
        << int(MimePart::Encoding8Bit) << QByteArray("\xff ok \xc3\x28 \xe2\x82")
        << QStringLiteral("\ufffd ok \ufffd( \ufffd\ufffd");
    QTest::newRow("base64") << int(MimePart::EncodingBase64) << QByteArray("abc")
                            << QStringLiteral("YWJj");
    QTest::newRow("quoted-printable") << int(MimePart::EncodingQuotedPrintable)
                                      << QByteArray("a=b\n") << QStringLiteral("a=3Db=0A");
}

void MimeRenderTest::partBodies()
{
    QFETCH(int, encoding);
    QFETCH(QByteArray, content);
    QFETCH(QString, body);

    MimePart part;
    part.setContentType(QStringLiteral("application/x-test"));
    part.setCharset(QStringLiteral("utf-8"));
    part.setContentId(QStringLiteral("id1"));
    part.addHeaderLine(QStringLiteral("X-Extra: 1\r\nX-Injected: 2"));
    part.setEncoding(MimePart::Encoding(encoding));
    part.setContent(content);
    static const char *const names[] = { "7bit", "8bit", "base64", "quoted-printable" };
    const QString expected = QStringLiteral("Content-Type: application/x-test; charset=utf-8\r\n"
                                            "Content-Transfer-Encoding: ")
        + QLatin1String(names[encoding])
        + QStringLiteral("\r\nContent-ID: <id1>\r\nX-Extra: 1  X-Injected: 2\r\n\r\n") + body
        + QStringLiteral("\r\n\r\n");
    QCOMPARE(part.toString(), expected);
    QCOMPARE(part.toBytes(), expected.toUtf8());

    // Rendered once: later changes do not show.
    part.setContent("changed");
    QCOMPARE(part.toString(), expected);
}

void MimeRenderTest::attachmentDisposition_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("line");
    QTest::newRow("named") << QStringLiteral("order.pdf")
                           << QStringLiteral(
                                  "Content-Disposition: attachment; filename=\"order.pdf\"\r\n");
    QTest::newRow("no name") << QString() << QStringLiteral("Content-Disposition: attachment\r\n");
    QTest::newRow("slovak name in RFC 2231 form")
        << QStringLiteral("Objednávka-20261210-Obed 1.pdf")
        << QStringLiteral("Content-Disposition: attachment; "
                          "filename*=utf-8''Objedn%C3%A1vka-20261210-Obed%201.pdf\r\n");
    QTest::newRow("quote and line end in the name")
        << QStringLiteral("a\"b\r\nX-Evil: 1.pdf")
        << QStringLiteral(
               "Content-Disposition: attachment; filename=\"a\\\"b  X-Evil: 1.pdf\"\r\n");
}

void MimeRenderTest::attachmentDisposition()
{
    QFETCH(QString, name);
    QFETCH(QString, line);
    MimeAttachment part(QByteArray("x"), name);
    QCOMPARE(part.getContentType(), QStringLiteral("application/octet-stream"));
    QCOMPARE(part.getEncoding(), MimePart::EncodingBase64);
    const QString text = part.toString();
    QVERIFY2(
        text.contains(QStringLiteral("base64\r\n") + line + QStringLiteral("\r\neA==\r\n\r\n")),
        qPrintable(text));
    part.prepare();
    QCOMPARE(part.toString().count(QLatin1String("Content-Disposition")), 1);
}

void MimeRenderTest::inlineFileFromDisk()
{
    QTemporaryFile *file = new QTemporaryFile;
    QVERIFY(file->open());
    file->write("logo bytes");
    file->close();
    const QString baseName = QFileInfo(file->fileName()).fileName();

    MimeInlineFile part(file);
    QCOMPARE(part.getContentName(), baseName);
    part.setContentId(QStringLiteral("logo"));
    QCOMPARE(part.toString(),
        QStringLiteral(
            "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
            "Content-ID: <logo>\r\nContent-Disposition: inline\r\n\r\n")
            + QString::fromLatin1(QByteArray("logo bytes").toBase64())
            + QStringLiteral("\r\n\r\n"));

    // An unreadable file gives an empty body.
    MimeFile missing(new QFile(QStringLiteral("/nonexistent/yxa/file.bin")));
    QCOMPARE(missing.getContentName(), QStringLiteral("file.bin"));
    QVERIFY(missing.toString().endsWith(QLatin1String("base64\r\n\r\n\r\n\r\n")));

    MimeHtml html(QStringLiteral("<p>x</p>"));
    QVERIFY(
        html.toString().startsWith(QLatin1String("Content-Type: text/html; charset=utf-8\r\n")));
    QCOMPARE(html.getHtml(), QStringLiteral("<p>x</p>"));
}

void MimeRenderTest::multipartTypes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    const char *const names[]
        = { "mixed", "digest", "alternative", "related", "report", "signed", "encrypted" };
    for (int i = 0; i < 7; ++i)
        QTest::newRow(names[i]) << i << QStringLiteral("multipart/") + QLatin1String(names[i]);
}

void MimeRenderTest::multipartTypes()
{
    QFETCH(int, type);
    QFETCH(QString, name);
    MimeMultiPart made { MimeMultiPart::MultiPartType(type) };
    QCOMPARE(made.getContentType(), name);
    MimeMultiPart changed;
    const QString boundary = changed.getBoundary();
    changed.setMimeType(MimeMultiPart::MultiPartType(type));
    QCOMPARE(changed.getMimeType(), MimeMultiPart::MultiPartType(type));
    QCOMPARE(changed.getBoundary(), boundary);
    QVERIFY(changed.toString().startsWith(QStringLiteral("Content-Type: ") + name
        + QStringLiteral("; boundary=") + boundary + QStringLiteral("\r\n")));
}

void MimeRenderTest::boundariesAreUnpredictable()
{
    const QRegularExpression form(QStringLiteral("^[0-9a-f]{32}$"));
    QSet<QString> seen;
    for (int i = 0; i < 2000; ++i) {
        MimeMultiPart part;
        QVERIFY2(form.match(part.getBoundary()).hasMatch(), qPrintable(part.getBoundary()));
        seen.insert(part.getBoundary());
    }
    QCOMPARE(seen.size(), 2000);
}

void MimeRenderTest::renderingTwiceKeepsContent()
{
    MimeMessage message;
    message.setSender(new EmailAddress(QStringLiteral("s@x.test"), QString()));
    MimeText text(QStringLiteral("Hello"));
    MimeAttachment attachment(QByteArray("abc"), QStringLiteral("x.pdf"));
    message.addPart(&text);
    message.addPart(&attachment);
    const QString first = message.toString();
    text.setText(QStringLiteral("changed"));
    const QString second = message.toString();
    const int a = first.indexOf(QLatin1String("Content-Type: multipart"));
    const int b = second.indexOf(QLatin1String("Content-Type: multipart"));
    QVERIFY(a > 0);
    QCOMPARE(second.mid(b), first.mid(a));
    QVERIFY(second.contains(dateLine));
    QCOMPARE(second.count(QLatin1String("Content-Disposition")), 1);
    QCOMPARE(message.getParts().size(), 2);
}

void MimeRenderTest::messageContentOwnership()
{
    MimeMessage message(true);
    QPointer<MimePart> automatic = &message.getContent();
    MimeText own(QStringLiteral("single"));
    message.setContent(&own);
    QVERIFY(automatic.isNull());
    QCOMPARE(message.getParts(), QList<MimePart *> { &own });
    message.addPart(&own); // no multipart: nothing happens
    message.setSender(new EmailAddress(QStringLiteral("s@x.test"), QString()));
    QVERIFY(message.toString().endsWith(
        QLatin1String("Content-Transfer-Encoding: 8bit\r\n\r\nsingle\r\n\r\n")));
}

void MimeRenderTest::messageWithoutSender()
{
    MimeMessage message;
    message.setSender(nullptr);
    QCOMPARE(message.getSender().getAddress(), QString());
    QVERIFY(message.toString().startsWith(QLatin1String("From: <>\r\nTo:\r\n")));
}

void MimeRenderTest::base64DecodingReadsAsQt_data()
{
    QTest::addColumn<QByteArray>("text");
    QByteArray random(3001, Qt::Uninitialized);
    for (char &c : random)
        c = char(QRandomGenerator::global()->bounded(256));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("padded") << QByteArray("YWI=");
    QTest::newRow("unpadded tail") << QByteArray("YWJjZA");
    QTest::newRow("folded with CRLF") << random.toBase64().insert(76, "\r\n").insert(10, "\n");
    QTest::newRow("padding inside and other bytes") << QByteArray("YW=Jj*ZA\xff==-_ Zg");
    QTest::newRow("random bytes as text") << random;
}

void MimeRenderTest::base64DecodingReadsAsQt()
{
    QFETCH(QByteArray, text);
    QCOMPARE(MimeEncoding::fromBase64(text), QByteArray::fromBase64(text));
}

// Messages rendered a second apart carry dates a second apart, each the
// local time it was rendered at.
void MimeRenderTest::dateIsTheTimeOfRendering()
{
    QList<QDateTime> dates;
    for (int i = 0; i < 2; ++i) {
        if (i > 0)
            QTest::qWait(1100);
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        MimeMessage message;
        const QString rendered = message.toString();
        const QDateTime after = QDateTime::currentDateTime();
        const int start = rendered.indexOf(QLatin1String("\r\nDate: ")) + 8;
        const QDateTime date = QDateTime::fromString(
            rendered.mid(start, rendered.indexOf(QLatin1Char('\r'), start) - start),
            Qt::RFC2822Date);
        QVERIFY2(date >= before && date <= after, qPrintable(rendered));
        dates << date;
    }
    QVERIFY(dates.at(0) < dates.at(1));
}

YXA_TEST_CLASS(MimeRenderTest)
#include "mimerendertest.moc"
