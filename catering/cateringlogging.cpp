#include "cateringlogging.h"

Q_LOGGING_CATEGORY(lcCatering, "yxa.catering")
