// What we render, read back by an independent parser (Python's standard
// email package): the same subject, addresses, body text and attachment bytes.
#include "testmain.h"

#include "smtptestsupport.h"

#include "emailaddress.h"
#include "mimeattachment.h"
#include "mimemessage.h"
#include "mimetext.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QTest>

#include <memory>

class MimeParseTest : public QObject
{
    Q_OBJECT

private slots:
    void agrees_data();
    void agrees();
    void longHeadersFitSmtpLines_data();
    void longHeadersFitSmtpLines();
};

void MimeParseTest::agrees_data()
{
    QTest::addColumn<QString>("senderName");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("bodyEncoding");
    QTest::addColumn<int>("attachmentSize");
    QTest::addColumn<QString>("expectedSubject");
    QTest::addColumn<QString>("expectedFrom");

    const int eightBit = MimePart::Encoding8Bit;
    QTest::newRow("ascii") << QString() << QStringLiteral("Hi") << QStringLiteral("Hello\nworld")
                           << eightBit << 0 << QStringLiteral("Hi") << QStringLiteral("s@x.test");
    QTest::newRow("slovak subject and name")
        << QStringLiteral("Školská jedáleň") << QStringLiteral("Objednávka jedál – štvrtok")
        << QStringLiteral("Dobrý deň,\nv prílohe objednávka.") << eightBit << 0
        << QStringLiteral("Objednávka jedál – štvrtok")
        << QStringLiteral("Školská jedáleň <s@x.test>");
    const QString longSubject = QStringLiteral("Objednávka jedál na štvrtok 10. decembra – Žilina, "
                                               "Ružomberok, Liptovský Mikuláš a Poprad");
    QTest::newRow("long slovak subject")
        << QString() << longSubject << QStringLiteral("x") << eightBit << 0 << longSubject
        << QStringLiteral("s@x.test");
    QTest::newRow("header injection stays in the subject")
        << QString() << QStringLiteral("Hi\r\nBcc: victim@x.test") << QStringLiteral("x")
        << eightBit << 0 << QStringLiteral("Hi  Bcc: victim@x.test") << QStringLiteral("s@x.test");
    QTest::newRow("quoted-printable body")
        << QString() << QStringLiteral("QP")
        << QStringLiteral("Ľúbostný list = ") + QString(200, QLatin1Char('x'))
        << int(MimePart::EncodingQuotedPrintable) << 0 << QStringLiteral("QP")
        << QStringLiteral("s@x.test");
    QTest::newRow("1 MB binary attachment")
        << QString() << QStringLiteral("PDF") << QStringLiteral("see attachment") << eightBit
        << 1024 * 1024 << QStringLiteral("PDF") << QStringLiteral("s@x.test");
}

void MimeParseTest::agrees()
{
    QFETCH(QString, senderName);
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(int, bodyEncoding);
    QFETCH(int, attachmentSize);
    QFETCH(QString, expectedSubject);
    QFETCH(QString, expectedFrom);

    QByteArray bytes(attachmentSize, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));

    MimeMessage message;
    message.setSender(new EmailAddress(QStringLiteral("s@x.test"), senderName));
    message.addTo(new EmailAddress(QStringLiteral("t@x.test"), QStringLiteral("Tomáš")));
    message.addCc(new EmailAddress(QStringLiteral("c@x.test"), QString()));
    message.addBcc(new EmailAddress(QStringLiteral("b@x.test"), QString()));
    EmailAddress replyTo(QStringLiteral("r@x.test"), QString());
    message.setReplyTo(&replyTo);
    message.setSubject(subject);
    MimeText text(body);
    text.setEncoding(MimePart::Encoding(bodyEncoding));
    message.addPart(&text);
    std::unique_ptr<MimeAttachment> attachment;
    if (attachmentSize > 0) {
        attachment = std::make_unique<MimeAttachment>(bytes, QStringLiteral("objednávka.pdf"));
        attachment->setContentType(QStringLiteral("application/pdf"));
        message.addPart(attachment.get());
    }

    const QJsonObject parsed = SmtpTest::dumpMessage(message.toString().toUtf8());
    QVERIFY2(!parsed.contains(QLatin1String("error")),
        qPrintable(parsed.value(QLatin1String("error")).toString()));
    QCOMPARE(parsed.value(QLatin1String("subject")).toString(), expectedSubject);
    QCOMPARE(parsed.value(QLatin1String("from")).toString(), expectedFrom);
    QCOMPARE(parsed.value(QLatin1String("to")).toString(), QStringLiteral("Tomáš <t@x.test>"));
    QCOMPARE(parsed.value(QLatin1String("cc")).toString(), QStringLiteral("c@x.test"));
    QCOMPARE(parsed.value(QLatin1String("reply_to")).toString(), QStringLiteral("r@x.test"));
    QCOMPARE(parsed.value(QLatin1String("bcc")).toString(), QString());
    QVERIFY(!parsed.value(QLatin1String("date")).toString().isEmpty());
    QCOMPARE(
        parsed.value(QLatin1String("content_type")).toString(), QStringLiteral("multipart/mixed"));
    QCOMPARE(parsed.value(QLatin1String("defects")).toArray(), QJsonArray());

    const QJsonArray parts = parsed.value(QLatin1String("parts")).toArray();
    QCOMPARE(parts.size(), attachmentSize > 0 ? 2 : 1);
    const QJsonObject first = parts.at(0).toObject();
    QCOMPARE(first.value(QLatin1String("content_type")).toString(), QStringLiteral("text/plain"));
    QCOMPARE(first.value(QLatin1String("text")).toString(), body + QLatin1Char('\n'));
    QCOMPARE(first.value(QLatin1String("defects")).toArray(), QJsonArray());
    if (attachmentSize > 0) {
        const QJsonObject second = parts.at(1).toObject();
        QCOMPARE(second.value(QLatin1String("content_type")).toString(),
            QStringLiteral("application/pdf"));
        QCOMPARE(
            second.value(QLatin1String("disposition")).toString(), QStringLiteral("attachment"));
        QCOMPARE(
            second.value(QLatin1String("filename")).toString(), QStringLiteral("objednávka.pdf"));
        QCOMPARE(second.value(QLatin1String("size")).toInt(), attachmentSize);
        QVERIFY(QByteArray::fromBase64(second.value(QLatin1String("base64")).toString().toLatin1())
            == bytes);
        QCOMPARE(second.value(QLatin1String("defects")).toArray(), QJsonArray());
    }
}

