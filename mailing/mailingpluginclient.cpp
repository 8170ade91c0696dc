#include "mailingpluginclient.h"

#include "apihttpclient.h"
#include "jsonguard.h"
#include "mailinglogging.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

MailingPluginClient::MailingPluginClient(QObject *parent)
    : QObject(parent)
{
}

MailingPluginClient::~MailingPluginClient() = default;

bool MailingPluginClient::checkHtml(const QString &text) const
{
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    return tag.match(text).hasMatch();
}

void MailingPluginClient::post(
    const QUrl &url, const QByteArray &body, bool isCheck, uint mid, const QString &checkId)
{
    // A send is written once and never again: if the connection drops
    // before the reply, the mail may have left. A question may be asked
    // again.
    ApiHttpClient *client = ApiHttpClient::forThread();
    client->setCaCertificates(api.caCertificates);
    client->post(url, QByteArrayLiteral("application/x-www-form-urlencoded"), body,
        api.requestTimeoutMs, isCheck, this,
        [this, isCheck, mid, checkId](
            const ApiHttpResult &result) { replyFinished(result, isCheck, mid, checkId); });
}

bool MailingPluginClient::sendMail(uint mid, QString from, QString to, QString subject,
    QByteArray body, const QByteArray &mailData)
{
    if (debugLevel)
        qCDebug(lcMailing, "MailingPluginClient::sendMail(mid: %u)", mid);

    QJsonObject message;
    if (!mailData.isEmpty()) {
        QString error;
        const QJsonDocument document = JsonGuard::parse(mailData, &error);
        if (!error.isEmpty())
            qCCritical(lcMailing, "MailingPluginClient::sendMail() - data parse error: %s",
                qUtf8Printable(error));
        message = document.object();
    }

    const int nul = body.indexOf('\0');
    const QString text = QString::fromUtf8(nul >= 0 ? body.left(nul) : body);
    message.remove(QStringLiteral("html"));
    message.remove(QStringLiteral("text"));
    message.insert(checkHtml(text) ? QStringLiteral("html") : QStringLiteral("text"), text);
    message.insert(QStringLiteral("auto_text"), true);
    message.insert(QStringLiteral("subject"), subject);
    message.insert(QStringLiteral("from_email"), from);
    QJsonObject recipient;
    recipient.insert(QStringLiteral("email"), to);
    recipient.insert(QStringLiteral("type"), QStringLiteral("to"));
    message.insert(QStringLiteral("to"), QJsonArray { recipient });
    QJsonObject metadata;
    metadata.insert(QStringLiteral("mid"), double(mid));
    message.insert(QStringLiteral("metadata"), metadata);

    QJsonObject headers;
    headers.insert(QStringLiteral("Reply-To"), from);
    QJsonObject request;
    request.insert(QStringLiteral("key"), api.apiKey);
    request.insert(QStringLiteral("message"), message);
    request.insert(QStringLiteral("headers"), headers);

    post(api.sendUrl(), QJsonDocument(request).toJson(QJsonDocument::Indented), false, mid);
    return true;
}

void MailingPluginClient::checkMail(uint mid, const QString &id)
{
    if (debugLevel)
        qCDebug(
            lcMailing, "MailingPluginClient::checkMail(mid: %u, id: %s)", mid, qUtf8Printable(id));
    // One open question per message is enough; asking again before the
    // answer could report the same delivery twice.
    if (pendingChecks.contains(id)) {
        pendingChecks.insert(id, mid);
        return;
    }
    pendingChecks.insert(id, mid);

    QJsonObject request;
    request.insert(QStringLiteral("key"), api.apiKey);
    request.insert(QStringLiteral("id"), id);
    post(api.infoUrl(), QJsonDocument(request).toJson(QJsonDocument::Indented), true, mid, id);
}

void MailingPluginClient::cancelUnsent()
{
    ApiHttpClient::forThread()->cancelUnsent(this);
}

void MailingPluginClient::replyFinished(
    const ApiHttpResult &result, bool isCheck, uint mid, const QString &checkId)
{
    const int statusCode = result.statusCode;
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPluginClient::replyFinished() statusCode:" << statusCode;

    if (result.cancelled) {
        if (isCheck)
            pendingChecks.remove(checkId);
        else
            emit sentDone(mid, QStringLiteral("unsent"));
        return;
    }
    if (!result.replied || statusCode >= 400) {
        QString errorText;
        if (result.timedOut)
            errorText = QStringLiteral("no reply within %1 ms").arg(api.requestTimeoutMs);
        else if (!result.replied)
            errorText = result.error;
        else {
            // The server's words go into a log line: printable ASCII only.
            QByteArray reason = result.reasonPhrase.left(200);
            for (char &c : reason)
                if (c < 0x20 || c > 0x7e)
                    c = '?';
            errorText = QStringLiteral("server replied: %1").arg(QString::fromLatin1(reason));
        }
        qCCritical(lcMailing,
            "MailingPluginClient::replyFinished()  - network error: %s (HTTP status code: %i)",
            qUtf8Printable(errorText), statusCode);
        if (isCheck) {
            pendingChecks.remove(checkId);
        } else {
            // Overloaded or failing for a moment, or never reached: the same
            // request may go again. A request that left whole without a
            // reply may have been acted on, so it must not.
            QString kind = QStringLiteral("refused");
            if (result.replied)
                kind = statusCode == 429 || statusCode >= 500 ? QStringLiteral("temporary") : kind;
            else
                kind = result.requestWritten ? QStringLiteral("unknown")
                                             : QStringLiteral("temporary");
            const QString reply = result.replied
                ? QStringLiteral("HTTP %1 %2").arg(statusCode).arg(errorText.mid(16))
                : errorText;
            emit attemptFailed(mid, QStringLiteral("api"), kind, reply);
            emit sentDone(mid, QStringLiteral("neterror"));
        }
        return;
    }

    if (isCheck)
        finishCheckReply(result.body, mid, checkId);
    else
        finishSendReply(result.body, mid);
}

