#ifndef SHELLLOG_H
#define SHELLLOG_H

#include <QtCore/QLoggingCategory>

// Diagnostic lines of the main window; off unless the logging rules switch them on
// (QT_LOGGING_RULES="gyrovane.shell.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcShell)

#endif // SHELLLOG_H
