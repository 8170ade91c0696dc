#pragma once

#include <QString>

// The sender address a deployment falls back to when a tenant has none
// configured (the mailing worker's "globalEmail", the catering plug-in's
// order mails). Taken from the environment variable YXA_DEFAULT_SENDER,
// "noreply@localhost" when it is unset or empty.
namespace DefaultSender {
QString address();
} // namespace DefaultSender
