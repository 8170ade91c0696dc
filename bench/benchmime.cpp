// MIME encoding case: one attachment part of a file's bytes rendered to its
// MIME text (Base64 folded at 60 characters), the work the SMTP transport
// does for every order PDF.
//
//   bench_mime FILE [REPEAT]
//
// Renders a fresh MimeAttachment of FILE's bytes REPEAT times (default 3,
// after one untimed warm-up) and prints one line
//   RESULT <median seconds> bytes=<input size> mbps=<MB/s of input>
// so that scripts/bench can alternate it with the peer.
#include "mimeattachment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc < 2) {
        err << "usage: bench_mime FILE [REPEAT]\n";
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        err << "bench_mime: cannot read " << file.fileName() << "\n";
        return 1;
    }
    const QByteArray bytes = file.readAll();
    const int repeat = argc > 2 ? qMax(1, atoi(argv[2])) : 3;

    std::vector<double> seconds;
    qint64 outputChars = 0;
    for (int i = 0; i <= repeat; ++i) {
        MimeAttachment part(bytes, QStringLiteral("objednavka.pdf"));
        part.setContentType(QStringLiteral("application/pdf"));
        QElapsedTimer timer;
        timer.start();
        const QString text = part.toString();
        const qint64 ns = timer.nsecsElapsed();
        outputChars = text.size();
        if (i > 0)
            seconds.push_back(ns / 1e9);
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    // Sanity: Base64 is 4/3 of the input plus a CRLF every 60 characters.
    const qint64 expected = (qint64(bytes.size()) + 2) / 3 * 4;
    if (outputChars < expected) {
        err << "bench_mime: rendered text too short (" << outputChars << " < " << expected << ")\n";
        return 1;
    }
    QTextStream(stdout) << "RESULT " << QString::number(median, 'f', 6) << " bytes=" << bytes.size()
                        << " mbps=" << QString::number(bytes.size() / median / 1e6, 'f', 1) << "\n";
    return 0;
}