// Headers longer than the 998 octets of an SMTP line are folded or continued,
// and read back unchanged.
void MimeParseTest::longHeadersFitSmtpLines_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("headerEncoding");
    QTest::addColumn<QString>("contentType");

    const int eightBit = MimePart::Encoding8Bit;
    const QString pdf = QStringLiteral("application/pdf");
    QStringList words;
    for (int i = 0; i < 200; ++i)
        words << QStringLiteral("slovo%1").arg(i);
    const QString manyWords = words.join(QLatin1Char(' '));
    QTest::newRow("ascii subject of many words")
        << manyWords << QStringLiteral("a.pdf") << eightBit << pdf;
    QTest::newRow("ascii subject without a blank")
        << QString(1500, QLatin1Char('x')) << QStringLiteral("a.pdf") << eightBit << pdf;
    QTest::newRow("quoted-printable subject")
        << QStringLiteral("Objednávka: ") + manyWords << QStringLiteral("a.pdf")
        << int(MimePart::EncodingQuotedPrintable) << pdf;
    QTest::newRow("long ascii file name")
        << QStringLiteral("PDF") << QString(1200, QLatin1Char('n')) + QStringLiteral(".pdf")
        << eightBit << pdf;
    QTest::newRow("long slovak file name")
        << QStringLiteral("PDF")
        << QStringLiteral("Objednávka-").repeated(60) + QStringLiteral("štvrtok.pdf") << eightBit
        << pdf;
    QStringList parameters;
    for (int i = 0; i < 120; ++i)
        parameters << QStringLiteral("x-p%1=value%1").arg(i);
    QTest::newRow("content type with many parameters")
        << QStringLiteral("PDF") << QStringLiteral("a.pdf") << eightBit
        << pdf + QStringLiteral("; ") + parameters.join(QStringLiteral("; "));
    // Fewer than 998 characters, more than 998 octets.
    QTest::newRow("content type parameter counted in octets")
        << QStringLiteral("PDF") << QStringLiteral("a.pdf") << eightBit
        << pdf + QStringLiteral("; x-note=\"") + QStringLiteral("poznámka ").repeated(100)
            + QStringLiteral("end\"");
}

void MimeParseTest::longHeadersFitSmtpLines()
{
    QFETCH(QString, subject);
    QFETCH(QString, fileName);
    QFETCH(int, headerEncoding);
    QFETCH(QString, contentType);

    MimeMessage message;
    message.setHeaderEncoding(MimePart::Encoding(headerEncoding));
    message.setSender(new EmailAddress(QStringLiteral("s@x.test"), QString()));
    message.addTo(new EmailAddress(QStringLiteral("t@x.test"), QString()));
    message.setSubject(subject);
    MimeText text(QStringLiteral("x"));
    message.addPart(&text);
    MimeAttachment attachment(QByteArray("%PDF-1.4"), fileName);
    attachment.setContentType(contentType);
    message.addPart(&attachment);

    const QByteArray wire = message.toString().toUtf8();
    for (const QByteArray &line : wire.split('\n'))
        QVERIFY2(line.size() <= 999, line.left(120).constData()); // 998 and the CR

    const QJsonObject parsed = SmtpTest::dumpMessage(wire);
    QVERIFY2(!parsed.contains(QLatin1String("error")),
        qPrintable(parsed.value(QLatin1String("error")).toString()));
    QCOMPARE(parsed.value(QLatin1String("subject")).toString(), subject);
    QCOMPARE(parsed.value(QLatin1String("defects")).toArray(), QJsonArray());
    const QJsonArray parts = parsed.value(QLatin1String("parts")).toArray();
    QCOMPARE(parts.size(), 2);
    const QJsonObject second = parts.at(1).toObject();
    QCOMPARE(second.value(QLatin1String("filename")).toString(), fileName);
    QCOMPARE(
        second.value(QLatin1String("content_type")).toString(), QStringLiteral("application/pdf"));
    QCOMPARE(second.value(QLatin1String("defects")).toArray(), QJsonArray());
}

YXA_TEST_CLASS(MimeParseTest)
#include "mimeparsetest.moc"
