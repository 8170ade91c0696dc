#pragma once

#include <QLoggingCategory>

// The report engine's lines, switched as a whole with
// QT_LOGGING_RULES="yxa.report.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcReport)
