#include "logcapture.h"

namespace {
LogCapture *active = nullptr;
}

LogCapture::LogCapture()
{
    active = this;
    previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogCapture *self = active;
    if (!self)
        return;
    {
        QMutexLocker lock(&self->mutex);
        self->collected.append(message);
    }
    if (self->previous)
        self->previous(type, context, message);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&mutex);
    return collected;
}

QStringList LogCapture::matching(const QString &text) const
{
    return lines().filter(text);
}

void LogCapture::clear()
{
    QMutexLocker lock(&mutex);
    collected.clear();
}
