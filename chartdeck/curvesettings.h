#ifndef CURVESETTINGS_H
#define CURVESETTINGS_H

#include "chartdeck_global.h"

#include <QBrush>
#include <QPen>

#include <string>

class FifoBuffer;
class QwtPlotCurve;

// The stored look and capacity of one curve; Plot::Set_CurveSettings applies it.
struct CHARTDECK_EXPORT CurveSettings
{
    enum PaintAttributeBit : quint32 { ClipPolygons = 0x1, FilterPoints = 0x2 };
    enum RenderHintBit : quint32 { Antialiased = 0x1 };

    QwtPlotCurve *curve = nullptr; // owned by the plot
    QPen pen;
    QBrush brush = QBrush(Qt::NoBrush);
    quint32 fifoSize = 0;
    quint32 paintAttributes = 0;
    quint32 renderHints = 0;
    bool polylineSplitting = true; // QwtPainter's switch is process-wide: the curve applied last decides
    std::string title;
    FifoBuffer *buffer = nullptr; // owned by the curve
};

#endif // CURVESETTINGS_H
