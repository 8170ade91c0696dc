#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

// Collects every log line written while it lives (from any thread), so tests
// can assert that a line was or was not written. Lines still reach the
// previous handler, so a failing test shows them.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    QStringList lines(QtMsgType type) const;
    // Lines containing text.
    int count(const QString &text) const;
    QStringList matching(const QString &text) const;
    bool contains(const QString &text) const { return count(text) > 0; }
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    // A standard mutex: ThreadSanitizer sees its ordering, not that of a
    // contended QMutex inside the uninstrumented Qt.
    mutable std::mutex mutex;
    QList<QPair<QtMsgType, QString>> captured;
    QtMessageHandler previous = nullptr;
    LogCapture *outer = nullptr;
};
