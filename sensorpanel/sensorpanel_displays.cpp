// Display windows: the Y-t and X-Y plots of the raw sensors, the attitude dial with the compass and
// the 3-D box, each a sub-window of the panel's own MDI area.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "boxview.h"
#include "chartdeck.h"
#include "displayplacement.h"
#include "plotrecipe.h"

#include <QtCore/QTimer>
#include <QtGui/QIcon>
#include <QtWidgets/QMdiSubWindow>

namespace {

// The gyro plot's range is set per model.
const PlotRecipe kYtPlots[] = {
    {"Accel",
     QT_TRANSLATE_NOOP("SensorPanel", "Accelerometer (g)"),
     QT_TRANSLATE_NOOP("SensorPanel", "Time (s)"),
     -1.6,
     0,
     QT_TRANSLATE_NOOP("SensorPanel", "Raw Data (g)"),
     -1.5,
     1.5,
     50,
     {{"AccX", "Acc X"}, {"AccY", "Acc Y"}, {"AccZ", "Acc Z"}}},
    {"Gyro",
     QT_TRANSLATE_NOOP("SensorPanel", "Gyroscope (rad/s)"),
     QT_TRANSLATE_NOOP("SensorPanel", "Time (s)"),
     -1.6,
     0,
     QT_TRANSLATE_NOOP("SensorPanel", "Raw Data (rad/s)"),
     -40,
     40,
     40,
     {{"GyroX", "Gyro X"}, {"GyroY", "Gyro Y"}, {"GyroZ", "Gyro Z"}}},
    {"Mag",
     QT_TRANSLATE_NOOP("SensorPanel", "Magnetometer (1 earth magnetic field)"),
     QT_TRANSLATE_NOOP("SensorPanel", "Time (s)"),
     -1.6,
     0,
     QT_TRANSLATE_NOOP("SensorPanel", "Raw Data (Gs)"),
     -1.5,
     1.5,
     60,
     {{"MagX", "Mag X"}, {"MagY", "Mag Y"}, {"MagZ", "Mag Z"}}},
};

const PlotRecipe kXyPlots[] = {
    {"Accel_XY",
     QT_TRANSLATE_NOOP("SensorPanel", "Accelerometer X-Y Y-Z X-Z"),
     QT_TRANSLATE_NOOP("SensorPanel", "X - Y - X"),
     -1.5,
     1.5,
     QT_TRANSLATE_NOOP("SensorPanel", "Y - Z - Z"),
     -1.5,
     1.5,
     100,
     {{"AccXY", "X-Y"}, {"AccYZ", "Y-Z"}, {"AccXZ", "X-Z"}}},
    {"Mag_XY",
     QT_TRANSLATE_NOOP("SensorPanel", "Magnet X-Y Y-Z X-Z"),
     QT_TRANSLATE_NOOP("SensorPanel", "X - Y - X"),
     -1.25,
     1.25,
     QT_TRANSLATE_NOOP("SensorPanel", "Y - Z - Z"),
     -1.25,
     1.25,
     110,
     {{"MagXY", "X-Y"}, {"MagYZ", "Y-Z"}, {"MagXZ", "X-Z"}}},
};

// The plots' time origin: the time stamp cut to the low 32 bits of its integer part.
quint32 TimeOrigin(double timeStamp) { return quint32(qint64(timeStamp)); }

void FeedYt(ChartDeck *deck, const char *plot, const char *const curves[3], float a, float b, float c,
            double timeStamp)
{
    deck->SetValue_PlotDisplay(plot, curves[0], a, timeStamp);
    deck->SetValue_PlotDisplay(plot, curves[1], b, timeStamp);
    deck->SetValue_PlotDisplay(plot, curves[2], c, timeStamp);
    deck->SetTimestamp_PlotDisplay(plot, TimeOrigin(timeStamp));
}

} // namespace

QMdiSubWindow *SensorPanel::AddDisplay(QWidget *display, const char *title, const char *icon)
{
    display->setWindowTitle(tr(title));
    display->setWindowIcon(QIcon(QString::fromLatin1(icon)));
    QMdiSubWindow *sub = ui->mdiArea->addSubWindow(display);
    // A display is looked at, not operated: Tab passes it by instead of circling among the displays.
    sub->setFocusPolicy(Qt::ClickFocus);
    display->show();
    sub->show();
    // Placed once the window is whole (fonts, sizes): see ArrangeNewDisplays.
    newDisplays.append(sub);
    if (newDisplays.size() == 1)
        QTimer::singleShot(0, this, &SensorPanel::ArrangeNewDisplays);
    return sub;
}

