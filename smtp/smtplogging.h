#pragma once

#include <QLoggingCategory>

// Operators switch the SMTP client's and MIME model's output on or off as a
// whole with QT_LOGGING_RULES="yxa.smtp.debug=true".
Q_DECLARE_LOGGING_CATEGORY(yxaSmtp)
