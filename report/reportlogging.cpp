#include "reportlogging.h"

Q_LOGGING_CATEGORY(lcReport, "yxa.report")
