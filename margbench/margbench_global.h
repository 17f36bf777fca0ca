#ifndef MARGBENCH_GLOBAL_H
#define MARGBENCH_GLOBAL_H

#include <QtCore/qglobal.h>

#if defined(MARGBENCH_LIBRARY)
#define MARGBENCH_EXPORT Q_DECL_EXPORT
#else
#define MARGBENCH_EXPORT Q_DECL_IMPORT
#endif

#endif // MARGBENCH_GLOBAL_H
