#include "mailingpluginclient.h"

#include "jsonguard.h"
#include "mailinglogging.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QThread>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

namespace {
// Each reply carries what it answers, so that it is attributed by the request
// itself and never by whatever send happens to be current.
const char kMidProperty[] = "yxaMid";
const char kCheckIdProperty[] = "yxaCheckId";
const char kIsCheckProperty[] = "yxaIsCheck";
const char kTimedOutProperty[] = "yxaTimedOut";

// The body of a send request, readable once. Qt's HTTP layer posts a request
// again on its own when the connection closes before any reply, which for a
// send may deliver the mail twice. A body that cannot be rewound makes it
// report the closed connection instead (ContentReSendError).
class OneShotBody : public QIODevice
{
public:
    explicit OneShotBody(const QByteArray &data)
        : data(data)
    {
        open(QIODevice::ReadOnly);
    }

    bool isSequential() const override { return true; }
    bool seek(qint64) override { return false; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override
    {
        return data.size() - offset + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *out, qint64 max) override
    {
        const qint64 n = qMin<qint64>(max, data.size() - offset);
        memcpy(out, data.constData() + offset, size_t(n));
        offset += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const QByteArray data;
    qint64 offset = 0;
};
} // namespace

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

QNetworkAccessManager *MailingPluginClient::threadManager()
{
    // Qt runs HTTP on a thread of its own for every network manager: the
    // transports of all tenants that share a worker thread share one manager,
    // or a host with thousands of tenants would run thousands of threads.
    static thread_local QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager;
        QThread *thread = QThread::currentThread();
        if (QCoreApplication::instance() && thread == QCoreApplication::instance()->thread())
            manager->setParent(QCoreApplication::instance());
        else
            connect(thread, &QThread::finished, manager.data(), &QObject::deleteLater);
    }
    return manager;
}

QNetworkReply *MailingPluginClient::post(const QUrl &url, const QByteArray &body, bool once)
{
    QNetworkAccessManager *manager = threadManager();
    QNetworkRequest request(url);
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = nullptr;
    if (once) {
        request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        auto *device = new OneShotBody(body);
        reply = manager->post(request, device);
        device->setParent(reply);
    } else {
        reply = manager->post(request, body);
    }
    // The manager is shared: this client takes its own replies, and they go
    // (aborted) with it.
    reply->setParent(this);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { replyFinished(reply); });
    // A hung API must not stall the tenant: a reply that is not complete in
    // time is aborted and ends as a network error.
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply]() {
        reply->setProperty(kTimedOutProperty, true);
        reply->abort();
    });
    deadline->start(api.requestTimeoutMs);
    return reply;
}

bool MailingPluginClient::sendMail(uint mid, QString from, QString to, QString subject,
    QByteArray body, const QByteArray &mailData)
{
    if (debugLevel)
        qCDebug(lcMailing, "MailingPluginClient::sendMail(mid: %u)", mid);
    currentMid = mid;

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

    QNetworkReply *reply
        = post(api.sendUrl(), QJsonDocument(request).toJson(QJsonDocument::Indented), true);
    reply->setProperty(kMidProperty, mid);
    reply->setProperty(kIsCheckProperty, false);
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
    // Asking twice is harmless: a check may be posted again.
    QNetworkReply *reply
        = post(api.infoUrl(), QJsonDocument(request).toJson(QJsonDocument::Indented), false);
    reply->setProperty(kMidProperty, mid);
    reply->setProperty(kCheckIdProperty, id);
    reply->setProperty(kIsCheckProperty, true);
}

void MailingPluginClient::replyFinished(QNetworkReply *reply)
{
    const int statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPluginClient::replyFinished() statusCode:" << statusCode;

    // Replies that this client did not post (none today) carry no marks;
    // the URL then decides, as it always did.
    const QVariant isCheckMark = reply->property(kIsCheckProperty);
    const bool isCheck = isCheckMark.isValid()
        ? isCheckMark.toBool()
        : reply->url().toString().contains(QLatin1String("/info.json"));
    const QVariant midMark = reply->property(kMidProperty);
    const uint mid = midMark.isValid() ? midMark.toUInt() : currentMid;
    const QString checkId = reply->property(kCheckIdProperty).toString();

    if (reply->error() != QNetworkReply::NoError) {
        const QString errorText = reply->property(kTimedOutProperty).toBool()
            ? QStringLiteral("no reply within %1 ms").arg(api.requestTimeoutMs)
            : reply->errorString();
        qCCritical(lcMailing,
            "MailingPluginClient::replyFinished()  - network error: %s (HTTP status code: %i)",
            qUtf8Printable(errorText), statusCode);
        if (isCheck)
            pendingChecks.remove(checkId);
        else
            emit sentDone(mid, QStringLiteral("neterror"));
        reply->deleteLater();
        return;
    }

    if (isCheck)
        finishCheckReply(reply, mid, checkId);
    else
        finishSendReply(reply, mid);
    reply->deleteLater();
}

void MailingPluginClient::finishSendReply(QNetworkReply *reply, uint mid)
{
    const QByteArray data = reply->readAll();
    if (data.isEmpty()) {
        qCWarning(lcMailing) << "MailingPluginClient::replyFinished() Unknown ERROR: Empty data !";
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
    emit sentDone(mid, status, id);
}

void MailingPluginClient::finishCheckReply(QNetworkReply *reply, uint mid, const QString &checkId)
{
    // Whatever the answer, this question is closed; the row, if still
    // queued, is asked about again on the next read pass.
    pendingChecks.remove(checkId);

    const QByteArray data = reply->readAll();
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
