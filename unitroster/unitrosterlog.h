#ifndef UNITROSTERLOG_H
#define UNITROSTERLOG_H

#include <QtCore/QLoggingCategory>

// Diagnostic lines of the node list; off unless the logging rules switch them on
// (QT_LOGGING_RULES="gyrovane.roster.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcRoster)

#endif // UNITROSTERLOG_H
