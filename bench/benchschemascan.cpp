// Schema scan case: one MailingPlugin::checkSchemas() pass over an
// information database whose enabled schemas have no pending mail, so the
// pass tests every schema and starts no worker.
//
//   bench_schemascan HOST PORT INFODB USER PASSWORD
//
// The information database and the tenant databases are prepared by
// scripts/bench. Prints
//   RESULT <seconds> schemas=<enabled schemas> workers=<workers started>
//          connections=<connections the server saw> statements=<statements it ran>
// (the server's counters around the scan, without our own two status reads).
// and exits 1 when the scan started a worker (the data was not as meant).
#include "dbmanager.h"
#include "mailingplugin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

namespace {
// The server's global status counter name (Connections, Questions).
qlonglong serverCounter(QSqlDatabase db, const char *name)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SHOW GLOBAL STATUS LIKE '%1'").arg(QLatin1String(name))) || !query.next())
        return -1;
    return query.value(1).toLongLong();
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc < 6) {
        err << "usage: bench_schemascan HOST PORT INFODB USER PASSWORD\n";
        return 2;
    }
    // The plug-in reads its ini file from the data directory; an empty one
    // gives the defaults (1000 schemas a page).
    QTemporaryDir dataDir;
    qputenv("YXA_DATA_DIR", dataDir.path().toLocal8Bit());

    QSqlDatabase info = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("YXA.InfoDB"));
    info.setHostName(QString::fromLocal8Bit(argv[1]));
    info.setPort(atoi(argv[2]));
    info.setDatabaseName(QString::fromLocal8Bit(argv[3]));
    info.setUserName(QString::fromLocal8Bit(argv[4]));
    info.setPassword(QString::fromLocal8Bit(argv[5]));

    DBManager manager;
    manager.setInfoDB(info);
    manager.setKexDB(info);
    if (!manager.isInfoDB()) {
        err << "bench_schemascan: information database not reachable\n";
        return 1;
    }
    const unsigned schemas = manager.tokensCount(true);

    MailingPlugin plugin;
    plugin.setDBManager(&manager);

    const QSqlDatabase counters = manager.getInfoDB();
    const qlonglong connectionsBefore = serverCounter(counters, "Connections");
    const qlonglong statementsBefore = serverCounter(counters, "Questions");

    QElapsedTimer timer;
    timer.start();
    // The scan the schema timer runs, called directly so that no timer
    // delay is measured.
    QMetaObject::invokeMethod(&plugin, "checkSchemas", Qt::DirectConnection);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qlonglong connections = serverCounter(counters, "Connections") - connectionsBefore;
    // Less the two status reads of our own between the counters.
    const qlonglong statements = serverCounter(counters, "Questions") - statementsBefore - 2;

    const int workers = plugin.workerTokens().size();
    QTextStream(stdout) << "RESULT " << QString::number(seconds, 'f', 6) << " schemas=" << schemas
                        << " workers=" << workers << " connections=" << connections
                        << " statements=" << statements << "\n";
    return workers == 0 && schemas > 0 ? 0 : 1;
}
