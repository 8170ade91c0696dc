#include "smtplogging.h"

Q_LOGGING_CATEGORY(yxaSmtp, "yxa.smtp")
