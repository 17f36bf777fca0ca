#include "attitudeindicator.h"
#include "boxview.h"
#include "chartdeck.h"
#include "childwidget.h"
#include "curvesettings.h"
#include "fifobuffer.h"
#include "messageboxcatcher.h"
#include "plot.h"
#include "sensorpanel.h"

#include <QCheckBox>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSignalSpy>
#include <QtTest>

namespace {

const quint16 kNode = 5;

// Reaches the panel's connection count, to see that a window is connected once.
class CountingPanel : public SensorPanel
{
public:
    using SensorPanel::SensorPanel;
    int BoxViewReceivers() const { return receivers(SIGNAL(Sig_Update_BoxView(float, float, float, float))); }
};

Plot *PlotOf(ChartDeck *deck, const char *name) { return deck ? deck->findChild<Plot *>(name) : nullptr; }

QPointF Newest(ChartDeck *deck, const char *plot, const char *curve)
{
    FifoBuffer *buffer = PlotOf(deck, plot)->curveSettings(curve)->buffer;
    return buffer->stored(buffer->size() - 1);
}

QStringList ShownPlots(ChartDeck *deck)
{
    QStringList shown;
    for (Plot *plot : deck->findChildren<Plot *>())
        if (!plot->isHidden())
            shown << plot->objectName();
    shown.sort();
    return shown;
}

} // namespace

// The display windows: when they open, what they show, what feeds them, and how they close.
class tst_Displays : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void settingsOpenTheirWindows();
    void plotsShownBySwitches();
    void feedingAndAxes();
    void modelSetsGyroRangeAndRollScale_data();
    void modelSetsGyroRangeAndRollScale();
    void attitudeWindowRelaysOutOnce();
    void closingUnchecksAndSends_data();
    void closingUnchecksAndSends();
    void displaysFitTheirArea();
    void reopenedBoxViewIsConnectedOnce();

private:
    void Load(quint32 outputs);
    QCheckBox *Box(const char *name) { return Child<QCheckBox>(panel, name); }

    CountingPanel *panel = nullptr;
};

void tst_Displays::init()
{
    panel = new CountingPanel(kNode);
    panel->Set_NodeFirmwareVersion(318, 70);
    panel->resize(1400, 900);
    panel->show();
}

void tst_Displays::cleanup()
{
    delete panel;
    panel = nullptr;
}

void tst_Displays::Load(quint32 outputs)
{
    Np_Settings settings{};
    settings.settingsWord = 0x7u | outputs;
    settings.odr = 100;
    panel->On_NewImuSettings(kNode, settings);
}

void tst_Displays::settingsOpenTheirWindows()
{
    Load(0);
    QVERIFY(!panel->YtDisplay() && !panel->XYDisplay() && !panel->RPYDisplay() && !panel->BoxDisplay());
    Load((1u << 6) | (1u << 8) | (1u << 11)); // raw, quaternion S1->E, roll/pitch/yaw
    QVERIFY(panel->YtDisplay() && panel->BoxDisplay() && panel->RPYDisplay());
    QVERIFY(!panel->XYDisplay());
    QCOMPARE(panel->YtDisplay()->windowTitle(), QString("Raw Data (Wave)"));
    QCOMPARE(panel->BoxDisplay()->windowTitle(), QString("Box View"));
    QCOMPARE(panel->RPYDisplay()->windowTitle(), QString("Roll / Pitch / Yaw"));
    QVERIFY(!panel->YtDisplay()->windowIcon().isNull());
    QCOMPARE(panel->findChild<QMdiArea *>("mdiArea")->subWindowList().size(), 3);
    // Loading again opens nothing twice.
    ChartDeck *yt = panel->YtDisplay();
    Load((1u << 6) | (1u << 8) | (1u << 11));
    QCOMPARE(panel->YtDisplay(), yt);
    QCOMPARE(panel->findChild<QMdiArea *>("mdiArea")->subWindowList().size(), 3);

    // The combined record opens the attitude window too; the X-Y box opens its own window.
    Box("checkBox_Output_RawData_DispInXYMode")->setChecked(true);
    QVERIFY(panel->XYDisplay());
    QCOMPARE(panel->XYDisplay()->windowTitle(), QString("Raw Data (XY Mode)"));
}

