#include "chartdeck.h"
#include "fifobuffer.h"
#include "plot.h"

#include <qwt_dial.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_widget.h>

#include <QAbstractEventDispatcher>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QtTest>
#include <QVBoxLayout>

namespace {

Plot *plotOf(ChartDeck &deck, const char *name)
{
    return deck.findChild<Plot *>(QLatin1String(name));
}

QwtPlotCurve *curveOf(ChartDeck &deck, const char *plot, const char *curve)
{
    Plot *p = plotOf(deck, plot);
    CurveSettings *record = p == nullptr ? nullptr : p->curveSettings(curve);
    return record == nullptr ? nullptr : record->curve;
}

// What the curve draws, read through Qwt's own interface.
QVector<QPointF> drawnPoints(QwtPlotCurve *curve)
{
    QVector<QPointF> points;
    for (std::size_t i = 0; i < curve->data()->size(); ++i)
        points << curve->data()->sample(i);
    return points;
}

QStringList layoutOrder(ChartDeck &deck)
{
    auto *layout = deck.findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
    QStringList names;
    for (int i = 0; i < layout->count(); ++i)
        names << layout->itemAt(i)->widget()->objectName();
    return names;
}

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

} // namespace

class TstChartDeck : public QObject
{
    Q_OBJECT

private slots:
    void startsEmptyWithHiddenTestButtons();
    void unknownNamesAreNoOps();
    void nameInUseKeepsTheFirst();
    void newCurveIsPrefilledAndSlides();
    void fifoSizeChanges();
    void drawnCoordinates_data();
    void drawnCoordinates();
    void originAndModeOnlyForExistingCurves();
    void showHideOrder();
    void deleteCurveAndPlot();
    void oneRefreshTimerPerPlot();
    void refreshRepaintsOnlyTheCanvas();
    void sigQuitOncePerClose();
    void fontsAndSizeForExistingPlotsOnly();
};

void TstChartDeck::startsEmptyWithHiddenTestButtons()
{
    ChartDeck deck;
    QCOMPARE(deck.findChildren<Plot *>().size(), 0);
    for (const char *name : {"pushButton_Reset", "pushButton_Test", "pushButton_Test1", "pushButton_Test2"}) {
        auto *button = deck.findChild<QPushButton *>(QLatin1String(name));
        QVERIFY(button != nullptr);
        QVERIFY(button->isHidden());
        QVERIFY(!button->isEnabled());
    }
    QCOMPARE(deck.palette().color(QPalette::Disabled, QPalette::Window), QColor(53, 53, 53));
    QCOMPARE(deck.palette().color(QPalette::Base), QColor(Qt::darkGray).darker(150));
}

void TstChartDeck::unknownNamesAreNoOps()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("Accel", "Acc", false);
    deck.AddCurve_PlotDisplay("Accel", "AccX", "Acc X", 3, Qt::white);
    deck.SetValue_PlotDisplay("Accel", "AccX", 1.0, 0.0);
    const QVector<QPointF> before = drawnPoints(curveOf(deck, "Accel", "AccX"));

    for (const std::string plot : {"accel", "Gyro", ""}) {
        deck.Delete_PlotDisplay(plot);
        deck.Show_PlotDisplay(plot);
        deck.Hide_PlotDisplay(plot);
        deck.SetAxisX_PlotDisplay(plot, "t", 0, 1);
        deck.SetAxisY_PlotDisplay(plot, "v", 0, 1);
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
    deck.Delete_AttitudeDisplay();
    deck.Show_AttitudeDisplay();
    deck.Setvalue_AttitudeDisplay(10, 10);
    deck.Setmode_AttitudeDisplay(true);
    deck.Delete_CompassDisplay();
    deck.Show_CompassDisplay();
    deck.Setvalue_CompassDisplay(10);

    QCOMPARE(deck.findChildren<Plot *>().size(), 1);
    QCOMPARE(plotOf(deck, "Accel")->curves().size(), std::size_t(1));
    QCOMPARE(drawnPoints(curveOf(deck, "Accel", "AccX")), before);
    QCOMPARE(plotOf(deck, "Accel")->plotSettings().refreshInterval, 20);
    QCOMPARE(deck.findChildren<QwtDial *>().size(), 0);
}

