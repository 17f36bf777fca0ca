#include "attitudeindicatorneedle.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>

AttitudeIndicatorNeedle::AttitudeIndicatorNeedle(const QColor &color)
{
    QPalette needlePalette;
    for (int group = 0; group < QPalette::NColorGroups; ++group)
        needlePalette.setColor(QPalette::ColorGroup(group), QPalette::Text, color);
    setPalette(needlePalette);
}

void AttitudeIndicatorNeedle::drawNeedle(QPainter *painter, double length,
                                         QPalette::ColorGroup colorGroup) const
{
    const double triangleSize = length * 0.1;
    const double tip = length - 2.0;

    QPainterPath triangle;
    triangle.moveTo(tip, 0.0);
    triangle.lineTo(tip - 2.0 * triangleSize, triangleSize);
    triangle.lineTo(tip - 2.0 * triangleSize, -triangleSize);
    triangle.closeSubpath();
    painter->fillPath(triangle, palette().brush(colorGroup, QPalette::Text));

    painter->setPen(
        QPen(palette().color(colorGroup, QPalette::Text), 3, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter->drawLine(QPointF(0.0, -tip), QPointF(0.0, tip));
}
