#include "attitudeindicator.h"
#include "testhelpers.h"

#include <QScopeGuard>
#include <qwt_compass.h>
#include <qwt_compass_rose.h>
#include <qwt_plot_canvas.h>
#include <qwt_round_scale_draw.h>
#include <qwt_scale_div.h>

#include <QHBoxLayout>
#include <QtTest>

class TstAttitudeIndicator : public QObject
{
    Q_OBJECT

private slots:
    void gradientIsClampedPitch_data();
    void gradientIsClampedPitch();
    void repaintsOnlyOnChange();
    void plusMinusKeysStepThePitch();
    void instrumentLifecycle();
    void compassOrigin_data();
    void compassOrigin();
    void compassDrawsAsQwtDoes();
    void dialScaleModes();
    void rendersSkyNeedleAndCurve();
};

void TstAttitudeIndicator::gradientIsClampedPitch_data()
{
    QTest::addColumn<double>("pitch");
    QTest::addColumn<double>("gradient");
    QTest::addColumn<QString>("readout");

    QTest::newRow("45 degrees") << 45.0 << 0.5 << "45.0";
    QTest::newRow("above 90 is clamped") << 120.0 << 1.0 << "90.0";
    QTest::newRow("below -90 is clamped") << -400.0 << -1.0 << "-90.0";
    QTest::newRow("padded to four") << 5.0 << 5.0 / 90.0 << " 5.0";
    QTest::newRow("one decimal") << -12.34 << -12.34 / 90.0 << "-12.3";
    QTest::newRow("not a number keeps the last pitch") << qQNaN() << 10.0 / 90.0 << "10.0";
}

void TstAttitudeIndicator::gradientIsClampedPitch()
{
    QFETCH(double, pitch);
    QFETCH(double, gradient);
    QFETCH(QString, readout);

    ChartDeck deck;
    deck.Create_AttitudeDisplay();
    auto *dial = deck.findChild<AttitudeIndicator *>();
    deck.Setvalue_AttitudeDisplay(0.0, 10.0);
    deck.Setvalue_AttitudeDisplay(25.0, pitch);
    QCOMPARE(dial->gradient(), gradient);
    QCOMPARE(dial->pitchReadout(), readout);
    QCOMPARE(dial->value(), 25.0);
}

void TstAttitudeIndicator::repaintsOnlyOnChange()
{
    AttitudeIndicator dial;
    dial.resize(230, 230);
    dial.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dial));
    PaintCounter counter;
    dial.installEventFilter(&counter);

    dial.setGradient(45.0);
    QTRY_COMPARE(counter.paints, 1);
    dial.setGradient(45.0);
    QTest::qWait(50);
    QCOMPARE(counter.paints, 1);
    dial.setGradient(200.0);
    QTRY_COMPARE(counter.paints, 2);
    dial.setGradient(90.0); // clamped to the same
    QTest::qWait(50);
    QCOMPARE(counter.paints, 2);
}

void TstAttitudeIndicator::plusMinusKeysStepThePitch()
{
    AttitudeIndicator dial;
    dial.setGradient(89.5);
    QTest::keyClick(&dial, Qt::Key_Plus);
    QCOMPARE(dial.gradient(), 1.0);
    QTest::keyClick(&dial, Qt::Key_Minus);
    QCOMPARE(dial.gradient() * 90.0, 90.0 - AttitudeIndicator::pitchKeyStep);
    QCOMPARE(dial.value(), 0.0);
    QTest::keyClick(&dial, Qt::Key_Up); // the slider's key: turns the roll, not the pitch
    QVERIFY(dial.value() != 0.0);
    QCOMPARE(dial.gradient() * 90.0, 90.0 - AttitudeIndicator::pitchKeyStep);
}

