#include "logcapture.h"

#include <QAtomicPointer>

namespace {
QAtomicPointer<LogCapture> current;
}

LogCapture::LogCapture()
{
    outer = current.fetchAndStoreOrdered(this);
    previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    current.storeRelease(outer);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogCapture *self = current.loadAcquire();
    if (!self)
        return;
    {
        QMutexLocker locker(&self->mutex);
        self->captured.append({ type, message });
    }
    if (self->previous)
        self->previous(type, context, message);
}

QStringList LogCapture::lines() const
{
    QMutexLocker locker(&mutex);
    QStringList out;
    for (const auto &entry : captured)
        out << entry.second;
    return out;
}

QStringList LogCapture::lines(QtMsgType type) const
{
    QMutexLocker locker(&mutex);
    QStringList out;
    for (const auto &entry : captured) {
        if (entry.first == type)
            out << entry.second;
    }
    return out;
}

int LogCapture::count(const QString &text) const
{
    QMutexLocker locker(&mutex);
    int n = 0;
    for (const auto &entry : captured) {
        if (entry.second.contains(text))
            ++n;
    }
    return n;
}

QStringList LogCapture::matching(const QString &text) const
{
    QMutexLocker locker(&mutex);
    QStringList out;
    for (const auto &entry : captured) {
        if (entry.second.contains(text))
            out << entry.second;
    }
    return out;
}

void LogCapture::clear()
{
    QMutexLocker locker(&mutex);
    captured.clear();
}
