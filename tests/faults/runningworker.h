#pragma once

#include "mandrillapisettings.h"

#include <QSqlDatabase>
#include <QThread>

class MailingPluginWorker;

// A mailing worker on a thread of its own, as the plug-in runs it; the
// thread ends (and the worker goes) with this object.
class RunningWorker
{
public:
    // The debug level is set before the thread starts: the worker reads it
    // on its own thread.
    RunningWorker(const QSqlDatabase &source, const MandrillApiSettings &api, uint intervalMs,
        unsigned char debugLevel = 0);
    ~RunningWorker();
    RunningWorker(const RunningWorker &) = delete;
    RunningWorker &operator=(const RunningWorker &) = delete;

    // Reads the tenant's settings again on the worker's thread, as the reload
    // timer would, without waiting out its period.
    void reloadSettings();
    MailingPluginWorker *worker() const { return m_worker; }

private:
    QThread m_thread;
    MailingPluginWorker *m_worker;
};
