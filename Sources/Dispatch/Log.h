// The app's one logging category, "velmor": the warnings of rare failure paths go there, and a user
// turns them off or on as with any Qt category (QT_LOGGING_RULES="velmor.warning=false").
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcVelmor)