void TstAttitudeIndicator::instrumentLifecycle()
{
    ChartDeck deck;
    auto *row = deck.findChild<QHBoxLayout *>(QStringLiteral("horizontalLayout"));
    deck.Create_AttitudeDisplay();
    deck.Create_CompassDisplay();
    auto *dial = deck.findChild<AttitudeIndicator *>();
    auto *compass = deck.findChild<QwtCompass *>();
    deck.Setvalue_CompassDisplay(45.0);
    deck.Create_CompassDisplay(); // keeps the first and its settings
    QCOMPARE(deck.findChildren<QwtCompass *>(), QList<QwtCompass *>{compass});
    QCOMPARE(compass->origin(), 585.0);

    deck.Hide_AttitudeDisplay();
    QVERIFY(dial->isHidden());
    deck.Show_AttitudeDisplay();
    deck.Show_AttitudeDisplay();
    QCOMPARE(row->count(), 2);
    QCOMPARE(row->indexOf(dial), 1); // back at the end
    deck.Hide_CompassDisplay();
    deck.Delete_CompassDisplay();
    deck.Delete_AttitudeDisplay();
    QCOMPARE(row->count(), 0);
    QVERIFY(deck.findChild<QwtDial *>() == nullptr);
    deck.Setmode_AttitudeDisplay(false); // no dial: nothing happens
}

void TstAttitudeIndicator::compassOrigin_data()
{
    QTest::addColumn<double>("heading");
    QTest::addColumn<double>("origin");

    QTest::newRow("north") << 0.0 << 630.0;
    QTest::newRow("east") << 90.0 << 540.0;
    QTest::newRow("negative heading") << -90.0 << 720.0;
}

void TstAttitudeIndicator::compassOrigin()
{
    QFETCH(double, heading);
    QFETCH(double, origin);

    ChartDeck deck;
    deck.Create_CompassDisplay();
    deck.Setvalue_CompassDisplay(heading);
    QCOMPARE(deck.findChild<QwtCompass *>()->origin(), origin);
}

void TstAttitudeIndicator::dialScaleModes()
{
    ChartDeck deck;
    deck.Create_AttitudeDisplay();
    auto *dial = deck.findChild<AttitudeIndicator *>();
    const auto ticks = [dial] { return dial->scaleDraw()->scaleDiv().ticks(QwtScaleDiv::MajorTick); };
    QCOMPARE(dial->upperBound(), 179.999999);
    QCOMPARE(ticks().first(), -180.0);
    deck.Setmode_AttitudeDisplay(true);
    QCOMPARE(dial->lowerBound(), 0.0);
    QCOMPARE(dial->upperBound(), 360.0);
    QCOMPARE(ticks().first(), 0.0);
    QCOMPARE(ticks().size(), 13);
    // A roll below zero is shown on the full circle from 360 down, not as level.
    for (const auto &roll : {QPair<double, double>{-25.0, 335.0}, {-2.1, 357.9}, {-384.0, 336.0}, {25.0, 25.0}}) {
        deck.Setvalue_AttitudeDisplay(roll.first, 0.0);
        QCOMPARE(dial->value(), roll.second);
    }
    deck.Setmode_AttitudeDisplay(false);
    QCOMPARE(dial->lowerBound(), -180.0);
    QCOMPARE(dial->upperBound(), 179.999999);
    deck.Setvalue_AttitudeDisplay(-25.0, 0.0);
    QCOMPARE(dial->value(), -25.0);
}

