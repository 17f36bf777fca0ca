#ifndef BOXVIEW_GLOBAL_H
#define BOXVIEW_GLOBAL_H

#include <QtCore/qglobal.h>

#if defined(BOXVIEW_LIBRARY)
#define BOXVIEW_EXPORT Q_DECL_EXPORT
#else
#define BOXVIEW_EXPORT Q_DECL_IMPORT
#endif

#endif // BOXVIEW_GLOBAL_H