void MailingPluginClient::finishSendReply(const QByteArray &data, uint mid)
{
    if (data.isEmpty()) {
        qCWarning(lcMailing) << "MailingPluginClient::replyFinished() Unknown ERROR: Empty data !";
        emit attemptFailed(
            mid, QStringLiteral("api"), QStringLiteral("unknown"), QStringLiteral("empty reply"));
        emit sentDone(mid, QStringLiteral("error"));
        return;
    }

    QString parseError;
    const QJsonDocument document = JsonGuard::parse(data, &parseError);
    if (!parseError.isEmpty()) {
        // The mail may well have gone out: leaving the row pending would
        // send it again on every read, so the send counts as failed for good.
        qCWarning(lcMailing, "MailingPluginClient::replyFinished() - unreadable send reply: %s",
            qUtf8Printable(parseError));
        emit attemptFailed(mid, QStringLiteral("api"), QStringLiteral("unknown"),
            QStringLiteral("unreadable reply: %1").arg(parseError.left(200)));
        emit sentDone(mid, QStringLiteral("error"));
        return;
    }

    QString status, email, id, reason;
    const QJsonArray results = document.array();
    for (const QJsonValue &value : results) {
        const QJsonObject result = value.toObject();
        status = result.value(QStringLiteral("status")).toString();
        email = result.value(QStringLiteral("email")).toString();
        id = result.value(QStringLiteral("_id")).toString();
        reason = result.value(QStringLiteral("reject_reason")).toString();
    }
    if (status != QLatin1String("sent"))
        qCWarning(lcMailing) << "MailingPluginClient::replyFinished() STATUS: " << status << email
                             << id << reason;
    else if (debugLevel > 1)
        qCDebug(lcMailing) << "MailingPluginClient::replyFinished() STATUS: " << status << email
                           << id << reason;
    if (status == QLatin1String("rejected") || status == QLatin1String("invalid"))
        emit attemptFailed(mid, QStringLiteral("api"), QStringLiteral("refused"),
            reason.isEmpty() ? status : status + QLatin1String(": ") + reason.left(200));
    emit sentDone(mid, status, id);
}

void MailingPluginClient::finishCheckReply(const QByteArray &data, uint mid, const QString &checkId)
{
    // Whatever the answer, this question is closed; the row, if still
    // queued, is asked about again on the next read pass.
    pendingChecks.remove(checkId);

    if (data.isEmpty()) {
        qCWarning(lcMailing) << "MailingPluginClient::replyFinished() Unknown ERROR: Empty data !";
        return;
    }

    const QJsonObject info = JsonGuard::parse(data).object();
    const QString errorStatus = info.value(QStringLiteral("status")).toString();
    if (!errorStatus.isEmpty()) {
        qCWarning(lcMailing,
            "MailingPluginClient::replyFinished() - Get INFO failed! Error [%u]: %s",
            uint(info.value(QStringLiteral("code")).toInt()),
            qUtf8Printable(info.value(QStringLiteral("message")).toString()));
        return;
    }

    QString state = info.value(QStringLiteral("state")).toString();
    const QString id = info.value(QStringLiteral("_id")).toString();
    const QJsonValue replyMid
        = info.value(QStringLiteral("metadata")).toObject().value(QStringLiteral("mid"));
    if (!replyMid.isUndefined() && uint(replyMid.toDouble()) != mid)
        qCWarning(lcMailing,
            "MailingPluginClient::replyFinished() - info for %s names mid %u, asked for mid %u",
            qUtf8Printable(checkId), uint(replyMid.toDouble()), mid);
    if (state.isEmpty()) {
        qCWarning(lcMailing, "MailingPluginClient::replyFinished() - info for %s carries no state",
            qUtf8Printable(checkId));
        return;
    }
    // A bounce is final: without this the row would stay queued and be
    // asked about for ever.
    if (state == QLatin1String("bounced"))
        state = QStringLiteral("bad");
    emit sentDone(mid, state, id.isEmpty() ? checkId : id);
}
