// Catering tick case: one TabloraWorker::timerTick() on a tenant with many
// locked orderables and send slots, none of them due, so the tick queues no
// mail: what remains is the tick's reading of the database and its work in
// memory.
//
//   bench_cateringtick HOST PORT DATABASE USER PASSWORD TODAY
//
// TODAY (yyyy-MM-dd) is the day the data was made for; the worker's clock
// stands at TODAY 00:00:30. Prints
//   RESULT <seconds of the tick> due=<due orderables> slots=<send slots> getorders=<seconds>
// where getorders is getOrders() timed alone right after the tick (its SQL
// included). Exits 1 when anything was due (the data was not as meant).
#include "tabloraworker.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QTextStream>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc < 7) {
        err << "usage: bench_cateringtick HOST PORT DATABASE USER PASSWORD TODAY\n";
        return 2;
    }
    const QDate today = QDate::fromString(QString::fromLatin1(argv[6]), Qt::ISODate);
    if (!today.isValid()) {
        err << "bench_cateringtick: bad date " << argv[6] << "\n";
        return 2;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("bench.catering"));
    db.setHostName(QString::fromLocal8Bit(argv[1]));
    db.setPort(atoi(argv[2]));
    db.setDatabaseName(QString::fromLocal8Bit(argv[3]));
    db.setUserName(QString::fromLocal8Bit(argv[4]));
    db.setPassword(QString::fromLocal8Bit(argv[5]));
    if (!db.open()) {
        err << "bench_cateringtick: cannot open the tenant database\n";
        return 1;
    }

    TabloraWorker worker(db);
    const QDateTime moment(today, QTime(0, 0, 30));
    worker.setClock([moment] { return moment; });

    QElapsedTimer timer;
    timer.start();
    worker.timerTick();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const int due = worker.dueOrders().size();
    const int slotCount = worker.sendSlots().size();

    timer.restart();
    worker.getOrders();
    const double getOrders = timer.nsecsElapsed() / 1e9;

    QTextStream(stdout) << "RESULT " << QString::number(seconds, 'f', 6) << " due=" << due << " slots=" << slotCount
                        << " getorders=" << QString::number(getOrders, 'f', 6) << "\n";
    return due == 0 && slotCount > 0 ? 0 : 1;
}
