#include "mailinglogging.h"

Q_LOGGING_CATEGORY(lcMailing, "yxa.mailing")
