#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QThread;

// A fixed set of event-loop threads that a plug-in's tenant workers share, so
// that thousands of tenants need a few dozen threads instead of one each.
// Threads are started on demand up to the limit; a new worker goes to the
// thread that serves the fewest workers. A worker whose pass blocks (a slow
// SMTP server) holds up only the tenants that share its thread.
//
// Lives on the plug-in's thread. Destroying the pool asks every thread to
// quit, waits up to 10 s each and terminates one that does not end.
class WorkerThreadPool : public QObject
{
    Q_OBJECT

public:
    WorkerThreadPool(const QString &namePrefix, int maxThreads, QObject *parent = nullptr);
    ~WorkerThreadPool() override;

    int maxThreads() const { return limit; }
    void setMaxThreads(int count);
    QList<QThread *> threads() const { return pool; }

    // Moves worker to the least loaded thread, which deletes it when it ends
    // (or when the worker is retired). The worker must have no parent.
    QThread *adopt(QObject *worker);
    // Deletes a worker in its thread and forgets it.
    void retire(QObject *worker);

    // Asks every thread to quit and waits for it; the workers go with them.
    void shutdown();

private:
    QString prefix;
    int limit = 1;
    QList<QThread *> pool;
    QList<int> load;
};
