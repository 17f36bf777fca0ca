#ifndef CHARTDECK_GLOBAL_H
#define CHARTDECK_GLOBAL_H

#include <QtCore/qglobal.h>

#if defined(CHARTDECK_LIBRARY)
#define CHARTDECK_EXPORT Q_DECL_EXPORT
#else
#define CHARTDECK_EXPORT Q_DECL_IMPORT
#endif

#endif // CHARTDECK_GLOBAL_H
