#include "runningworker.h"

#include "mailingpluginworker.h"

RunningWorker::RunningWorker(const QSqlDatabase &source, const MandrillApiSettings &api,
    uint intervalMs, unsigned char debugLevel)
    : m_worker(new MailingPluginWorker)
{
    m_worker->setDebugLevel(debugLevel);
    m_worker->setDB(source);
    m_worker->setApiSettings(api);
    m_worker->setTimeInterval(intervalMs);
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::started, m_worker, &MailingPluginWorker::start);
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start(QThread::LowPriority);
}

RunningWorker::~RunningWorker()
{
    m_thread.quit();
    m_thread.wait(15000);
}

void RunningWorker::reloadSettings()
{
    QMetaObject::invokeMethod(m_worker, "loadSettings", Qt::QueuedConnection);
}
