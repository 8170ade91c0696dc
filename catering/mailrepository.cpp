#include "mailrepository.h"

#include "cateringlogging.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

MailRepository::MailRepository(QObject *parent)
    : QObject(parent)
{
}

int MailRepository::addMail(MailRecord mail)
{
    if (debug)
        qCDebug(lcCatering, "MailRepository::addMail(from: %s, to: %s, subject: %s)",
            qUtf8Printable(mail.from), qUtf8Printable(mail.to), qUtf8Printable(mail.subject));
    if (mail.from.isEmpty() || mail.to.isEmpty() || mail.subject.isEmpty())
        return 0;

    const QString sql = QStringLiteral(
        "INSERT INTO emails (type, `from`, `to`, subject, body, created, aid, uid, data) "
        "VALUES(:type, :from, :to, :subject, :body, UNIX_TIMESTAMP(), :aid, :uid, :data)");
    QSqlQuery query(db);
    if (!query.prepare(sql)) {
        qCCritical(lcCatering) << "MailRepository::addMail() Prepare failed - ERROR:"
                               << query.lastError().text() << "\n\nSQL:" << sql;
        return -1;
    }
    query.bindValue(QStringLiteral(":type"),
        mail.type.isNull() ? QVariant(QVariant::String) : QVariant(QString(mail.type)));
    query.bindValue(QStringLiteral(":from"), mail.from);
    query.bindValue(QStringLiteral(":to"), mail.to);
    query.bindValue(QStringLiteral(":subject"), mail.subject);
    query.bindValue(QStringLiteral(":body"), mail.body);
    query.bindValue(QStringLiteral(":aid"), QVariant(static_cast<uint>(mail.aid)));
    query.bindValue(QStringLiteral(":uid"),
        mail.uid == 0 ? QVariant(QVariant::UInt) : QVariant(static_cast<uint>(mail.uid)));
    query.bindValue(QStringLiteral(":data"), mail.data);
    if (!query.exec()) {
        qCCritical(lcCatering) << "MailRepository::addMail() SQL ERROR:" << query.lastError().text()
                               << "\n\nSQL:" << sql;
        return -1;
    }
    return query.lastInsertId().toInt();
}

MailRecord MailRepository::loadMail(uint mid)
{
    if (debug)
        qCDebug(lcCatering, "MailRepository::loadMail(mid: %u)", mid);
    MailRecord mail;
    if (mid == 0)
        return mail;

    const QString sql = QStringLiteral("SELECT * FROM emails WHERE mid =%1").arg(mid);
    QSqlQuery query(db);
    if (!query.exec(sql)) {
        qCCritical(lcCatering) << "MailRepository::loadMail() SQL ERROR:"
                               << query.lastError().text() << "\n\nSQL:" << sql;
        return mail;
    }
    if (!query.next())
        return mail;

    const QSqlRecord row = query.record();
    mail.mid = row.value(QStringLiteral("mid")).toUInt();
    mail.created = row.value(QStringLiteral("created")).toUInt();
    mail.done = row.value(QStringLiteral("done")).toUInt();
    mail.aid = row.value(QStringLiteral("aid")).toUInt();
    mail.uid = row.value(QStringLiteral("uid")).toUInt();
    mail.sent = static_cast<quint16>(row.value(QStringLiteral("sent")).toUInt());
    mail.status = row.value(QStringLiteral("status")).toString();
    mail.from = row.value(QStringLiteral("from")).toString();
    mail.to = row.value(QStringLiteral("to")).toString();
    mail.subject = row.value(QStringLiteral("subject")).toString();
    mail.body = row.value(QStringLiteral("body")).toString();
    mail.data = row.value(QStringLiteral("data")).toByteArray();
    const QString type = row.value(QStringLiteral("type")).toString();
    mail.type = type.isEmpty() ? QChar() : type.at(0);
    return mail;
}

bool MailRepository::resetMail(uint mid)
{
    if (debug)
        qCDebug(lcCatering, "MailRepository::resetMail(mid: %u)", mid);
    if (mid == 0)
        return false;

    const QString sql
        = QStringLiteral("UPDATE emails SET status = 'Q', done = NULL, apiID = NULL WHERE mid =%1")
              .arg(mid);
    QSqlQuery query(db);
    if (!query.exec(sql)) {
        qCCritical(lcCatering) << "MailRepository::resetMail() SQL ERROR:"
                               << query.lastError().text() << "\n\nSQL:" << sql;
        return false;
    }
    return query.numRowsAffected() > 0;
}