namespace {

// What a display needs at the least once placed: it shrinks with its area below the sizes it opens at.
const QSize kSmallestCanvas(100, 110); // a plot with its title and axes: a canvas of some 50 px
const QSize kSmallestInstrument(90, 90);
const QSize kSmallestBox(120, 120);
const QSize kSmallestWindow(140, 140); // a placed window, title bar and frame included
const char *const kArranged = "gyrovaneArranged";

void LetShrink(QWidget *display)
{
    display->setProperty(kArranged, true);
    if (auto *deck = qobject_cast<ChartDeck *>(display))
        deck->Set_Canvas_MinimumSize_PlotDisplay(kSmallestCanvas);
    for (QWidget *child : display->findChildren<QWidget *>())
        if (child->inherits("QwtDial"))
            child->setMinimumSize(kSmallestInstrument);
    if (qobject_cast<BoxView *>(display))
        display->setMinimumSize(kSmallestBox);
}

} // namespace

void SensorPanel::ArrangeNewDisplays()
{
    QVector<QPointer<QMdiSubWindow>> fresh;
    fresh.swap(newDisplays);
    // The size each opens at (its own, as its contents ask) is the most it gets.
    QVector<QSize> preferred;
    for (const QPointer<QMdiSubWindow> &sub : fresh) {
        preferred << (sub ? sub->size() : QSize());
        if (sub)
            LetShrink(sub->widget());
    }
    // Placed once the smaller minimums have reached the sub-windows' layouts.
    QTimer::singleShot(0, this, [this, fresh, preferred]() {
        QVector<QRect> others;
        for (QMdiSubWindow *sub : ui->mdiArea->subWindowList())
            if (!fresh.contains(sub))
                others << sub->geometry();
        // Windows opened together before any other (the node's outputs loaded at once) share the area
        // side by side; one opened later goes to the free room, the others stay where the user put them.
        const QSize area = ui->mdiArea->viewport()->size();
        if (others.isEmpty() && fresh.size() > 1) {
            QVector<QSize> minimums;
            for (const QPointer<QMdiSubWindow> &sub : fresh)
                minimums << (sub ? sub->minimumSizeHint() : QSize());
            const QVector<QRect> spots = DisplayPlacement::Share(preferred, area, minimums);
            for (int i = 0; i < fresh.size(); ++i)
                if (fresh[i])
                    fresh[i]->setGeometry(spots[i]);
            DisplayPlacement::FitAll(ui->mdiArea);
            return;
        }
        for (int i = 0; i < fresh.size(); ++i) {
            if (!fresh[i])
                continue;
            // (Its own minimum may still be the one it opened with: its layout has not caught up.)
            const QRect spot = DisplayPlacement::Place(preferred[i], others, area, kSmallestWindow);
            fresh[i]->setGeometry(spot);
            others << spot;
        }
    });
}

void SensorPanel::CloseDisplay(QWidget *display, QCheckBox *box)
{
    // Unchecked through the box's own handling, so the node stops sending what nobody shows.
    box->setChecked(false);
    if (auto *sub = qobject_cast<QMdiSubWindow *>(display->parentWidget())) {
        ui->mdiArea->removeSubWindow(sub);
        sub->deleteLater();
    } else {
        display->deleteLater();
    }
}

void SensorPanel::ApplyPlotFonts(ChartDeck *deck)
{
    const QString arial = tr("Arial");
    deck->setFont(QFont(arial, fontSize));
    // Axis texts one point smaller, but never below the smallest readable size.
    deck->Set_Axis_ScaleFont_PlotDisplay(QFont(arial, qMax(7, fontSize - 1)));
    deck->Set_Axis_TitleFont_PlotDisplay(QFont(arial, qMax(7, fontSize - 1)));
    deck->Set_Title_Font_PlotDisplay(QFont(arial, fontSize + 1));
    // Before it is placed a window opens at the size its plots ask for; afterwards they shrink with it.
    deck->Set_Canvas_MinimumSize_PlotDisplay(deck->property(kArranged).toBool() ? kSmallestCanvas
                                                                                 : QSize(300, 200));
}

void SensorPanel::Create_Yt_Display()
{
    if (ytOpen)
        return;
    ytWindow = new ChartDeck(this);
    // Gyros of the combined-output model measure up to about 6 rad/s.
    const bool narrowGyro = model.Family() == 5 && model.Variant() == 0;
    for (const PlotRecipe &plot : kYtPlots) {
        const bool gyro = std::string(plot.name) == "Gyro";
        AddPlotFromRecipe(ytWindow, plot, 320, gyro && narrowGyro ? -6 : plot.yMin, gyro && narrowGyro ? 6 : plot.yMax,
                          "SensorPanel");
    }
    ytWindow->Set_Canvas_MinimumSize_PlotDisplay(QSize(200, 230));
    AddDisplay(ytWindow, QT_TRANSLATE_NOOP("SensorPanel", "Raw Data (Wave)"), ":/images/Wave.ico");
    connect(ytWindow, SIGNAL(Sig_Quit()), this, SLOT(On_ChartDeck_Yt_Quit()), Qt::UniqueConnection);
    ytOpen = true;
    if (stale)
        UpdateStaleOverlays();
    Set_FontSize(fontSize);
}

