#ifndef PORTGATE_GLOBAL_H
#define PORTGATE_GLOBAL_H

#include <QtCore/qglobal.h>

#if defined(PORTGATE_LIBRARY)
#define PORTGATE_EXPORT Q_DECL_EXPORT
#else
#define PORTGATE_EXPORT Q_DECL_IMPORT
#endif

#endif // PORTGATE_GLOBAL_H
