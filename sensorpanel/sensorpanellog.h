#ifndef SENSORPANELLOG_H
#define SENSORPANELLOG_H

#include <QtCore/QLoggingCategory>

// Diagnostic lines of the node window; off unless the logging rules switch them on
// (QT_LOGGING_RULES="gyrovane.nodewindow.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcNodeWindow)

#endif // SENSORPANELLOG_H