void SensorPanel::Create_XY_Display()
{
    if (xyOpen)
        return;
    xyWindow = new ChartDeck(this);
    for (const PlotRecipe &plot : kXyPlots) {
        AddPlotFromRecipe(xyWindow, plot, 2500, plot.yMin, plot.yMax, "SensorPanel");
        xyWindow->Set_XY_Mode(plot.name, true);
    }
    xyWindow->Set_Canvas_MinimumSize_PlotDisplay(QSize(150, 150));
    QMdiSubWindow *sub =
        AddDisplay(xyWindow, QT_TRANSLATE_NOOP("SensorPanel", "Raw Data (XY Mode)"), ":/images/WaveXY.ico");
    const int w = sub->width();
    sub->resize(w * 3 / 4, int(float(w) * 6.0f * 0.25f * 1.0258333683013916f));
    connect(xyWindow, SIGNAL(Sig_Quit()), this, SLOT(On_ChartDeck_XY_Quit()), Qt::UniqueConnection);
    xyOpen = true;
    if (stale)
        UpdateStaleOverlays();
    Set_FontSize(fontSize);
}

void SensorPanel::Create_RPY_Display()
{
    if (rpyOpen)
        return;
    rpyWindow = new ChartDeck(this);
    rpyPending = false;
    rpyWindow->Create_AttitudeDisplay();
    rpyWindow->Create_CompassDisplay();
    if (model.FullCircleRoll())
        rpyWindow->Setmode_AttitudeDisplay(true);
    QMdiSubWindow *sub =
        AddDisplay(rpyWindow, QT_TRANSLATE_NOOP("SensorPanel", "Roll / Pitch / Yaw"), ":/images/Plane.ico");
    pendingRelayout = sub;
    if (!model.FullCircleRoll())
        sub->resize(sub->width(), sub->height() - 20);
    connect(rpyWindow, SIGNAL(Sig_Quit()), this, SLOT(On_ChartDeck_RPY_Quit()), Qt::UniqueConnection);
    rpyOpen = true;
    if (stale)
        UpdateStaleOverlays();
}

void SensorPanel::Create_BoxView()
{
    if (boxOpen)
        return;
    boxView = new BoxView(this);
    boxView->setMinimumSize(300, 300);
    AddDisplay(boxView, QT_TRANSLATE_NOOP("SensorPanel", "Box View"), ":/images/Cube.ico");
    connect(boxView, SIGNAL(Sig_Quit()), this, SLOT(On_BoxView_Quit()), Qt::UniqueConnection);
    connect(this, SIGNAL(Sig_Update_BoxView(float, float, float, float)), boxView,
            SLOT(On_UpdateAttitude(float, float, float, float)), Qt::UniqueConnection);
    boxOpen = true;
    if (stale)
        UpdateStaleOverlays();
}

void SensorPanel::On_ChartDeck_Yt_Quit()
{
    CloseDisplay(ytWindow, ui->checkBox_Output_RawData);
    ytOpen = false;
    disconnect(ytWindow, SIGNAL(Sig_Quit()), this, SLOT(On_ChartDeck_Yt_Quit()));
}

void SensorPanel::On_ChartDeck_XY_Quit()
{
    CloseDisplay(xyWindow, ui->checkBox_Output_RawData_DispInXYMode);
    xyOpen = false;
    disconnect(xyWindow, SIGNAL(Sig_Quit()), this, SLOT(On_ChartDeck_XY_Quit()));
}

void SensorPanel::On_ChartDeck_RPY_Quit()
{
    CloseDisplay(rpyWindow, ui->checkBox_Output_RPY);
    rpyOpen = false;
    pendingRelayout = nullptr;
    disconnect(rpyWindow, SIGNAL(Sig_Quit()), this, SLOT(On_ChartDeck_RPY_Quit()));
}

void SensorPanel::On_BoxView_Quit()
{
    CloseDisplay(boxView, ui->checkBox_Output_Q_S1_E);
    boxOpen = false;
    disconnect(boxView, SIGNAL(Sig_Quit()), this, SLOT(On_BoxView_Quit()));
    disconnect(this, SIGNAL(Sig_Update_BoxView(float, float, float, float)), boxView,
               SLOT(On_UpdateAttitude(float, float, float, float)));
}

