#include "testhelpers.h"

#include <qwt_dial.h>
#include <qwt_plot_canvas.h>
#include <qwt_scale_widget.h>

#include <QAbstractEventDispatcher>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QVBoxLayout>
#include <QtTest>

namespace {

QStringList layoutOrder(ChartDeck &deck)
{
    auto *layout = deck.findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
    QStringList names;
    for (int i = 0; i < layout->count(); ++i)
        names << layout->itemAt(i)->widget()->objectName();
    return names;
}

} // namespace

class TstChartDeck : public QObject
{
    Q_OBJECT

private slots:
    void unknownNamesAreNoOps();
    void curveBufferThroughTheDeck();
    void drawnCoordinates_data();
    void drawnCoordinates();
    void originAndModeOnlyForExistingCurves();
    void showHideOrder();
    void deleteCurveAndPlot();
    void oneRefreshTimerPerPlot();
    void refreshRepaintsOnlyTheCanvas();
    void sigQuitOncePerClose();
};

void TstChartDeck::unknownNamesAreNoOps()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("Accel", "Acc", false);
    deck.AddCurve_PlotDisplay("Accel", "AccX", "Acc X", 3, Qt::white);
    deck.SetValue_PlotDisplay("Accel", "AccX", 1.0, 0.0);
    const QwtSeriesData<QPointF> *data = curveOf(deck, "Accel", "AccX")->data();

    for (const std::string plot : {"accel", "Gyro", ""}) {
        deck.Delete_PlotDisplay(plot);
        deck.Hide_PlotDisplay(plot);
        deck.SetAxisX_PlotDisplay(plot, "t", 0, 1);
        deck.SetRefreshRate_PlotDisplay(plot, 5);
        deck.AddCurve_PlotDisplay(plot, "AccX", "x", 10, Qt::red);
        deck.SetTimestamp_PlotDisplay(plot, 77);
        deck.Set_XY_Mode(plot, true);
    }
    for (const std::string curve : {"AccY", "accx", ""}) {
        deck.DeleteCurve_PlotDisplay("Accel", curve);
        deck.SetCurveStyle_PlotDisplay("Accel", curve, Qt::red, 4);
        deck.SetCurveFifoSize_PlogDisplay("Accel", curve, 1);
        deck.SetValue_PlotDisplay("Accel", curve, 9.0, 9.0);
        deck.FillCurve_SineWave_PlotDisplay("Accel", curve, 0.0);
    }
    deck.Setvalue_AttitudeDisplay(10, 10);
    deck.Setmode_AttitudeDisplay(true); // no dial yet
    deck.Show_CompassDisplay();
    deck.Setvalue_CompassDisplay(10);

    QCOMPARE(deck.findChildren<Plot *>().size(), 1);
    QCOMPARE(plotOf(deck, "Accel")->curves().size(), std::size_t(1));
    QCOMPARE(data->size(), std::size_t(3));
    QCOMPARE(data->sample(2), QPointF(0.0, 1.0));
    QCOMPARE(plotOf(deck, "Accel")->plotSettings().refreshInterval, 20);
    QVERIFY(deck.findChild<QwtDial *>() == nullptr);

    // A name in use keeps its plot and curve.
    QwtPlotCurve *curve = curveOf(deck, "Accel", "AccX");
    deck.Create_PlotDisplay("Accel", "second", true);
    deck.AddCurve_PlotDisplay("Accel", "AccX", "other", 9, Qt::blue);
    QCOMPARE(plotOf(deck, "Accel")->title().text(), QStringLiteral("Acc"));
    QVERIFY(qobject_cast<QwtPlotCanvas *>(plotOf(deck, "Accel")->canvas()) != nullptr);
    QCOMPARE(curveOf(deck, "Accel", "AccX"), curve);
    QCOMPARE(curve->data()->size(), std::size_t(3));
}

