#include "Log.h"

Q_LOGGING_CATEGORY(lcVelmor, "velmor")
