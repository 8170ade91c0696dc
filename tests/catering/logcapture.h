#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects every log line written while it exists (from any thread) and
// still passes them on to the previous handler.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // Lines that contain text.
    QStringList matching(const QString &text) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    mutable QMutex mutex;
    QStringList collected;
    QtMessageHandler previous = nullptr;
};
