// Throughput of the MIME encoders on attachment-sized input, as Qt Test
// benchmarks (bench_mime_encoders, or bench_mime_encoders quotedPrintable
// for one). Each case checks its output as well, so a fast but wrong
// encoder fails.
#include "emailaddress.h"
#include "mimeattachment.h"
#include "mimemessage.h"
#include "mimetext.h"
#include "quotedprintable.h"

#include <QElapsedTimer>
#include <QTest>

class MimeEncodingBenchmark : public QObject
{
    Q_OBJECT

private slots:
    void base64Attachment();
    void quotedPrintable();
    void quotedPrintableText();
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
    QBENCHMARK
    {
        MimePart part;
        part.setEncoding(MimePart::EncodingQuotedPrintable);
        part.setContent(bytes);
        text = part.toString();
    }
    const QString body = text.mid(text.indexOf(QLatin1String("\r\n\r\n")) + 4).chopped(4);
    QCOMPARE(QuotedPrintable::decode(body), bytes);
}

// A text body: line by line, only the long lines wrapped.
void MimeEncodingBenchmark::quotedPrintableText()
{
    QByteArray bytes;
    while (bytes.size() < 10 * 1024 * 1024)
        bytes += "Objedn\xc3\xa1vka jed\xc3\xa1l na \xc5\xa1tvrtok = 12 porci\xc3\xad\r\n"
            + QByteArray(1200, 'x') + "\r\n";
    QString text;
    QBENCHMARK
    {
        MimeText part(QString::fromUtf8(bytes));
        part.setEncoding(MimePart::EncodingQuotedPrintable);
        text = part.toString();
    }
    const QString body = text.mid(text.indexOf(QLatin1String("\r\n\r\n")) + 4).chopped(4);
    QCOMPARE(QuotedPrintable::decode(body), bytes);
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

QTEST_GUILESS_MAIN(MimeEncodingBenchmark)
#include "benchmimeencoders.moc"
