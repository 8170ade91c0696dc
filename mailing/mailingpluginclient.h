#pragma once

#include "mailinterface.h"
#include "mandrillapisettings.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

struct ApiHttpResult;
class QUrl;

// The Mandrill transport of a mailing worker: posts one send request per
// sendMail() and one info request per checkMail(), and reports each outcome
// through sentDone() when the reply arrives.
//
// Send replies report "sent", "queued", "rejected", "invalid" or whatever the
// API says, "neterror" when the request failed or got no reply within the
// request timeout, "error" for an empty or unreadable reply (the mail may
// have left, so it must not be sent again), "unsent" when the request was
// withdrawn before a byte of it was written (cancelUnsent()). Info replies report the
// message's state ("bounced" becomes "bad"); a failed, empty or refused
// info request reports nothing, so the row simply stays queued and is asked
// about again later. Every failed send also says through attemptFailed()
// whether trying again later is safe. Only one info request per message identifier is open
// at a time.
//
// Lives in the worker's thread. The API key never appears in a log line.
class MailingPluginClient : public QObject, public MailInterface
{
    Q_OBJECT

public:
    explicit MailingPluginClient(QObject *parent = nullptr);
    ~MailingPluginClient() override;

    void setDebugLevel(unsigned char level) { debugLevel = level; }
    unsigned char getDebugLevel() const { return debugLevel; }

    void setApiSettings(const MandrillApiSettings &settings) { api = settings; }
    MandrillApiSettings apiSettings() const { return api; }

    bool checkHtml(const QString &text) const;

    // Number of info requests not yet answered.
    int pendingCheckCount() const { return pendingChecks.size(); }

    // Withdraws every request not yet written to the API: a send among them
    // reports "unsent", questions are dropped (they are asked again later).
    void cancelUnsent();

public slots:
    bool sendMail(uint mid, QString from, QString to, QString subject, QByteArray body,
        const QByteArray &mailData) override;
    void checkMail(uint mid, const QString &id) override;

signals:
    void sentDone(uint mid, QString status, QString apiID = QString());
    // Comes just before the sentDone() of a send that failed: "temporary"
    // (nothing reached the API, or it answered 429 or 5xx), "unknown" (the
    // request left whole and no usable reply came: the mail may be out) or
    // "refused"; reply is what the server or the network said, for the log.
    void attemptFailed(uint mid, QString transport, QString kind, QString reply);

private:
    // Each reply is attributed by the request it answers, never by
    // whatever send happens to be current.
    void post(const QUrl &url, const QByteArray &body, bool isCheck, uint mid,
        const QString &checkId = QString());
    void replyFinished(const ApiHttpResult &result, bool isCheck, uint mid, const QString &checkId);
    void finishSendReply(const QByteArray &data, uint mid);
    void finishCheckReply(const QByteArray &data, uint mid, const QString &checkId);

    unsigned char debugLevel = 0;
    MandrillApiSettings api;
    QHash<QString, uint> pendingChecks;
};
