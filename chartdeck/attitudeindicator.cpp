#include "attitudeindicator.h"

#include "attitudeindicatorneedle.h"

#include <qwt_round_scale_draw.h>
#include <qwt_scale_map.h>

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextOption>

#include <cmath>

const QColor AttitudeIndicator::skyColor(38, 151, 221);

namespace {

// The scale of the upper half, drawn in two passes: the ticks under the dial's clip, then the labels
// without it. A label whose tick lies more than 4 pixels below the centre is left out, the others are
// drawn whole, so that no label is cut in two at the horizon.
class UpperHalfScaleDraw : public QwtRoundScaleDraw
{
public:
    bool labelPass = false;

protected:
    void drawTick(QPainter *painter, double value, double length) const override
    {
        if (!labelPass)
            QwtRoundScaleDraw::drawTick(painter, value, length);
    }
    void drawLabel(QPainter *painter, double value) const override
    {
        // Round scale angles count clockwise from twelve o'clock.
        const double angle = scaleMap().transform(value) * M_PI / 180.0;
        if (labelPass && radius() * std::cos(angle) >= -4.0)
            QwtRoundScaleDraw::drawLabel(painter, value);
    }
};

// Half-way cases go towards plus infinity; a value that is not a number is taken as 0.
int roundHalfUp(double value) { return std::isfinite(value) ? int(std::floor(value + 0.5)) : 0; }

} // namespace

AttitudeIndicator::AttitudeIndicator(QWidget *parent)
    : QwtDial(parent)
{
    auto *roundScale = new UpperHalfScaleDraw;
    roundScale->enableComponent(QwtAbstractScaleDraw::Backbone, false);
    roundScale->enableComponent(QwtAbstractScaleDraw::Labels, true);
    setScaleDraw(roundScale);

    setMode(RotateScale);
    setWrapping(true);
    setOrigin(270.0);
    setScaleMaxMinor(0);
    setScaleStepSize(30.0);
    setScale(-180.0, 179.999999);

    setNeedle(new AttitudeIndicatorNeedle(palette().color(QPalette::Text)));
}

void AttitudeIndicator::scaleChange()
{
    QwtDial::scaleChange();
    // QwtDial turns a rotating scale only when the value changes; a new scale must be turned at once,
    // or the dial keeps drawing the scale and the needle for the old one.
    QwtDial::sliderChange();
}

QString AttitudeIndicator::pitchReadout() const
{
    return QStringLiteral("%1").arg(gradientValue * 90.0, 4, 'f', 1, QLatin1Char(' '));
}

void AttitudeIndicator::setGradient(double degrees)
{
    if (std::isnan(degrees))
        return;
    const double clamped = qBound(-1.0, degrees / 90.0, 1.0);
    if (clamped == gradientValue)
        return;
    gradientValue = clamped;
    update();
}

void AttitudeIndicator::setAngle(double angle) { setValue(angle); }

void AttitudeIndicator::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
        setGradient(gradientValue * 90.0 + pitchKeyStep);
        event->accept();
        break;
    case Qt::Key_Minus:
        setGradient(gradientValue * 90.0 - pitchKeyStep);
        event->accept();
        break;
    default: QwtDial::keyPressEvent(event);
    }
}

void AttitudeIndicator::drawScale(QPainter *painter, const QPointF &center, double radius) const
{
    // Ticks only on the upper half: the clip covers everything above the horizontal line 4 pixels below
    // the centre.
    const QPointF p0(center.x(), center.y() + 4.0);
    const double w = innerRect().width();
    QPainterPath clip;
    clip.moveTo(p0.x() + w, p0.y());
    clip.lineTo(p0.x() - w, p0.y());
    clip.lineTo(p0.x() - w, p0.y() - w);
    clip.lineTo(p0.x(), p0.y() - w);
    clip.closeSubpath();

    painter->save();
    painter->setClipPath(clip, Qt::IntersectClip);
    QwtDial::drawScale(painter, center, radius);
    painter->restore();

    if (auto *upperHalf = dynamic_cast<const UpperHalfScaleDraw *>(scaleDraw())) {
        const_cast<UpperHalfScaleDraw *>(upperHalf)->labelPass = true;
        painter->save();
        QwtDial::drawScale(painter, center, radius);
        painter->restore();
        const_cast<UpperHalfScaleDraw *>(upperHalf)->labelPass = false;
    }
}

void AttitudeIndicator::drawScaleContents(QPainter *painter, const QPointF &, double) const
{
    const int dir = roundHalfUp(origin() - value());
    const int arc = roundHalfUp(gradientValue * 90.0);
    const QRect inner = scaleInnerRect();

    painter->save();
    // Angles count counter-clockwise from three o'clock: at zero pitch the chord is the upper half disc,
    // at +90 the whole disc, at -90 nothing.
    painter->setPen(Qt::NoPen);
    painter->setBrush(skyColor);
    painter->drawChord(inner, (360 - dir - (arc + 90)) * 16, 2 * (arc + 90) * 16);

    painter->setPen(Qt::white);
    const int w = inner.width();
    const int h = inner.height();
    const QRectF textRect(roundHalfUp(inner.left() + w / 2.0 - w / 10.0), roundHalfUp(inner.top() + h / 2.0),
                          w / 4, h / 5);
    painter->drawText(textRect, pitchReadout(), QTextOption());
    painter->restore();
}
