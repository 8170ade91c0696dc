// Throughput of the encoders on attachment-sized input. The rows check the
// output as well, so a fast but wrong encoder fails.
#include "testmain.h"

#include "emailaddress.h"
#include "mimeattachment.h"
#include "mimecontentformatter.h"
#include "mimemessage.h"
#include "quotedprintable.h"

#include <QElapsedTimer>
#include <QTest>

class MimeEncodingBenchmark : public QObject
{
    Q_OBJECT

private slots:
    void base64Attachment();
    void quotedPrintable();
    void wholeMessage();
};

namespace {
QByteArray payload(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 7) & 0xff);
    return bytes;
}
} // namespace

void MimeEncodingBenchmark::base64Attachment()
{
    const QByteArray bytes = payload(10 * 1024 * 1024);
    QString text;
    QBENCHMARK
    {
        MimeAttachment part(bytes, QStringLiteral("big.bin"));
        text = part.toString();
    }
    const QString body = text.mid(text.indexOf(QLatin1String("\r\n\r\n")) + 4).chopped(4);
    QCOMPARE(QByteArray::fromBase64(body.toLatin1()), bytes);
    QCOMPARE(body.mid(60, 2), QStringLiteral("\r\n"));
}

void MimeEncodingBenchmark::quotedPrintable()
{
    const QByteArray bytes = payload(10 * 1024 * 1024);
    QString text;
    const MimeContentFormatter formatter(60);
    QBENCHMARK
    {
        text = formatter.format(QuotedPrintable::encode(bytes), true);
    }
    QCOMPARE(QuotedPrintable::decode(text), bytes);
}

void MimeEncodingBenchmark::wholeMessage()
{
    const QByteArray bytes = payload(10 * 1024 * 1024);
    QString text;
    QBENCHMARK
    {
        MimeMessage message;
        message.setSender(new EmailAddress(QStringLiteral("s@x.test"), QString()));
        MimeAttachment part(bytes, QStringLiteral("big.bin"));
        message.addPart(&part);
        text = message.toString();
    }
    QVERIFY(text.size() > bytes.size() * 4 / 3);
}

YXA_TEST_CLASS(MimeEncodingBenchmark)
#include "mimeencodingbenchmark.moc"