void tst_Displays::plotsShownBySwitches()
{
    Load(1u << 6);
    ChartDeck *yt = panel->YtDisplay();
    QCOMPARE(ShownPlots(yt), (QStringList{"Accel", "Gyro", "Mag"}));
    // Raw output off: the window and its plots stay as they are, and take no more data.
    Box("checkBox_Output_RawData")->setChecked(false);
    QCOMPARE(panel->YtDisplay(), yt);
    QCOMPARE(ShownPlots(yt), (QStringList{"Accel", "Gyro", "Mag"}));
    const QPointF before = Newest(yt, "Gyro", "GyroX");
    panel->On_NewData_GyroRaw(kNode, 1, 2, 3, 5e6);
    QCOMPARE(Newest(yt, "Gyro", "GyroX"), before);

    Box("checkBox_Output_RawData_DispInXYMode")->setChecked(true);
    QCOMPARE(ShownPlots(panel->XYDisplay()), (QStringList{"Accel_XY", "Mag_XY"}));
    Box("checkBox_Output_RawData_DispInXYMode")->setChecked(false);
    QCOMPARE(ShownPlots(panel->XYDisplay()), (QStringList{"Accel_XY", "Mag_XY"}));
}

void tst_Displays::feedingAndAxes()
{
    Load(1u << 6);
    Box("checkBox_Output_RawData_DispInXYMode")->setChecked(true);
    ChartDeck *yt = panel->YtDisplay(), *xy = panel->XYDisplay();

    // Y-t: each value with its time stamp; the newest time stamp becomes the plot's origin.
    panel->On_NewData_AccRaw(kNode, 0.1f, 0.2f, 0.3f, 2500000.0);
    panel->On_NewData_AccRaw(kNode + 1, 9, 9, 9, 9e6);
    QCOMPARE(Newest(yt, "Accel", "AccZ"), QPointF(double(0.3f), 2500000.0));
    QCOMPARE(PlotOf(yt, "Accel")->curveSettings("AccX")->buffer->baseTimestamp(), 2500000u);
    QCOMPARE(PlotOf(yt, "Accel")->curveSettings("AccX")->buffer->capacity(), 320u);
    // Time stamps beyond 32 bits keep their low 32 bits as the origin.
    panel->On_NewData_MagRaw(kNode, 1, 1, 1, 4294967296.0 + 7.0);
    QCOMPARE(PlotOf(yt, "Mag")->curveSettings("MagX")->buffer->baseTimestamp(), 7u);

    // X-Y: a pair (a, b) lands at horizontal b, vertical a.
    panel->On_NewData_AccForXY(kNode, 0.1f, 0.2f, 0.3f, 0);
    panel->On_NewData_MagForXY(kNode, -0.4f, 0.5f, -0.6f, 0);
    const auto xyPoint = [&](const char *plot, const char *curve) {
        FifoBuffer *buffer = PlotOf(xy, plot)->curveSettings(curve)->buffer;
        return buffer->at(buffer->size() - 1);
    };
    QCOMPARE(xyPoint("Accel_XY", "AccXY"), QPointF(double(0.1f), double(0.2f)));
    QCOMPARE(xyPoint("Accel_XY", "AccYZ"), QPointF(double(0.2f), double(0.3f)));
    QCOMPARE(xyPoint("Accel_XY", "AccXZ"), QPointF(double(0.1f), double(0.3f)));
    QCOMPARE(xyPoint("Mag_XY", "MagYZ"), QPointF(double(0.5f), double(-0.6f)));
    QCOMPARE(PlotOf(xy, "Mag_XY")->curveSettings("MagXY")->buffer->capacity(), 2500u);

    QCOMPARE(PlotOf(yt, "Accel")->axisInterval(QwtPlot::yLeft).maxValue(), 1.5);
    QCOMPARE(PlotOf(yt, "Accel")->axisInterval(QwtPlot::xBottom).minValue(), -1.6);
    QCOMPARE(PlotOf(xy, "Mag_XY")->axisInterval(QwtPlot::xBottom).minValue(), -1.25);
    QCOMPARE(PlotOf(yt, "Gyro")->curveSettings("GyroZ")->pen.color(), QColor(0, 210, 255, 210));
    QCOMPARE(PlotOf(yt, "Gyro")->curveSettings("GyroZ")->pen.width(), 2);
}

