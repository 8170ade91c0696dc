#include "fakesmtpserver.h"

#include <QTcpServer>
#include <QTcpSocket>

FakeSmtpServer::FakeSmtpServer(const QStringList &script, QObject *parent)
    : QThread(parent)
    , m_script(script)
{
}

FakeSmtpServer::~FakeSmtpServer()
{
    wait(20000);
    // Orders the thread's last writes before the members go.
    std::lock_guard<std::mutex> lock(m_mutex);
}

quint16 FakeSmtpServer::listen()
{
    start();
    m_listening.acquire();
    return m_port;
}

QStringList FakeSmtpServer::clientLines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clientLines;
}

QList<QByteArray> FakeSmtpServer::dataLines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dataLines;
}

QStringList FakeSmtpServer::expectedClientLines() const
{
    QStringList lines;
    for (const QString &step : m_script) {
        if (step.startsWith(QLatin1String("C: ")))
            lines << step.mid(3);
    }
    return lines;
}

void FakeSmtpServer::run()
{
    // The thread's last act takes the mutex, so that the destructor's lock
    // orders everything it did (its reads of the script included).
    struct Finish
    {
        std::mutex &mutex;
        ~Finish() { std::lock_guard<std::mutex> lock(mutex); }
    } finish { m_mutex };
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        m_listening.release();
        return;
    }
    m_port = server.serverPort();
    m_listening.release();

    if (!server.waitForNewConnection(10000))
        return;
    QTcpSocket *socket = server.nextPendingConnection();

    const auto readLine = [socket](QByteArray *line) {
        while (!socket->canReadLine()) {
            if (!socket->waitForReadyRead(10000))
                return false;
        }
        *line = socket->readLine();
        line->chop(line->endsWith("\r\n") ? 2 : (line->endsWith('\n') ? 1 : 0));
        return true;
    };

    bool open = true;
    for (const QString &step : qAsConst(m_script)) {
        if (step.startsWith(QLatin1String("S: "))) {
            socket->write(step.mid(3).toUtf8() + "\r\n");
            socket->waitForBytesWritten(5000);
        } else if (step == QLatin1String("C: <DATA>")) {
            QByteArray line;
            while (readLine(&line) && line != ".") {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_dataLines << line;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_clientLines << QStringLiteral("<DATA>");
        } else if (step.startsWith(QLatin1String("C: "))) {
            QByteArray line;
            if (!readLine(&line)) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_clientLines << QStringLiteral("<nothing>");
                open = false;
                break;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_clientLines << QString::fromUtf8(line);
        } else if (step.startsWith(QLatin1String("W: "))) {
            QThread::msleep(step.mid(3).toULong());
        } else if (step == QLatin1String("X")) {
            socket->abort();
            open = false;
            break;
        }
    }
    if (open) {
        QByteArray line;
        while (readLine(&line)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_clientLines << QString::fromUtf8(line);
        }
    }
    delete socket;
}
