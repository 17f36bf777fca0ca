#ifndef CHARTDECK_TESTHELPERS_H
#define CHARTDECK_TESTHELPERS_H

#include "chartdeck.h"
#include "plot.h"

#include <qwt_plot_curve.h>

#include <QEvent>
#include <QImage>

// Counts the paint events of the widgets it is installed on.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

inline Plot *plotOf(ChartDeck &deck, const char *name) { return deck.findChild<Plot *>(QLatin1String(name)); }

inline QwtPlotCurve *curveOf(ChartDeck &deck, const char *plot, const char *curve)
{
    Plot *p = plotOf(deck, plot);
    CurveSettings *record = p == nullptr ? nullptr : p->curveSettings(curve);
    return record == nullptr ? nullptr : record->curve;
}

inline int countColour(const QImage &image, const QRect &area, const QColor &colour)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += QColor(image.pixel(x, y)) == colour ? 1 : 0;
    return n;
}

#endif // CHARTDECK_TESTHELPERS_H