void tst_Displays::modelSetsGyroRangeAndRollScale_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("revision");
    QTest::addColumn<double>("gyroRange");
    QTest::addColumn<bool>("fullCircle");
    QTest::newRow("current") << 318 << 70 << 40.0 << false;
    QTest::newRow("combined output") << 512 << 11 << 6.0 << false;
    QTest::newRow("family 5 variant 0, revision 8") << 505 << 8 << 40.0 << true;
    QTest::newRow("old single number") << 45 << 0 << 40.0 << true;
}

void tst_Displays::modelSetsGyroRangeAndRollScale()
{
    QFETCH(int, version);
    QFETCH(int, revision);
    QFETCH(double, gyroRange);
    QFETCH(bool, fullCircle);
    delete panel;
    panel = new CountingPanel(kNode);
    MessageBoxCatcher unknownModel;
    panel->Set_NodeFirmwareVersion(version, revision);
    Load((1u << 6) | (1u << 11));
    QCOMPARE(PlotOf(panel->YtDisplay(), "Gyro")->axisInterval(QwtPlot::yLeft).maxValue(), gyroRange);
    auto *dial = panel->RPYDisplay()->findChild<AttitudeIndicator *>();
    QVERIFY(dial);
    QCOMPARE(dial->upperBound(), fullCircle ? 360.0 : 179.999999);
}

void tst_Displays::attitudeWindowRelaysOutOnce()
{
    Load(1u << 11);
    auto *sub = qobject_cast<QMdiSubWindow *>(panel->RPYDisplay()->parentWidget());
    QTest::qWait(50); // the windows are tiled once they all exist
    const QSize tiled = sub->size();
    panel->On_UpdateRPY(kNode + 1, 1, 2, 3);
    QCOMPARE(sub->size(), tiled);
    panel->On_UpdateRPY(kNode, 1, 2, 3);
    QCOMPARE(sub->size(), QSize(tiled.width(), tiled.height() - 1));
    panel->On_UpdateRPY(kNode, 4, 5, 6);
    QCOMPARE(sub->size(), QSize(tiled.width(), tiled.height() - 1));
}

void tst_Displays::closingUnchecksAndSends_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("checkBox");
    QTest::addColumn<int>("bit");
    QTest::newRow("Y-t") << "yt"
                         << "checkBox_Output_RawData" << 6;
    QTest::newRow("X-Y") << "xy"
                         << "checkBox_Output_RawData_DispInXYMode" << -1;
    QTest::newRow("attitude") << "rpy"
                              << "checkBox_Output_RPY" << 11;
    QTest::newRow("box") << "box"
                         << "checkBox_Output_Q_S1_E" << 8;
}

void tst_Displays::closingUnchecksAndSends()
{
    QFETCH(QString, window);
    QFETCH(QString, checkBox);
    QFETCH(int, bit);
    Load((1u << 6) | (1u << 8) | (1u << 11));
    Box("checkBox_Output_RawData_DispInXYMode")->setChecked(true);
    QWidget *display = window == "yt"    ? static_cast<QWidget *>(panel->YtDisplay())
                       : window == "xy"  ? static_cast<QWidget *>(panel->XYDisplay())
                       : window == "rpy" ? static_cast<QWidget *>(panel->RPYDisplay())
                                         : static_cast<QWidget *>(panel->BoxDisplay());
    QPointer<QWidget> watched = display;
    QSignalSpy sent(panel, &SensorPanel::Sig_NewImuSetting);
    // The user closes the sub-window.
    qobject_cast<QMdiSubWindow *>(display->parentWidget())->close();
    QVERIFY(!Box(qPrintable(checkBox))->isChecked());
    QCOMPARE(sent.size(), 1);
    if (bit >= 0)
        QVERIFY(!(sent[0].at(1).value<Np_Settings>().settingsWord & (1u << bit)));
    QTRY_VERIFY(watched.isNull());
    QCOMPARE(panel->findChild<QMdiArea *>("mdiArea")->subWindowList().size(), 3);
}

