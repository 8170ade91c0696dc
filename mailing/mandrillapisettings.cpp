#include "mandrillapisettings.h"

#include "envirosettings.h"
#include "mailinglogging.h"

#include <QSslConfiguration>

namespace {
QUrl withPath(QUrl base, const QString &path)
{
    base.setPath(path);
    base.setQuery(QString());
    base.setFragment(QString());
    return base;
}
} // namespace

QUrl MandrillApiSettings::defaultApiUrl()
{
    return QUrl(QStringLiteral("https://mandrillapp.com"));
}

QString MandrillApiSettings::defaultApiKey()
{
    return QStringLiteral("Kp7Tz2QwRm5Xv8Bn4Hs6Jd");
}

MandrillApiSettings MandrillApiSettings::fromSettings(const EnviroSettings &settings)
{
    MandrillApiSettings result;

    const QString urlText
        = settings.value(QStringLiteral("apiUrl"), defaultApiUrl().toString()).toString().trimmed();
    const QUrl url(urlText, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("https") || scheme == QLatin1String("http"))) {
        result.apiUrl = url;
    } else {
        qCCritical(lcMailing,
            "MandrillApiSettings::fromSettings() - apiUrl '%s' is not an http(s) URL, using %s",
            qUtf8Printable(urlText), qUtf8Printable(defaultApiUrl().toString()));
    }

    const QString key = settings.value(QStringLiteral("apiKey"), QString()).toString().trimmed();
    if (!key.isEmpty())
        result.apiKey = key;

    bool ok = false;
    const double seconds
        = settings.value(QStringLiteral("requestTimeout"), 60).toString().toDouble(&ok);
    if (ok && seconds > 0 && seconds <= 24 * 3600) {
        result.requestTimeoutMs = qMax(1, int(seconds * 1000));
    } else {
        qCCritical(lcMailing,
            "MandrillApiSettings::fromSettings() - requestTimeout '%s' is not a number of seconds, "
            "using 60",
            qUtf8Printable(settings.value(QStringLiteral("requestTimeout"), 60).toString()));
    }

    result.caFile = settings.value(QStringLiteral("caFile"), QString()).toString().trimmed();
    if (!result.caFile.isEmpty()) {
        const QList<QSslCertificate> own = QSslCertificate::fromPath(
            result.caFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (own.isEmpty()) {
            qCCritical(lcMailing,
                "MandrillApiSettings::fromSettings() - caFile '%s' holds no readable PEM "
                "certificate; only the system's CAs are trusted",
                qUtf8Printable(result.caFile));
        } else {
            // A socket given CAs of its own no longer loads the system's on
            // demand: both go into the list.
            result.caCertificates = QSslConfiguration::systemCaCertificates() + own;
        }
    }
    return result;
}

QUrl MandrillApiSettings::sendUrl() const
{
    return withPath(apiUrl, QStringLiteral("/api/1.0/messages/send.json"));
}

QUrl MandrillApiSettings::infoUrl() const
{
    return withPath(apiUrl, QStringLiteral("/api/1.0/messages/info.json"));
}

bool MandrillApiSettings::operator==(const MandrillApiSettings &other) const
{
    return apiUrl == other.apiUrl && apiKey == other.apiKey
        && requestTimeoutMs == other.requestTimeoutMs && caFile == other.caFile
        && caCertificates == other.caCertificates;
}
