#include "systemdnotifier.h"

#include <QLoggingCategory>

#include <cstring>

#include <systemd/sd-daemon.h>

Q_DECLARE_LOGGING_CATEGORY(lcHost)

SystemdNotifier::SystemdNotifier(QObject *parent)
    : QObject(parent)
{
    uint64_t usec = 0;
    // Keeps the variables: plug-ins or children never see them anyway.
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        watchdogInterval = usec;
        // A ping from the event loop proves the loop turns, which is what
        // a hung host would fail to do.
        connect(&watchdogTimer, &QTimer::timeout, this, [this] { send("WATCHDOG=1"); });
        watchdogTimer.start(int(qMax<quint64>(usec / 2000, 1)));
    }
}

void SystemdNotifier::ready(const QString &status)
{
    send("READY=1\nSTATUS=" + status.toUtf8());
}

void SystemdNotifier::reloading()
{
    send("RELOADING=1");
}

void SystemdNotifier::stopping()
{
    watchdogTimer.stop();
    send("STOPPING=1");
}

void SystemdNotifier::send(const QByteArray &state)
{
    const int result = sd_notify(0, state.constData());
    if (result < 0)
        qCWarning(lcHost, "yxa-host: systemd notification failed: %s", strerror(-result));
}