void tst_Displays::reopenedBoxViewIsConnectedOnce()
{
    Load(1u << 8);
    QCOMPARE(panel->BoxViewReceivers(), 1);
    panel->BoxDisplay()->close();
    QVERIFY(!panel->BoxDisplay());
    QCOMPARE(panel->BoxViewReceivers(), 0);
    Box("checkBox_Output_Q_S1_E")->setChecked(true);
    panel->Create_BoxView();
    QCOMPARE(panel->BoxViewReceivers(), 1);
    // The reopened box follows the node.
    const QQuaternion turn = QQuaternion::fromAxisAndAngle(0, 0, 1, 90);
    panel->On_UpdateAttitude(kNode, turn.scalar(), turn.x(), turn.y(), turn.z());
    QVERIFY(qFuzzyCompare(panel->BoxDisplay()->Attitude(), turn));
}

namespace {

// Every sub-window of the area lies inside what it shows, and none covers another.
QString LayoutFault(QMdiArea *area)
{
    const QRect visible(QPoint(0, 0), area->viewport()->size());
    const QList<QMdiSubWindow *> subs = area->subWindowList();
    for (int i = 0; i < subs.size(); ++i) {
        if (!visible.contains(subs[i]->geometry()))
            return subs[i]->windowTitle() + " lies outside the area";
        for (int j = i + 1; j < subs.size(); ++j)
            if (subs[i]->geometry().intersects(subs[j]->geometry()))
                return subs[i]->windowTitle() + " covers " + subs[j]->windowTitle();
    }
    return QString();
}

} // namespace

// Displays share their area, a later one does not move those the user placed, and a smaller window
// keeps all of them in sight.
void tst_Displays::displaysFitTheirArea()
{
    auto *area = panel->findChild<QMdiArea *>("mdiArea");
    Load((1u << 6) | (1u << 8) | (1u << 11));
    QTRY_VERIFY(LayoutFault(area).isEmpty() && area->subWindowList().first()->width() > 100);

    // The user makes room at the bottom; the X-Y window opened now goes there, the others stay.
    QMap<QMdiSubWindow *, QRect> placed;
    const QSize viewport = area->viewport()->size();
    for (QMdiSubWindow *sub : area->subWindowList()) {
        QRect r = sub->geometry();
        r.setHeight(r.height() * 2 / 3);
        r.moveTop(r.top() * 2 / 3);
        sub->setGeometry(r);
        placed[sub] = sub->geometry();
    }
    Box("checkBox_Output_RawData_DispInXYMode")->setChecked(true);
    auto *xy = qobject_cast<QMdiSubWindow *>(panel->XYDisplay()->parentWidget());
    QTRY_VERIFY(xy->y() >= viewport.height() * 2 / 3 - 20);
    for (auto it = placed.begin(); it != placed.end(); ++it)
        QCOMPARE(it.key()->geometry(), it.value());
    QVERIFY2(LayoutFault(area).isEmpty(), qPrintable(LayoutFault(area)));

    for (Plot *plot : panel->YtDisplay()->findChildren<Plot *>()) {
        const QRect canvas(plot->canvas()->mapTo(area->viewport(), QPoint(0, 0)), plot->canvas()->size());
        QVERIFY(QRect(QPoint(0, 0), viewport).contains(canvas));
        QVERIFY(canvas.height() > 20);
    }

    // A much smaller node window: everything still in sight.
    panel->resize(1000, 620);
    QTRY_VERIFY2(LayoutFault(area).isEmpty(), qPrintable(LayoutFault(area)));
}

QTEST_MAIN(tst_Displays)
#include "tst_displays.moc"