void TstChartDeck::nameInUseKeepsTheFirst()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("P", "first", false);
    deck.AddCurve_PlotDisplay("P", "C", "c", 5, Qt::red);
    QwtPlotCurve *curve = curveOf(deck, "P", "C");
    deck.Create_PlotDisplay("P", "second", true);
    deck.AddCurve_PlotDisplay("P", "C", "other", 9, Qt::blue);

    QCOMPARE(deck.findChildren<Plot *>().size(), 1);
    QCOMPARE(plotOf(deck, "P")->title().text(), QStringLiteral("first"));
    QVERIFY(qobject_cast<QwtPlotCanvas *>(plotOf(deck, "P")->canvas()) != nullptr);
    QCOMPARE(curveOf(deck, "P", "C"), curve);
    QCOMPARE(curve->data()->size(), std::size_t(5));
    QCOMPARE(curve->pen().color(), QColor(Qt::red));
    QCOMPARE(plotOf(deck, "P")->curveSettings("C")->title, std::string("c"));
}

void TstChartDeck::newCurveIsPrefilledAndSlides()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("P", "p", false);
    deck.AddCurve_PlotDisplay("P", "C", "c", 1000, Qt::green);
    QwtPlotCurve *curve = curveOf(deck, "P", "C");
    QCOMPARE(curve->data()->size(), std::size_t(1000));
    QCOMPARE(curve->data()->sample(0), QPointF(0, 0));
    QCOMPARE(curve->data()->sample(999), QPointF(0, 0));
    QCOMPARE(curve->title().text(), QStringLiteral("Data Moving Right"));
    QCOMPARE(curve->pen().color(), QColor(Qt::green));

    for (int k = 1; k <= 7; ++k)
        deck.SetValue_PlotDisplay("P", "C", k, 0.0);
    QCOMPARE(curve->data()->size(), std::size_t(1000));
    QCOMPARE(curve->data()->sample(992).y(), 0.0);
    QCOMPARE(curve->data()->sample(993).y(), 1.0);
    QCOMPARE(curve->data()->sample(999).y(), 7.0);

    deck.SetCurveStyle_PlotDisplay("P", "C", QColor(0, 210, 255, 210), 2);
    QCOMPARE(curve->pen().color(), QColor(0, 210, 255, 210));
    QCOMPARE(curve->pen().width(), 2);
}

