#include "logcapture.h"
#include "smtpclient.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
// A field of /proc/self/status in kB, or -1.
qint64 statusKb(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Sets the peak resident size back to the current one, where the kernel
// allows it.
bool resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}
} // namespace

// Servers that never finish a reply: the client gives up within its response
// time-out instead of holding the worker's thread.
class SmtpClientHostileServerTest : public QObject
{
    Q_OBJECT

    // A loopback server in a thread of its own (the client blocks its own
    // thread while it waits), writing chunk every interval until stopped.
    struct TrickleServer
    {
        int listener = -1;
        int port = 0;
        std::atomic<bool> stop { false };
        std::thread thread;

        TrickleServer(QByteArray first, QByteArray chunk, int intervalMs)
        {
            listener = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr {};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
            ::listen(listener, 1);
            socklen_t len = sizeof addr;
            ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
            port = ntohs(addr.sin_port);
            thread = std::thread([this, first, chunk, intervalMs] {
                const int client = ::accept(listener, nullptr, nullptr);
                if (client < 0)
                    return;
                ::send(client, first.constData(), size_t(first.size()), MSG_NOSIGNAL);
                while (!stop) {
                    if (::send(client, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL) < 0)
                        break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
                }
                ::close(client);
            });
        }
        ~TrickleServer()
        {
            stop = true;
            ::shutdown(listener, SHUT_RDWR);
            ::close(listener);
            thread.join();
        }
    };

private slots:
    void neverEndingReplies_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<int>("interval");
        QTest::newRow("endless continuation lines") << QByteArray("220-hello\r\n") << QByteArray("220-more\r\n") << 50;
        QTest::newRow("one byte at a time") << QByteArray("22") << QByteArray("0") << 50;
        QTest::newRow("endless line") << QByteArray("220 ") << QByteArray(16 * 1024, 'x') << 1;
    }

    void neverEndingReplies()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, chunk);
        QFETCH(int, interval);
        TrickleServer server(first, chunk, interval);
        SmtpClient client(QStringLiteral("127.0.0.1"), server.port);
        client.setConnectionTimeout(2000);
        client.setResponseTimeout(600);
        QSignalSpy errors(&client, &SmtpClient::smtpError);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!client.connectToHost());
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!errors.isEmpty());
        QCOMPARE(errors.last().first().value<SmtpClient::SmtpError>(), SmtpClient::ResponseTimeoutError);
    }

    // A server that floods its reply as fast as loopback carries it: the
    // client stops at its reply cap, long before the time-out, closes the
    // connection and keeps next to nothing of what it read.
    void floodedReplyIsCut_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("chunk");
        QByteArray lines;
        while (lines.size() < 64 * 1024)
            lines += "250-" + QByteArray(60, 'x') + "\r\n";
        QTest::newRow("continuation lines after EHLO") << QByteArray("220 ready\r\n") << lines;
        QTest::newRow("continuation lines as greeting")
            << QByteArray("220-hello\r\n") << QByteArray(lines).replace("250-", "220-");
        QTest::newRow("one endless line") << QByteArray("220 ") << QByteArray(64 * 1024, 'x');
    }

    void floodedReplyIsCut()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, chunk);
        TrickleServer server(first, chunk, 0);
        SmtpClient client(QStringLiteral("127.0.0.1"), server.port);
        client.setConnectionTimeout(2000);
        client.setResponseTimeout(5000);
        QSignalSpy errors(&client, &SmtpClient::smtpError);
        LogCapture log;
        const qint64 before = statusKb("VmRSS");
        const bool peakReset = resetPeak();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!client.connectToHost());
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(log.contains(QStringLiteral("SmtpClient::waitForResponse() - the server's reply "
                                            "is longer than 256 lines or 16384 bytes")));
        QVERIFY(!errors.isEmpty());
        QCOMPARE(
            errors.last().first().value<SmtpClient::SmtpError>(), SmtpClient::ResponseTimeoutError);
        QCOMPARE(client.getSocket()->state(), QAbstractSocket::UnconnectedState);
        const qint64 after = statusKb(peakReset ? "VmHWM" : "VmRSS");
        QVERIFY(before > 0 && after > 0);
        QVERIFY2(after - before < 32 * 1024,
            qPrintable(QStringLiteral("grew by %1 kB").arg(after - before)));
    }
};

YXA_TEST_CLASS(SmtpClientHostileServerTest)
#include "smtpclienthostileservertest.moc"