// The append rule itself is FifoBuffer's test; here the deck's part: prefill, and a capacity lowered and
// raised back before any sample arrived, which must hold the raised capacity.
void TstChartDeck::curveBufferThroughTheDeck()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("P", "p", false);
    deck.AddCurve_PlotDisplay("P", "C", "c", 1000, Qt::green);
    const QwtSeriesData<QPointF> *data = curveOf(deck, "P", "C")->data();
    QCOMPARE(data->size(), std::size_t(1000));
    QCOMPARE(data->sample(999), QPointF(0, 0));
    deck.SetCurveFifoSize_PlogDisplay("P", "C", 20);
    deck.SetCurveStyle_PlotDisplay("P", "C", QColor(0, 210, 255, 210), 2);
    QCOMPARE(data->size(), std::size_t(1000));
    deck.SetCurveFifoSize_PlogDisplay("P", "C", 1000);
    deck.SetValue_PlotDisplay("P", "C", 1.0, 0.0);
    QCOMPARE(data->size(), std::size_t(1000));
    QCOMPARE(data->sample(999), QPointF(0, 1));
    QCOMPARE(curveOf(deck, "P", "C")->pen(), QPen(QColor(0, 210, 255, 210), 2));
}

void TstChartDeck::drawnCoordinates_data()
{
    QTest::addColumn<bool>("xyMode");
    QTest::addColumn<uint>("base");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("second");
    QTest::addColumn<QPointF>("drawn");

    QTest::newRow("Y-t: x = (t - base) / 1e6, y = value")
        << false << 2500000u << 0.75 << 2100000.0 << QPointF(-0.4, 0.75);
    QTest::newRow("Y-t: newest at 0") << false << 2500000u << -1.25 << 2500000.0 << QPointF(0.0, -1.25);
    QTest::newRow("Y-t: time going back lands right")
        << false << 1000000u << 1.0 << 1600000.0 << QPointF(0.6, 1.0);
    QTest::newRow("Y-t: origin above 2^31 is unsigned")
        << false << 3000000000u << 2.0 << 2999750000.0 << QPointF(-0.25, 2.0);
    QTest::newRow("Y-t: across the 32-bit wrap")
        << false << 500u << 3.0 << 4294966296.0 << QPointF(-0.0015, 3.0);
    QTest::newRow("XY: (a, b) drawn at x = b, y = a")
        << true << 2500000u << 0.2 << -0.9 << QPointF(-0.9, 0.2);
}

void TstChartDeck::drawnCoordinates()
{
    QFETCH(bool, xyMode);
    QFETCH(uint, base);
    QFETCH(double, first);
    QFETCH(double, second);
    QFETCH(QPointF, drawn);

    ChartDeck deck;
    deck.Create_PlotDisplay("P", "p", false);
    deck.AddCurve_PlotDisplay("P", "C", "c", 4, Qt::green);
    deck.Set_XY_Mode("P", xyMode);
    deck.SetValue_PlotDisplay("P", "C", first, second);
    deck.SetTimestamp_PlotDisplay("P", base);
    const QPointF point = curveOf(deck, "P", "C")->data()->sample(3);
    QCOMPARE(point.x(), drawn.x());
    QCOMPARE(point.y(), drawn.y());
}

void TstChartDeck::originAndModeOnlyForExistingCurves()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("P", "p", false);
    deck.AddCurve_PlotDisplay("P", "Old", "o", 2, Qt::green);
    deck.SetTimestamp_PlotDisplay("P", 1000000);
    deck.Set_XY_Mode("P", true);
    deck.AddCurve_PlotDisplay("P", "New", "n", 2, Qt::green);
    deck.SetValue_PlotDisplay("P", "Old", 1.0, 3000000.0);
    deck.SetValue_PlotDisplay("P", "New", 1.0, 3000000.0);

    QCOMPARE(curveOf(deck, "P", "Old")->data()->sample(1), QPointF(3000000.0, 1.0));
    QCOMPARE(curveOf(deck, "P", "New")->data()->sample(1), QPointF(3.0, 1.0));
}

