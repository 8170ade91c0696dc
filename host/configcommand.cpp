#include "configcommand.h"

#include "configcheck.h"
#include "hostconfig.h"
#include "hostservice.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdio>

namespace {
void print(const QString &line)
{
    std::fprintf(stdout, "%s\n", qUtf8Printable(line));
}

int printReading(const ConfigCheck &check)
{
    for (const ConfigCheck::Problem &problem : check.problems())
        print((problem.error ? QStringLiteral("error: ") : QStringLiteral("warning: "))
            + problem.text);
    for (const QString &line : check.effectiveLines())
        print(QStringLiteral("  ") + line);
    return check.errorCount();
}

int tryLogin(const QString &name, const DatabaseConfig &config, bool countSchemas)
{
    if (!config.isSet())
        return 0;
    int errors = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(
            QStringLiteral("QMYSQL"), QStringLiteral("yxa.check.") + name);
        db.setHostName(config.host);
        db.setPort(config.port);
        db.setDatabaseName(config.database);
        db.setUserName(config.user);
        db.setPassword(config.password);
        if (!db.open()) {
            const QString text = db.lastError().databaseText().trimmed();
            print(QStringLiteral("error: [%1] %2 on %3:%4: %5")
                      .arg(name, config.database, config.host)
                      .arg(config.port)
                      .arg(text.isEmpty() ? db.lastError().text() : text));
            errors = 1;
        } else if (countSchemas) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("SELECT COUNT(*) FROM `schemas` WHERE status = 1;"))
                && query.next()) {
                print(QStringLiteral("[%1] %2: connected, %3 enabled schemas")
                          .arg(name, config.database, query.value(0).toString()));
            } else {
                print(QStringLiteral("error: [%1] %2: the table `schemas` cannot be read: %3")
                          .arg(name, config.database, query.lastError().databaseText()));
                errors = 1;
            }
        } else {
            print(QStringLiteral("[%1] %2: connected").arg(name, config.database));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("yxa.check.") + name);
    return errors;
}
} // namespace

int ConfigCommand::run(const QString &configFile, const QString &pluginDir, bool connect)
{
    HostConfig config;
    QString error;
    if (!config.load(configFile, &error)) {
        print(QStringLiteral("error: ") + error);
        return 1;
    }
    int errors = 0;
    print(configFile + QLatin1Char(':'));
    errors += printReading(*config.reading);
    if (!config.infoDb.isSet() && !config.kexDb.isSet()) {
        print(QStringLiteral(
            "error: no database configured: name one in [KexDB] (and the tenants' information "
            "database in [InfoDB])"));
        ++errors;
    }
    if (config.plugins.isEmpty()) {
        print(QStringLiteral("error: [Host] plugins names no plug-in"));
        ++errors;
    }
    for (const QString &name : qAsConst(config.plugins)) {
        const QString path = QDir(pluginDir).filePath(QStringLiteral("lib%1.so").arg(name));
        if (!QFileInfo::exists(path)) {
            print(QStringLiteral("error: unknown plug-in '%1' (no %2)").arg(name, path));
            ++errors;
        }
    }
    if (config.plugins.contains(QStringLiteral("mailing"))) {
        const ConfigCheck yxaIni(QStringLiteral("yxa.ini"), HostService::yxaIniPath());
        print(yxaIni.fileName()
            + (yxaIni.exists() ? QStringLiteral(":") : QStringLiteral(" (missing: defaults)")));
        if (!yxaIni.exists())
            print(QStringLiteral(
                "warning: %1 does not exist: the mailing plug-in runs on defaults and the "
                "environment, with %2")
                      .arg(yxaIni.fileName(),
                          yxaIni.isGiven(QStringLiteral("MailingPlugin"), QStringLiteral("apiKey"))
                              ? QStringLiteral("the API key of MAILINGPLUGIN_APIKEY")
                              : QStringLiteral("the API key built into the plug-in")));
        errors += printReading(yxaIni);
    }
    if (connect) {
        errors += tryLogin(QStringLiteral("InfoDB"), config.infoDb, true);
        errors += tryLogin(QStringLiteral("KexDB"), config.kexDb, false);
    }
    print(errors == 0 ? QStringLiteral("configuration OK")
                      : QStringLiteral("%1 error(s)").arg(errors));
    return errors == 0 ? 0 : 1;
}
