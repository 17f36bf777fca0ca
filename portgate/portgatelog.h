#ifndef PORTGATELOG_H
#define PORTGATELOG_H

#include <QtCore/QLoggingCategory>

// Diagnostic lines of the serial gateway; off unless the logging rules switch them on
// (QT_LOGGING_RULES="gyrovane.portgate.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcPortGate)

#endif // PORTGATELOG_H
