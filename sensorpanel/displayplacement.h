#ifndef DISPLAYPLACEMENT_H
#define DISPLAYPLACEMENT_H

#include <QtCore/QObject>
#include <QtCore/QRect>
#include <QtCore/QSize>
#include <QtCore/QVector>

class QMdiArea;

// Where the display windows of a node window go: a new one in the free room of the area, at most its
// preferred size, without moving the others; all of them scaled with the area when it changes size,
// so that nothing ends up out of sight.
namespace DisplayPlacement {

// The spot for a window of (at most) `preferred` size in `area` that overlaps `others` least; among
// equal spots the topmost, then leftmost.
QRect Place(QSize preferred, const QVector<QRect> &others, QSize area);

// Windows opened together, sharing `area`: in a tall area one above the other, each as high as its
// share of their preferred heights and as wide as the area; in a wide one, side by side likewise.
QVector<QRect> Share(const QVector<QSize> &preferred, QSize area);

// A window of an area that changed from `from` to `to`, in the same relative place, never smaller than
// `minimum`, and kept inside the new area.
QRect Scaled(const QRect &window, QSize from, QSize to, QSize minimum);

// Scales the arrangement of the sub-windows of `area` down so that all of them lie inside its viewport.
void FitAll(QMdiArea *area);

// Scales the sub-windows of `area` whenever its viewport changes size: with it when it grows or shrinks,
// and always so that none is out of sight.
class AreaFitter : public QObject
{
public:
    explicit AreaFitter(QMdiArea *area);
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMdiArea *area;
};

} // namespace DisplayPlacement

#endif // DISPLAYPLACEMENT_H
