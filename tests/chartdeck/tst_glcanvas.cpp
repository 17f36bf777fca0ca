#include "glcanvas.h"
#include "testhelpers.h"

#include <qwt_plot_canvas.h>

#include <QApplication>
#include <QtTest>

// The OpenGL canvas needs a real display; without one the test says so and skips.
#define REQUIRE_DISPLAY()                                                                                    \
    if (QGuiApplication::platformName() != QLatin1String("xcb"))                                             \
        QSKIP("the OpenGL canvas needs an X display: run this test under xvfb-run");

class TstGlCanvas : public QObject
{
    Q_OBJECT

private slots:
    void createdAndPainted();
};

void TstGlCanvas::createdAndPainted()
{
    REQUIRE_DISPLAY();
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

    Plot *plot = plotOf(deck, "GL");
    auto *canvas = qobject_cast<GLCanvas *>(plot->canvas());
    QVERIFY(canvas != nullptr);
    PaintCounter paints;
    canvas->installEventFilter(&paints);
    deck.resize(600, 400);
    deck.show();
    QVERIFY(QTest::qWaitForWindowExposed(&deck));
    if (!canvas->isValid())
        QSKIP("no OpenGL context could be created on this display");
    QTRY_VERIFY_WITH_TIMEOUT(paints.paints >= 3, 3000); // the refresh timer keeps painting

    const QImage frame = canvas->grabFrameBuffer();
    const int w = frame.width();
    const int h = frame.height();
    const int row = qRound(plot->transform(QwtPlot::yLeft, -0.5));
    QVERIFY(countColour(frame, QRect(w / 4, row - 3, w / 2, 7), colour) > w / 2);
    // Away from the grid lines: the one-pixel border on all four sides, the background inside.
    const QColor border = canvas->palette().color(QPalette::WindowText);
    for (const QPoint &p :
         {QPoint(0, h * 3 / 8), QPoint(w - 1, h * 3 / 8), QPoint(w * 3 / 8, 0), QPoint(w * 3 / 8, h - 1)})
        QCOMPARE(QColor(frame.pixel(p)), border);
    QCOMPARE(QColor(frame.pixel(3, h * 3 / 8)), QColor(85, 85, 85));

    PlotSettings settings = plot->plotSettings();
    settings.openGL = false;
    plot->Set_PlotSettings(settings);
    QVERIFY(qobject_cast<QwtPlotCanvas *>(plot->canvas()) != nullptr);
}

int main(int argc, char **argv)
{
    // This test is about OpenGL on a real display: it takes the X display when there is one (under
    // xvfb-run), whatever platform the surrounding test run asks for, and else starts offscreen and skips.
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    QApplication app(argc, argv);
    TstGlCanvas test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_glcanvas.moc"
