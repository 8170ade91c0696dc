#pragma once

#include <QByteArray>
#include <QSemaphore>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <mutex>

// A scripted SMTP peer for one conversation, run in a thread of its own
// because SmtpClient blocks the test's thread. It listens on a free loopback
// port and plays its script against the first client:
//
//   "S: text"   send text + CRLF
//   "C: text"   read one line from the client (the text is what the client
//               must send; compare clientLines() with expectedClientLines())
//   "C: <DATA>" read the message up to the line ".", kept in dataLines()
//   "W: ms"     pause
//   "X"         close the connection and stop
//
// After the script it keeps reading until the client disconnects, so lines
// the client should not have sent show up too.
class FakeSmtpServer : public QThread
{
    Q_OBJECT
public:
    explicit FakeSmtpServer(const QStringList &script, QObject *parent = nullptr);
    ~FakeSmtpServer() override;

    // Starts the thread and returns the port once it listens (0 on failure).
    quint16 listen();

    QStringList clientLines() const;
    QList<QByteArray> dataLines() const;
    QStringList expectedClientLines() const;

protected:
    void run() override;

private:
    QStringList m_script;
    // Standard atomics and mutexes: ThreadSanitizer sees their ordering, not
    // that of Qt's (uninstrumented) semaphore, mutex and thread join.
    std::atomic<quint16> m_port { 0 };
    QSemaphore m_listening;
    mutable std::mutex m_mutex;
    QStringList m_clientLines;
    QList<QByteArray> m_dataLines;
};
