#ifndef FRAMECOURIERLOG_H
#define FRAMECOURIERLOG_H

#include <QtCore/QLoggingCategory>

// Diagnostic lines of the link panel; off unless the logging rules switch them on
// (QT_LOGGING_RULES="gyrovane.link.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcLink)

#endif // FRAMECOURIERLOG_H
