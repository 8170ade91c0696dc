#include "defaultsender.h"

namespace DefaultSender {

QString address()
{
    // Read on every call: cheap, and a test or a wrapper script may set it
    // after the library was loaded.
    const QString configured = qEnvironmentVariable("YXA_DEFAULT_SENDER").trimmed();
    return configured.isEmpty() ? QStringLiteral("noreply@localhost") : configured;
}

} // namespace DefaultSender
