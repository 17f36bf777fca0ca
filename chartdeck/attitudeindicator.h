#ifndef ATTITUDEINDICATOR_H
#define ATTITUDEINDICATOR_H

#include "chartdeck_global.h"

#include <qwt_dial.h>

#include <QColor>

// Attitude dial: the dial value is the roll angle in degrees (the scale turns with it); the pitch is
// shown as the height of a sky segment and as a number in the centre.
class CHARTDECK_EXPORT AttitudeIndicator : public QwtDial
{
    Q_OBJECT

public:
    // Sky colour of the pitch segment.
    static const QColor skyColor;
    // Pitch change per '+' or '-' key press, degrees.
    static constexpr double pitchKeyStep = 1.0;

    explicit AttitudeIndicator(QWidget *parent = nullptr);

    // Normalised pitch in [-1, 1]; 1 means 90 degrees up.
    double gradient() const { return gradientValue; }
    // The pitch read-out as drawn, e.g. "45.0" or " 5.0".
    QString pitchReadout() const;

public slots:
    // Pitch in degrees, clamped to +-90; repaints only when the stored value changes.
    void setGradient(double degrees);
    void setAngle(double angle);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void scaleChange() override;
    void drawScale(QPainter *painter, const QPointF &center, double radius) const override;
    void drawScaleContents(QPainter *painter, const QPointF &center, double radius) const override;

private:
    double gradientValue = 0.0;
};

#endif // ATTITUDEINDICATOR_H
