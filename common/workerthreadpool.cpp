#include "workerthreadpool.h"

#include "commonlogging.h"

#include <QThread>

namespace {
const unsigned long kThreadStopWaitMs = 10000;
const char kPoolIndex[] = "yxaPoolThread";
} // namespace

WorkerThreadPool::WorkerThreadPool(const QString &namePrefix, int maxThreads, QObject *parent)
    : QObject(parent)
    , prefix(namePrefix)
{
    setMaxThreads(maxThreads);
}

WorkerThreadPool::~WorkerThreadPool()
{
    shutdown();
}

void WorkerThreadPool::setMaxThreads(int count)
{
    limit = qMax(count, 1);
}

QThread *WorkerThreadPool::adopt(QObject *worker)
{
    int best = -1;
    for (int i = 0; i < pool.size(); ++i) {
        if (best < 0 || load[i] < load[best])
            best = i;
    }
    // A new thread only while every running one already has work.
    if (best < 0 || (load[best] > 0 && pool.size() < limit)) {
        auto *thread = new QThread;
        thread->setObjectName(QStringLiteral("%1_%2").arg(prefix).arg(pool.size() + 1));
        pool.append(thread);
        load.append(0);
        best = pool.size() - 1;
        thread->start(QThread::LowPriority);
    }
    QThread *thread = pool[best];
    ++load[best];
    worker->setProperty(kPoolIndex, best);
    worker->moveToThread(thread);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    return thread;
}

void WorkerThreadPool::retire(QObject *worker)
{
    const QVariant index = worker->property(kPoolIndex);
    if (index.isValid() && index.toInt() < load.size())
        --load[index.toInt()];
    QMetaObject::invokeMethod(worker, &QObject::deleteLater, Qt::QueuedConnection);
}

void WorkerThreadPool::shutdown()
{
    // Ask every thread first, so that they wind down side by side; a thread
    // killed inside a DBManager call would leave its mutex locked for good,
    // so terminate() is only the last resort.
    for (QThread *thread : qAsConst(pool))
        thread->quit();
    for (QThread *thread : qAsConst(pool)) {
        if (!thread->wait(kThreadStopWaitMs)) {
            qCCritical(lcCommon,
                "WorkerThreadPool::shutdown() - thread %s did not stop within %lu ms, terminating",
                qUtf8Printable(thread->objectName()), kThreadStopWaitMs);
            thread->terminate();
            thread->wait(kThreadStopWaitMs);
        }
        delete thread;
    }
    pool.clear();
    load.clear();
}
