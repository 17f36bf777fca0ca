#ifndef DARKPALETTE_H
#define DARKPALETTE_H

#include <QtGui/QPalette>

// The program's dark look, set on the whole application by the entry point. Later entries for the
// disabled group override the entries for all groups.
QPalette GyrovaneDarkPalette();

#endif // DARKPALETTE_H
