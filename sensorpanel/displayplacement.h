#ifndef DISPLAYPLACEMENT_H
#define DISPLAYPLACEMENT_H

#include "sensorpanel_global.h"

#include <QtCore/QObject>
#include <QtCore/QRect>
#include <QtCore/QSize>
#include <QtCore/QVector>

class QMdiArea;

// Where the display windows of a node window go: a new one in the free room of the area, at most its
// preferred size, without moving the others; all of them scaled with the area when it changes size,
// so that nothing ends up out of sight.
namespace DisplayPlacement {

// The spot for a window of (at most) `preferred` size in `area`: free room where there is some (the
// window made smaller for it, down to `minimum`), else where it overlaps `others` least; among equal
// spots the topmost, then leftmost.
SENSORPANEL_EXPORT QRect Place(QSize preferred, const QVector<QRect> &others, QSize area, QSize minimum = QSize(1, 1));

// Windows sharing `area`: in a tall area one above the other, each as wide as the area and at least as
// high as its minimum, the rest of the height shared by their preferred heights; in a wide area side by
// side likewise. (Minimums that do not fit all together are given up in proportion.)
SENSORPANEL_EXPORT QVector<QRect> Share(const QVector<QSize> &preferred, QSize area,
                                        const QVector<QSize> &minimums = {});

// A window of an area that changed from `from` to `to`, in the same relative place, never smaller than
// `minimum`, and kept inside the new area.
SENSORPANEL_EXPORT QRect Scaled(const QRect &window, QSize from, QSize to, QSize minimum);

// Scales the arrangement of the sub-windows of `area` down so that all of them lie inside its viewport.
SENSORPANEL_EXPORT void FitAll(QMdiArea *area);

// Scales the sub-windows of `area` whenever its viewport changes size: with it when it grows or shrinks,
// and always so that none is out of sight.
class SENSORPANEL_EXPORT AreaFitter : public QObject
{
public:
    explicit AreaFitter(QMdiArea *area);
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace DisplayPlacement

#endif // DISPLAYPLACEMENT_H
