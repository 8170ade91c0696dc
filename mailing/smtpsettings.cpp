#include "smtpsettings.h"

#include <QDebug>

bool SmtpSettings::operator==(const SmtpSettings &other) const
{
    return host == other.host && port == other.port && user == other.user
        && password == other.password && connectionType == other.connectionType
        && authMethod == other.authMethod && useReplyTo == other.useReplyTo && email == other.email;
}

bool SmtpSettings::operator!=(const SmtpSettings &other) const
{
    return !(*this == other);
}

QDebug operator<<(QDebug debug, const SmtpSettings &settings)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "SmtpSettings(host: " << settings.host << ", port: " << settings.port
                    << ", user: " << settings.user
                    << ", password: " << (settings.password.isEmpty() ? "empty" : "set")
                    << ", connection type: " << settings.connectionType
                    << ", auth method: " << settings.authMethod
                    << ", use reply-to: " << settings.useReplyTo << ", email: " << settings.email
                    << ')';
    return debug;
}