// Pixels that only a correct painting produces: the sky above the horizon at zero pitch and nowhere at
// -90, the pointer at the top of a fresh dial, and a curve on the row of its value.
void TstAttitudeIndicator::rendersSkyNeedleAndCurve()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("P", "p", false);
    deck.SetAxisY_PlotDisplay("P", "y", -1.0, 1.0);
    const QColor curveColour(250, 110, 190);
    deck.AddCurve_PlotDisplay("P", "C", "c", 50, curveColour);
    deck.SetCurveStyle_PlotDisplay("P", "C", curveColour, 2);
    deck.Set_XY_Mode("P", true);
    for (int i = 0; i < 50; ++i)
        deck.SetValue_PlotDisplay("P", "C", 0.5, -90 + i * 3.6);
    deck.Create_AttitudeDisplay();
    deck.resize(700, 600);
    deck.show();
    QVERIFY(QTest::qWaitForWindowExposed(&deck));

    auto *dial = deck.findChild<AttitudeIndicator *>();
    const QRect inner = dial->scaleInnerRect();
    const QPoint c = inner.center();
    const int r = inner.width() / 2;
    const QRect upper(c.x() - r / 3, c.y() - r * 2 / 3, 2 * (r / 3), r / 3);
    const QRect lower(c.x() - r / 3, c.y() + r / 3, 2 * (r / 3), r / 3);
    const QColor sky(38, 151, 221);

    QImage image = dial->grab().toImage();
    QVERIFY(countColour(image, upper, sky) > upper.width() * upper.height() / 2);
    QCOMPARE(countColour(image, lower, sky), 0);
    // The pointer triangle lies between 80 % and 97 % of the needle length from the centre.
    const QColor needle = dial->palette().color(QPalette::Text);
    QVERIFY(countColour(image, QRect(c.x() - 2, c.y() - r * 90 / 100, 5, r / 10), needle) > 10);
    QCOMPARE(countColour(image, QRect(c.x() - 2, c.y() + r * 80 / 100, 5, r / 10), needle), 0);

    deck.Setvalue_AttitudeDisplay(0.0, -90.0);
    image = dial->grab().toImage();
    QCOMPARE(countColour(image, image.rect(), sky), 0);
    deck.Setvalue_AttitudeDisplay(0.0, 90.0);
    image = dial->grab().toImage();
    QVERIFY(countColour(image, lower, sky) > lower.width() * lower.height() / 2);
    // Rolled 90 degrees the horizon stands upright: the sky is on one side only.
    deck.Setvalue_AttitudeDisplay(90.0, 0.0);
    image = dial->grab().toImage();
    const int left = countColour(image, QRect(c.x() - r * 2 / 3, c.y() - r / 6, r / 3, r / 3), sky);
    const int right = countColour(image, QRect(c.x() + r / 3, c.y() - r / 6, r / 3, r / 3), sky);
    QVERIFY((left == 0) != (right == 0));

    Plot *plot = plotOf(deck, "P");
    const QImage canvas = plot->canvas()->grab().toImage();
    const int curveRow = qRound(plot->transform(QwtPlot::yLeft, 0.5));
    const int emptyRow = qRound(plot->transform(QwtPlot::yLeft, -0.5));
    const QRect band(canvas.width() / 4, curveRow - 2, canvas.width() / 2, 5);
    QVERIFY(countColour(canvas, band, curveColour) > band.width());
    QCOMPARE(countColour(canvas, QRect(0, emptyRow - 2, canvas.width(), 5), curveColour), 0);
}

QTEST_MAIN(TstAttitudeIndicator)
#include "tst_attitudeindicator.moc"

// The compass caches its frame across heading changes; what it draws must stay what QwtCompass draws,
// through turns, a resize and a palette change.
void TstAttitudeIndicator::compassDrawsAsQwtDoes()
{
    ChartDeck deck;
    deck.Create_CompassDisplay();
    QwtCompass *compass = deck.findChild<QwtCompass *>();
    // Out of the deck's layout, so that both compasses take the same sizes; back before the deck goes.
    compass->setParent(nullptr);
    const auto restore = qScopeGuard([&] { compass->setParent(&deck); });

    QwtCompass plain;
    plain.setMode(QwtDial::RotateScale);
    plain.setLineWidth(10);
    plain.setFrameShadow(QwtDial::Sunken);
    auto *rose = new QwtSimpleCompassRose(16, 2);
    rose->setWidth(0.1);
    plain.setRose(rose);
    plain.setReadOnly(true);
    plain.setFont(compass->font());
    plain.setPalette(compass->palette());

    QPalette shifted = compass->palette();
    shifted.setColor(QPalette::Light, Qt::darkCyan); // the sunken frame is drawn in light and dark
    shifted.setColor(QPalette::Dark, Qt::darkRed);
    const struct
    {
        double heading;
        QSize size;
        bool newPalette;
    } steps[] = {{0, {260, 260}, false},  {37.5, {260, 260}, false}, {-120, {260, 260}, false},
                 {-120, {340, 300}, false}, {200, {340, 300}, false}, {15, {340, 300}, true}};
    for (const auto &step : steps) {
        for (QwtCompass *c : {compass, &plain}) {
            c->resize(step.size);
            if (step.newPalette)
                c->setPalette(shifted);
        }
        deck.Setvalue_CompassDisplay(step.heading);
        plain.setOrigin(630.0 - step.heading);
        QCOMPARE(compass->grab().toImage(), plain.grab().toImage());
    }
}
