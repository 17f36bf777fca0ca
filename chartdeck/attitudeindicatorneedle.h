#ifndef ATTITUDEINDICATORNEEDLE_H
#define ATTITUDEINDICATORNEEDLE_H

#include "chartdeck_global.h"

#include <qwt_dial_needle.h>

class QColor;

// Fixed aircraft symbol of the attitude dial: a pointer triangle and a wing bar across the dial.
class CHARTDECK_EXPORT AttitudeIndicatorNeedle : public QwtDialNeedle
{
public:
    explicit AttitudeIndicatorNeedle(const QColor &color);

protected:
    void drawNeedle(QPainter *painter, double length, QPalette::ColorGroup colorGroup) const override;
};

#endif // ATTITUDEINDICATORNEEDLE_H
