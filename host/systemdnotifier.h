#pragma once

#include <QObject>
#include <QTimer>

// Tells systemd (Type=notify) how the host is doing, through sd_notify():
// ready once the plug-ins run, reloading and ready again around a SIGHUP,
// stopping when it begins to stop, and a watchdog ping from the event loop
// at half the interval systemd asks for (WatchdogSec). Without
// NOTIFY_SOCKET every call does nothing.
class SystemdNotifier : public QObject
{
    Q_OBJECT

public:
    explicit SystemdNotifier(QObject *parent = nullptr);

    void ready(const QString &status);
    void reloading();
    void stopping();
    // Microseconds systemd wants between pings, 0 when it wants none.
    quint64 watchdogUsec() const { return watchdogInterval; }

private:
    void send(const QByteArray &state);

    QTimer watchdogTimer;
    quint64 watchdogInterval = 0;
};
