#include "attitudeindicator.h"
#include "chartdeck.h"
#include "fifobuffer.h"
#include "glcanvas.h"
#include "plot.h"

#include <qwt_compass.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>

#include <QApplication>
#include <QGLContext>
#include <QtTest>
#include <QVBoxLayout>

namespace {

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The OpenGL canvas needs a real display; without one the tests say so and skip.
bool haveDisplay()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

class TstGlCanvas : public QObject
{
    Q_OBJECT

private slots:
    void createdAndPainted();
    void demonstrationButtons();
};

void TstGlCanvas::createdAndPainted()
{
    if (!haveDisplay())
        QSKIP("the OpenGL canvas needs an X display: run this test under xvfb-run");

    ChartDeck deck;
    deck.Create_PlotDisplay("GL", "OpenGL", true);
    deck.SetAxisX_PlotDisplay("GL", "x", -1.0, 1.0);
    deck.SetAxisY_PlotDisplay("GL", "y", -1.0, 1.0);
    deck.SetRefreshRate_PlotDisplay("GL", 15);
    const QColor colour(150, 220, 80);
    deck.AddCurve_PlotDisplay("GL", "C", "c", 40, colour);
    deck.SetCurveStyle_PlotDisplay("GL", "C", colour, 3);
    deck.Set_XY_Mode("GL", true);
    for (int i = 0; i < 40; ++i)
        deck.SetValue_PlotDisplay("GL", "C", -0.5, -0.8 + i * 0.04);

    Plot *plot = deck.findChild<Plot *>(QStringLiteral("GL"));
    auto *canvas = qobject_cast<GLCanvas *>(plot->canvas());
    QVERIFY(canvas != nullptr);
    QCOMPARE(canvas->contentsMargins(), QMargins(1, 1, 1, 1));

    PaintCounter paints;
    canvas->installEventFilter(&paints);
    deck.resize(600, 400);
    deck.show();
    QVERIFY(QTest::qWaitForWindowExposed(&deck));
    if (!canvas->isValid())
        QSKIP("no OpenGL context could be created on this display");
    QTRY_VERIFY_WITH_TIMEOUT(paints.paints >= 3, 3000); // the refresh timer keeps painting

    const QImage frame = canvas->grabFrameBuffer();
    QVERIFY(!frame.isNull());
    const int row = qRound(plot->transform(QwtPlot::yLeft, -0.5));
    int onRow = 0;
    for (int y = row - 3; y <= row + 3; ++y)
        for (int x = frame.width() / 4; x < frame.width() * 3 / 4; ++x)
            onRow += QColor(frame.pixel(x, y)) == colour ? 1 : 0;
    QVERIFY2(onRow > frame.width() / 2, qPrintable(QString::number(onRow)));
    const QColor border = canvas->palette().color(QPalette::WindowText);
    // Away from the grid lines: the one-pixel border on all four sides, the background inside.
    const int w = frame.width();
    const int h = frame.height();
    for (const QPoint &p :
         {QPoint(0, h * 3 / 8), QPoint(w - 1, h * 3 / 8), QPoint(w * 3 / 8, 0), QPoint(w * 3 / 8, h - 1)})
        QCOMPARE(QColor(frame.pixel(p)), border);
    QCOMPARE(QColor(frame.pixel(3, h * 3 / 8)), QColor(85, 85, 85));
    QCOMPARE(QColor(frame.pixel(w * 3 / 8, h * 3 / 8)), QColor(85, 85, 85));

    // Back to the software canvas.
    PlotSettings settings = plot->plotSettings();
    settings.openGL = false;
    plot->Set_PlotSettings(settings);
    QVERIFY(qobject_cast<QwtPlotCanvas *>(plot->canvas()) != nullptr);
}

// The hidden buttons' demonstration uses OpenGL canvases, so it lives here.
void TstGlCanvas::demonstrationButtons()
{
    if (!haveDisplay())
        QSKIP("the demonstration uses OpenGL canvases and needs an X display: run under xvfb-run");

    ChartDeck deck;
    deck.show();
    QVERIFY(QTest::qWaitForWindowExposed(&deck));
    QVERIFY(QMetaObject::invokeMethod(&deck, "on_pushButton_Reset_clicked"));
    Plot *accel = deck.findChild<Plot *>(QStringLiteral("Accel"));
    QVERIFY(accel != nullptr);
    QVERIFY(qobject_cast<GLCanvas *>(accel->canvas()) != nullptr);
    const QwtSeriesData<QPointF> *accX = accel->curveSettings("AccX")->curve->data();
    QCOMPARE(accX->size(), std::size_t(800));
    QCOMPARE(accX->sample(0).y(), 0.0);
    QCOMPARE(accX->sample(250).y(), std::sin(250 / 1000.0 * 3.14 * 2.0));
    QCOMPARE(accX->sample(250).x(), -25.0 / 1000000.0);
    QCOMPARE(accel->curveSettings("AccX")->pen.width(), 3);

    QVERIFY(QMetaObject::invokeMethod(&deck, "on_pushButton_Test_clicked"));
    QCOMPARE(accX->size(), std::size_t(20));
    QCOMPARE(accX->sample(19).y(), 299.0 * 299.0 / 300.0 / 300.0 / 2.0);
    auto *dial = deck.findChild<AttitudeIndicator *>();
    auto *compass = deck.findChild<QwtCompass *>();
    QCOMPARE(dial->value(), 10.2);
    QCOMPARE(dial->gradient() * 90.0, 30.1);
    QVERIFY(compass->isHidden());
    QCOMPARE(compass->origin(), 630.0);
    Plot *gyro = deck.findChild<Plot *>(QStringLiteral("Gyro"));
    QCOMPARE(gyro->curves().size(), std::size_t(2));
    QCOMPARE(gyro->curveSettings("GryoX")->pen.width(), 10);
    QCOMPARE(accel->curves().size(), std::size_t(2));

    auto *plots = deck.findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
    QVERIFY(QMetaObject::invokeMethod(&deck, "on_pushButton_Test2_clicked"));
    QCOMPARE(plots->indexOf(gyro), -1);
    QVERIFY(dial->isHidden());
    QVERIFY(QMetaObject::invokeMethod(&deck, "on_pushButton_Test1_clicked"));
    QCOMPARE(plots->indexOf(gyro), 1);
    QVERIFY(!dial->isHidden());
    QVERIFY(!compass->isHidden());
}

int main(int argc, char **argv)
{
    // Without any display the application could not even start; fall back to offscreen and skip.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TstGlCanvas test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_glcanvas.moc"
