// Newsletter cases: a tenant's queue of COUNT pending mails drained in one
// burst, the queue processor wired to a transport exactly as the mailing
// worker wires it (every row claimed before and written after its own send).
//
//   bench_newsletter api  DBHOST DBPORT DATABASE USER PASS APIPORT
//   bench_newsletter smtp DBHOST DBPORT DATABASE USER PASS SMTPPORT
//
// api: through the Mandrill transport to a fake API on http://127.0.0.1:APIPORT;
// smtp: through the SMTP transport over one kept session to 127.0.0.1:SMTPPORT.
// The rows are prepared by the caller. Prints RESULT <seconds> sent=<rows 'S'>
// sessions=<SMTP sessions> cpu=<CPU seconds of this process>; exits 1 unless
// every row ended 'S' exactly once.
#include "dbmanager.h"
#include "mailing.h"
#include "mailingpluginclient.h"
#include "mailingpluginsmtpclient.h"
#include "smtpsettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <ctime>

namespace {
int count(QSqlDatabase &db, const QString &where)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM emails WHERE ") + where) || !query.next())
        return -1;
    return query.value(0).toInt();
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc < 8) {
        err << "usage: bench_newsletter api|smtp DBHOST DBPORT DATABASE USER PASS PORT\n";
        return 2;
    }
    const QString mode = QString::fromLatin1(argv[1]);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("newsletter"));
    db.setHostName(QString::fromLocal8Bit(argv[2]));
    db.setPort(atoi(argv[3]));
    db.setDatabaseName(QString::fromLocal8Bit(argv[4]));
    db.setUserName(QString::fromLocal8Bit(argv[5]));
    db.setPassword(QString::fromLocal8Bit(argv[6]));
    const quint16 port = quint16(atoi(argv[7]));
    if (!db.open()) {
        err << "bench_newsletter: " << db.lastError().text() << "\n";
        return 1;
    }
    const int pending = count(db, QStringLiteral("done IS NULL AND apiID IS NULL"));
    if (pending <= 0) {
        err << "bench_newsletter: no pending rows\n";
        return 1;
    }

    DBManager budget;
    Mailing mailing;
    mailing.initDB(db);
    // The claims of a shared host, as in multi-tenant mode.
    mailing.setHostLimits(&budget, {}, QStringLiteral("bench:%1").arg(QCoreApplication::applicationPid()));
    mailing.setPassLimits(uint(pending) * 2, 3600);

    MailingPluginClient api;
    MailingPluginSmtpClient smtp;
    mailing.setTransportName(mode);
    if (mode == QLatin1String("api")) {
        MandrillApiSettings settings;
        settings.apiUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
        api.setApiSettings(settings);
        QObject::connect(&mailing, &Mailing::toSend, &api, &MailingPluginClient::sendMail, Qt::QueuedConnection);
        QObject::connect(&api, &MailingPluginClient::sentDone, &mailing, &Mailing::sentReply);
    } else {
        SmtpSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = port;
        settings.connectionType = 0;
        smtp.setSettings(settings);
        smtp.setKeepSession(true);
        QObject::connect(&mailing, &Mailing::toSend, &smtp, &MailingPluginSmtpClient::sendMail, Qt::QueuedConnection);
        QObject::connect(&smtp, &MailingPluginSmtpClient::sentDone, &mailing, &Mailing::sentReply);
        QObject::connect(&mailing, &Mailing::passEnded, &smtp, &MailingPluginSmtpClient::endSession,
            Qt::QueuedConnection);
    }
    // The burst is the whole run: it ends when no row is left.
    QObject::connect(&mailing, &Mailing::passEnded, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    // A read pass, then the hand-out pass that starts the burst (the worker
    // runs them 500 ms apart; that pause is no part of the delivery).
    QMetaObject::invokeMethod(&mailing, "processQueue");
    QMetaObject::invokeMethod(&mailing, "processQueue");
    app.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;

    mailing.dbConnect();
    const int sent = count(db, QStringLiteral("status = 'S' AND sent = 1"));
    const int twice = count(db, QStringLiteral("sent > 1"));
    QTextStream(stdout) << "RESULT " << QString::number(seconds, 'f', 6) << " sent=" << sent
                        << " sessions=" << smtp.sessionCount() << " cpu=" << QString::number(cpu, 'f', 6) << "\n";
    if (sent != pending || twice != 0) {
        err << "bench_newsletter: " << sent << " of " << pending << " rows sent, " << twice << " sent twice\n";
        return 1;
    }
    return 0;
}