void TstChartDeck::fifoSizeChanges()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("P", "p", false);
    deck.AddCurve_PlotDisplay("P", "C", "c", 1000, Qt::green);
    const QwtSeriesData<QPointF> *data = curveOf(deck, "P", "C")->data();

    deck.SetCurveFifoSize_PlogDisplay("P", "C", 20);
    QCOMPARE(data->size(), std::size_t(1000));
    deck.SetValue_PlotDisplay("P", "C", 1.0, 0.0);
    QCOMPARE(data->size(), std::size_t(20));
    QCOMPARE(data->sample(19).y(), 1.0);

    deck.SetCurveFifoSize_PlogDisplay("P", "C", 22);
    for (std::size_t expected : {21, 22, 22}) {
        deck.SetValue_PlotDisplay("P", "C", 2.0, 0.0);
        QCOMPARE(data->size(), expected);
    }

    // Lowered and raised back before any sample arrived: the raised capacity must hold.
    deck.AddCurve_PlotDisplay("P", "D", "d", 1000, Qt::green);
    deck.SetCurveFifoSize_PlogDisplay("P", "D", 20);
    deck.SetCurveFifoSize_PlogDisplay("P", "D", 1000);
    deck.SetValue_PlotDisplay("P", "D", 1.0, 0.0);
    QCOMPARE(curveOf(deck, "P", "D")->data()->size(), std::size_t(1000));

    deck.AddCurve_PlotDisplay("P", "E", "e", 0, Qt::green);
    deck.SetValue_PlotDisplay("P", "E", 1.0, 0.0);
    QCOMPARE(curveOf(deck, "P", "E")->data()->size(), std::size_t(0));
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
    QTest::newRow("Y-t: newest sample at 0")
        << false << 2500000u << -1.25 << 2500000.0 << QPointF(0.0, -1.25);
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
    QCOMPARE(layoutOrder(deck), QStringList({"B", "C"}));
    QVERIFY(!plotOf(deck, "A")->isVisible());
    deck.Hide_PlotDisplay("A");
    QCOMPARE(layoutOrder(deck), QStringList({"B", "C"}));
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
    Plot *plot = plotOf(deck, "P");
    QCOMPARE(plot->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 2);

    deck.DeleteCurve_PlotDisplay("P", "C");
    QCOMPARE(plot->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 1);
    QVERIFY(plot->curveSettings("C") == nullptr);
    deck.AddCurve_PlotDisplay("P", "C", "c again", 7, Qt::green);
    QCOMPARE(curveOf(deck, "P", "C")->data()->size(), std::size_t(7));

    QPointer<Plot> watched(plot);
    deck.Hide_PlotDisplay("P");
    deck.Delete_PlotDisplay("P");
    QVERIFY(watched.isNull());
    QVERIFY(layoutOrder(deck).isEmpty());
    deck.Create_PlotDisplay("P", "fresh", false);
    QCOMPARE(plotOf(deck, "P")->title().text(), QStringLiteral("fresh"));
    QCOMPARE(layoutOrder(deck), QStringList({"P"}));
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
    QCOMPARE(timers.first().timerType, Qt::CoarseTimer);
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
    QTest::qWait(20);
    canvasPaints.paints = 0;
    deck.AddCurve_PlotDisplay("P", "C", "c", 10, Qt::green);
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
    QVERIFY(!deck.isVisible());
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

void TstChartDeck::fontsAndSizeForExistingPlotsOnly()
{
    ChartDeck deck;
    deck.Create_PlotDisplay("A", "a", false);
    const QFont title(QStringLiteral("Arial"), 15);
    const QFont axisTitle(QStringLiteral("Arial"), 7);
    const QFont scale(QStringLiteral("Arial"), 6);
    deck.Set_Title_Font_PlotDisplay(title);
    deck.Set_Axis_TitleFont_PlotDisplay(axisTitle);
    deck.Set_Axis_ScaleFont_PlotDisplay(scale);
    deck.Set_Canvas_MinimumSize_PlotDisplay(QSize(300, 200));
    deck.Create_PlotDisplay("B", "b", false);

    Plot *a = plotOf(deck, "A");
    QCOMPARE(a->title().font(), title);
    QCOMPARE(a->axisTitle(QwtPlot::xBottom).font(), axisTitle);
    QCOMPARE(a->axisTitle(QwtPlot::yLeft).font(), axisTitle);
    QCOMPARE(a->axisFont(QwtPlot::xBottom).pointSize(), 6);
    QCOMPARE(a->axisFont(QwtPlot::yLeft).pointSize(), 6);
    QCOMPARE(a->minimumSize(), QSize(300, 200));
    QCOMPARE(a->sizePolicy().verticalPolicy(), QSizePolicy::MinimumExpanding);
    QCOMPARE(a->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);

    Plot *b = plotOf(deck, "B");
    QVERIFY(b->title().font() != title);
    QVERIFY(b->minimumSize() != QSize(300, 200));
}

QTEST_MAIN(TstChartDeck)
#include "tst_chartdeck.moc"