void TstChartDeck::showHideOrder()
{
    ChartDeck deck;
    for (const char *name : {"A", "B", "C"})
        deck.Create_PlotDisplay(name, name, false);
    deck.show();
    QVERIFY(QTest::qWaitForWindowExposed(&deck));
    QCOMPARE(layoutOrder(deck), QStringList({"A", "B", "C"}));

    deck.Show_PlotDisplay("B");
    QCOMPARE(layoutOrder(deck), QStringList({"A", "B", "C"}));
    deck.Hide_PlotDisplay("A");
    deck.Hide_PlotDisplay("A");
    QCOMPARE(layoutOrder(deck), QStringList({"B", "C"}));
    QVERIFY(!plotOf(deck, "A")->isVisible());
    deck.Show_PlotDisplay("A");
    QCOMPARE(layoutOrder(deck), QStringList({"B", "C", "A"}));
    QVERIFY(plotOf(deck, "A")->isVisible());
}

void TstChartDeck::deleteCurveAndPlot()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("P", "p", false);
    deck.AddCurve_PlotDisplay("P", "C", "c", 3, Qt::green);
    deck.AddCurve_PlotDisplay("P", "D", "d", 3, Qt::green);
    QPointer<Plot> plot(plotOf(deck, "P"));
    deck.DeleteCurve_PlotDisplay("P", "C");
    QCOMPARE(plot->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 1);
    deck.AddCurve_PlotDisplay("P", "C", "c again", 7, Qt::green);
    QCOMPARE(curveOf(deck, "P", "C")->data()->size(), std::size_t(7));
    deck.Delete_PlotDisplay("P");
    QVERIFY(plot.isNull());
    QVERIFY(layoutOrder(deck).isEmpty());
}

void TstChartDeck::oneRefreshTimerPerPlot()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("P", "p", false);
    for (int interval : {40, 50, 60, 50, 10, 33})
        deck.SetRefreshRate_PlotDisplay("P", interval);
    const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(plotOf(deck, "P"));
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first().interval, 33);
}

void TstChartDeck::refreshRepaintsOnlyTheCanvas()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("P", "p", false);
    deck.SetRefreshRate_PlotDisplay("P", 10);
    deck.show();
    QVERIFY(QTest::qWaitForWindowExposed(&deck));
    QTest::qWait(50);

    Plot *plot = plotOf(deck, "P");
    PaintCounter canvasPaints;
    PaintCounter axisPaints;
    plot->canvas()->installEventFilter(&canvasPaints);
    plot->axisWidget(QwtPlot::yLeft)->installEventFilter(&axisPaints);
    QTRY_VERIFY_WITH_TIMEOUT(canvasPaints.paints >= 3, 2000);
    QCOMPARE(axisPaints.paints, 0);

    // Samples alone never paint.
    deck.SetRefreshRate_PlotDisplay("P", 100000);
    deck.AddCurve_PlotDisplay("P", "C", "c", 10, Qt::green);
    QTest::qWait(20);
    canvasPaints.paints = 0;
    for (int i = 0; i < 100; ++i)
        deck.SetValue_PlotDisplay("P", "C", i, i);
    QTest::qWait(50);
    QCOMPARE(canvasPaints.paints, 0);
}

void TstChartDeck::sigQuitOncePerClose()
{
    ChartDeck deck;
    QSignalSpy quit(&deck, &ChartDeck::Sig_Quit);
    deck.show();
    QVERIFY(deck.close());
    QCOMPARE(quit.count(), 1);
    deck.show();
    QVERIFY(deck.close());
    QCOMPARE(quit.count(), 2);

    // As a sub-window of a node window's MDI area.
    QMdiArea area;
    auto *mdiDeck = new ChartDeck;
    QSignalSpy mdiQuit(mdiDeck, &ChartDeck::Sig_Quit);
    QMdiSubWindow *sub = area.addSubWindow(mdiDeck);
    area.show();
    sub->show();
    QVERIFY(sub->close());
    QCOMPARE(mdiQuit.count(), 1);
}

QTEST_MAIN(TstChartDeck)
#include "tst_chartdeck.moc"
