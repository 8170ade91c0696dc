#include "smtpclient.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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
};

YXA_TEST_CLASS(SmtpClientHostileServerTest)
#include "smtpclienthostileservertest.moc"
