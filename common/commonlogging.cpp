#include "commonlogging.h"

Q_LOGGING_CATEGORY(lcCommon, "yxa.common")