void SensorPanel::OpenDisplaysForOutputs()
{
    const bool raw = ui->checkBox_Output_RawData->isChecked();
    gyroYt = accYt = magYt = raw;
    if (raw)
        Create_Yt_Display();
    const bool xy = ui->checkBox_Output_RawData_DispInXYMode->isChecked();
    accXY = magXY = xy;
    if (xy)
        Create_XY_Display();
    if (ui->checkBox_Output_Q_S1_E->isChecked())
        Create_BoxView();
    if (ui->checkBox_Output_RPY->isChecked() || ui->checkBox_Output_Combo->isChecked())
        Create_RPY_Display();
}

void SensorPanel::RefreshShownPlots()
{
    On_UpdateCheckState_Yt();
    On_UpdateCheckState_XY();
}

void SensorPanel::On_UpdateCheckState_Yt()
{
    if (!ytOpen)
        return;
    if (gyroYt)
        ytWindow->Show_PlotDisplay("Gyro");
    else if (!accYt && !magYt)
        return;
    else
        ytWindow->Hide_PlotDisplay("Gyro");
    accYt ? ytWindow->Show_PlotDisplay("Accel") : ytWindow->Hide_PlotDisplay("Accel");
    magYt ? ytWindow->Show_PlotDisplay("Mag") : ytWindow->Hide_PlotDisplay("Mag");
}

void SensorPanel::On_UpdateCheckState_XY()
{
    if (!xyOpen)
        return;
    if (accXY)
        xyWindow->Show_PlotDisplay("Accel_XY");
    else if (!magXY)
        return;
    else
        xyWindow->Hide_PlotDisplay("Accel_XY");
    magXY ? xyWindow->Show_PlotDisplay("Mag_XY") : xyWindow->Hide_PlotDisplay("Mag_XY");
}

void SensorPanel::on_checkBox_Output_RawData_DispInXYMode_stateChanged(int) { LoadImuSettingFromGUI(); }

void SensorPanel::On_NewData_GyroRaw(quint16 fromId, float wx, float wy, float wz, double timeStamp)
{
    static const char *const curves[3] = {"GyroX", "GyroY", "GyroZ"};
    if (fromId == nodeId && ytOpen && gyroYt)
        FeedYt(ytWindow, "Gyro", curves, wx, wy, wz, timeStamp);
}

void SensorPanel::On_NewData_AccRaw(quint16 fromId, float ax, float ay, float az, double timeStamp)
{
    static const char *const curves[3] = {"AccX", "AccY", "AccZ"};
    if (fromId == nodeId && ytOpen && accYt)
        FeedYt(ytWindow, "Accel", curves, ax, ay, az, timeStamp);
}

void SensorPanel::On_NewData_MagRaw(quint16 fromId, float mx, float my, float mz, double timeStamp)
{
    static const char *const curves[3] = {"MagX", "MagY", "MagZ"};
    if (fromId == nodeId && ytOpen && magYt)
        FeedYt(ytWindow, "Mag", curves, mx, my, mz, timeStamp);
}

void SensorPanel::On_NewData_AccForXY(quint16 fromId, float ax, float ay, float az, double)
{
    static const char *const curves[3] = {"AccXY", "AccYZ", "AccXZ"};
    if (fromId == nodeId && xyOpen && accXY)
        FeedPlanes(xyWindow, "Accel_XY", curves, ax, ay, az);
}

void SensorPanel::On_NewData_MagForXY(quint16 fromId, float mx, float my, float mz, double)
{
    static const char *const curves[3] = {"MagXY", "MagYZ", "MagXZ"};
    if (fromId == nodeId && xyOpen && magXY)
        FeedPlanes(xyWindow, "Mag_XY", curves, mx, my, mz);
}

void SensorPanel::On_UpdateRPY(quint16 fromId, float roll, float pitch, float yaw)
{
    if (fromId != nodeId || !rpyOpen)
        return;
    // The dials repaint whenever their value changes; at the node's rate that would be hundreds of
    // repaints a second, so the newest angles go to them once per frame.
    rpyAngles[0] = roll;
    rpyAngles[1] = pitch;
    rpyAngles[2] = yaw;
    rpyPending = true;
    if (!displayFrameTimer->isActive())
        displayFrameTimer->start();
    // The dial lays itself out right only once it has a value: one nudge of the window's height.
    if (pendingRelayout) {
        pendingRelayout->resize(pendingRelayout->width(), pendingRelayout->height() - 1);
        pendingRelayout = nullptr;
    }
}

void SensorPanel::On_DisplayFrame()
{
    if (rpyPending && rpyOpen) {
        rpyWindow->Setvalue_AttitudeDisplay(rpyAngles[0], rpyAngles[1]);
        rpyWindow->Setvalue_CompassDisplay(rpyAngles[2]);
    }
    rpyPending = false;
}

void SensorPanel::On_UpdateAttitude(quint16 fromId, float q1, float q2, float q3, float q4)
{
    if (fromId != nodeId)
        return;
    emit Sig_Update_BoxView(q1, q2, q3, q4);
}
