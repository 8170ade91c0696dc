#include "logcapture.h"

namespace {
// Guards `current` and every use of it: a thread that is writing a line
// while the capture goes away must not touch it once it is gone.
std::mutex registry;
LogCapture *current = nullptr;
} // namespace

LogCapture::LogCapture()
{
    std::lock_guard<std::mutex> locker(registry);
    outer = current;
    current = this;
    previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    std::lock_guard<std::mutex> locker(registry);
    qInstallMessageHandler(previous);
    current = outer;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    std::lock_guard<std::mutex> registered(registry);
    // Nested captures all see the line; the handler from before the
    // outermost one writes it.
    QtMessageHandler forward = nullptr;
    for (LogCapture *self = current; self; self = self->outer) {
        {
            std::lock_guard<std::mutex> locker(self->mutex);
            self->captured.append({ type, message });
        }
        if (self->previous != &LogCapture::handler) {
            forward = self->previous;
            break;
        }
    }
    if (forward)
        forward(type, context, message);
}

QStringList LogCapture::lines() const
{
    std::lock_guard<std::mutex> locker(mutex);
    QStringList out;
    for (const auto &entry : captured)
        out << entry.second;
    return out;
}

QStringList LogCapture::lines(QtMsgType type) const
{
    std::lock_guard<std::mutex> locker(mutex);
    QStringList out;
    for (const auto &entry : captured) {
        if (entry.first == type)
            out << entry.second;
    }
    return out;
}

int LogCapture::count(const QString &text) const
{
    std::lock_guard<std::mutex> locker(mutex);
    int n = 0;
    for (const auto &entry : captured) {
        if (entry.second.contains(text))
            ++n;
    }
    return n;
}

QStringList LogCapture::matching(const QString &text) const
{
    std::lock_guard<std::mutex> locker(mutex);
    QStringList out;
    for (const auto &entry : captured) {
        if (entry.second.contains(text))
            out << entry.second;
    }
    return out;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> locker(mutex);
    captured.clear();
}
