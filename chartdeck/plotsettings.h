#ifndef PLOTSETTINGS_H
#define PLOTSETTINGS_H

#include "chartdeck_global.h"

#include <QMetaType>
#include <QPen>

// How one plot draws and how often it repaints.
struct CHARTDECK_EXPORT PlotSettings
{
    QPen gridPen = QPen(Qt::NoPen); // grid hidden when the style is Qt::NoPen
    bool backingStore = false;      // QwtPlotCanvas::BackingStore
    bool paintOnScreen = false;     // Qt::WA_PaintOnScreen on the canvas
    bool immediatePaint = true;     // QwtPlotCanvas::ImmediatePaint
    bool openGL = false;            // a GLCanvas instead of a QwtPlotCanvas
    qint32 fullReplot = 0;          // non-zero: each tick replots axes and layout too, not only the canvas
    qint32 refreshInterval = 20;    // refresh timer period, ms

    PlotSettings() { gridPen.setCosmetic(true); }
};

Q_DECLARE_METATYPE(PlotSettings)

#endif // PLOTSETTINGS_H
