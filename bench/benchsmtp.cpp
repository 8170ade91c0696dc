// SMTP delivery case: COUNT order mails, each with the same PDF attached,
// delivered one by one through MailingPluginSmtpClient::sendMail exactly as
// the mailing worker calls it (mail data document with the PDF in Base64,
// one SMTP dialogue per mail), to a plain SMTP server on loopback.
//
//   bench_smtp PORT PDF [COUNT]
//
// Prints RESULT <seconds for all mails> sent=<mails reported "sent">
// cpu=<CPU seconds this process spent on them>: the server's share of the
// wall time is the same for us and the peer, the client's CPU is ours alone.
// Exits 1 when any mail is not reported "sent".
#include "mailingpluginsmtpclient.h"
#include "smtpsettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <ctime>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc < 3) {
        err << "usage: bench_smtp PORT PDF [COUNT]\n";
        return 2;
    }
    const quint16 port = quint16(atoi(argv[1]));
    QFile pdf(QString::fromLocal8Bit(argv[2]));
    if (!pdf.open(QIODevice::ReadOnly)) {
        err << "bench_smtp: cannot read " << pdf.fileName() << "\n";
        return 1;
    }
    const int count = argc > 3 ? qMax(1, atoi(argv[3])) : 200;

    // The row's mail data document, as the catering side writes it.
    QJsonObject attachment;
    attachment.insert(QStringLiteral("type"), QStringLiteral("application/pdf"));
    attachment.insert(QStringLiteral("name"), QStringLiteral("objednavka.pdf"));
    attachment.insert(QStringLiteral("content"), QString::fromLatin1(pdf.readAll().toBase64()));
    QJsonObject document;
    document.insert(QStringLiteral("attachments"), QJsonArray{attachment});
    const QByteArray mailData = QJsonDocument(document).toJson(QJsonDocument::Compact);
    const QByteArray body = QStringLiteral("Celkový súčet:3  x \tGuláš\nObjednávka sa nachádza v prílohe.").toUtf8();

    SmtpSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.connectionType = 0;
    settings.authMethod = 0;
    MailingPluginSmtpClient transport;
    transport.setSettings(settings);
    int sent = 0;
    QObject::connect(&transport, &MailingPluginSmtpClient::sentDone, &transport,
                     [&sent](uint, const QString &status, const QString &) {
                         if (status == QLatin1String("sent"))
                             ++sent;
                     });

    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    for (int i = 1; i <= count; ++i)
        transport.sendMail(uint(i), QStringLiteral("kuchyna@example.com"), QStringLiteral("dodavatel@example.com"),
                           QStringLiteral("Firma - Objednávka - 08.12.2026, Obed, dodávateľ: Kuchyňa"), body,
                           mailData);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    QTextStream(stdout) << "RESULT " << QString::number(seconds, 'f', 6) << " sent=" << sent
                        << " cpu=" << QString::number(cpu, 'f', 6) << "\n";
    if (sent != count) {
        err << "bench_smtp: only " << sent << " of " << count << " mails were sent\n";
        return 1;
    }
    return 0;
}
