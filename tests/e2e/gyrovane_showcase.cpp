// Runs the real program over the node simulator (three model generations, as ./run.sh starts them),
// opens every node and saves screenshots into the folder given as the first argument. Not a test: it
// is for looking at the result under a real X server (xvfb-run).
//
//   gyrovane_showcase DIR [maximized]   the node windows, the link panel and their states
//   gyrovane_showcase DIR calibration   the MARG bench opened from the main window, through a whole
//                                       field calibration of a node with strong soft iron (the
//                                       simulator's calibration path; about three minutes)
//   gyrovane_showcase DIR replay        a minute recorded, opened with "Open Recording...", played at
//                                       4x through the MARG bench
//   gyrovane_showcase DIR settingsfile  a node's settings saved, two changed, the file loaded again
//   gyrovane_showcase DIR screen        the main window as it opens on this screen with one node
//                                       window at its default size, then four node windows tiled
#include "darkpalette.h"
#include "gyrovane.h"
#include "messageboxcatcher.h"
#include "numberconventions.h"
#include "sensorpanel.h"
#include "shelldriver.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QComboBox>
#include <QTabWidget>
#include <QTest>
#include <QToolTip>

#include "margbench.h"
#include "motion.h"

#include <cstdio>

namespace {

QString outDir;

void Save(QWidget *widget, const QString &name)
{
    const QString path = QDir(outDir).filePath(name + ".png");
    widget->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

// The main window shown, the simulator started with these nodes and all of them listed.
bool StartScene(Gyrovane &window, ShellDriver &shell, const QVector<SimNode> &nodes, const QStringList &options)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    if (!shell.StartSimulator(nodes, options) || !shell.Scan(nodes)) {
        std::printf("showcase: %s\n", qPrintable(shell.Error()));
        return false;
    }
    return true;
}

} // namespace

// The field calibration as a user runs it: the bench opened from the main window's tool button, each
// still stage started while the simulated node holds that stage's attitude, then the sweep.
int CalibrationScene(const QTemporaryDir &runtime)
{
    Gyrovane window;
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    if (!StartScene(window, shell, {kBow},
                    {"--odr", "800", "--motion", "calibration", "--imu-errors", "typical", "--mag-soft-iron", "strong"}))
        return 1;
    double nodeSeconds = 0; // the node's clock: where it is on its path
    QObject::connect(&window, &Gyrovane::Sig_NewData_RecordRaw, &window,
                     [&nodeSeconds](quint16, double seconds) { nodeSeconds = seconds; });
    window.findChild<QPushButton *>("pushButton_MargBench")->click();
    MargBench *bench = window.Bench();
    if (!QTest::qWaitForWindowExposed(bench) || !QTest::qWaitFor([&] { return bench->ChosenNode() == kBow.id; }))
        return 1;
    bench->move(window.geometry().topRight() - QPoint(bench->width(), 0));
    auto *stageButton = bench->findChild<QPushButton *>("pushButton_FieldCalib_GoForNexStage");
    auto waitForPhase = [&](int stage, double from, double to) {
        return QTest::qWaitFor(
            [&] {
                const CalibrationPhase phase = CalibrationPathPhase(nodeSeconds);
                return phase.stage == stage && phase.into >= from && phase.into <= to;
            },
            200000);
    };
    for (int stage = 0; stage < 7; ++stage) {
        // 5000 samples at 800 Hz take 6.25 s of the 12 s the node holds still.
        if (!waitForPhase(stage, 0.5, 5.0)) {
            std::printf("showcase: the node never held stage %d\n", stage + 1);
            return 1;
        }
        stageButton->click();
        if (stage == 2)
            Save(bench, "bench-calibrating");
        if (!QTest::qWaitFor([&] { return stageButton->isEnabled(); }, 12000)) {
            std::printf("showcase: stage %d did not end: %s\n", stage + 1, qPrintable(stageButton->text()));
            return 1;
        }
    }
    if (!waitForPhase(7, 0.0, 2.0))
        return 1;
    stageButton->click();
    QTest::qWait(12000);
    Save(bench, "bench-sweep-halfway");
    if (!QTest::qWaitFor([&] { return stageButton->isEnabled(); }, 70000)) {
        std::printf("showcase: the sweep did not end\n");
        return 1;
    }
    QTest::qWait(500);
    Save(bench, "bench-sweep-done");
    std::printf("showcase: %s\n", qPrintable(stageButton->text().replace('\n', ' ')));
    // The bench's attitude stands in for the node's in its window.
    bench->findChild<QCheckBox *>("checkBox_MargSwitchIn")->setChecked(true);
    bench->findChild<QTabWidget *>("tabWidget_ChartDeck")->setCurrentIndex(0);
    QTest::qWait(3000);
    Save(bench, "bench-running");
    return 0;
}

// A minute recorded from a node, then played back through the program's own simulator at 4x with the
// MARG bench filtering it.
int ReplayScene(const QTemporaryDir &runtime)
{
    Gyrovane window;
    window.resize(1600, 1000);
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    if (!StartScene(window, shell, {kBow}, {"--odr", "100", "--motion", "breaks", "--imu-errors", "typical"}))
        return 1;
    SensorPanel *bow = shell.Open(kBow);
    if (!bow)
        return 1;
    QTest::qWait(1500);
    MessageBoxCatcher dialogs;
    const QString base = QDir(outDir).filePath("minute.txt");
    dialogs.SetFileName(base);
    bow->findChild<QPushButton *>("pushButton_Record_StartPause")->click();
    QTest::qWait(60000);
    bow->findChild<QPushButton *>("pushButton_Record_Save")->click();
    QTest::qWait(300);
    shell.StopSimulator();
    QTest::qWait(1500);

    QString rawFile = QDir(outDir).filePath("minute_RawData.txt");
    if (!window.OpenRecording(rawFile)) {
        std::printf("showcase: the recording did not open\n");
        return 1;
    }
    SensorPanel *replay = nullptr;
    if (!QTest::qWaitFor(
            [&] {
                for (SensorPanel *panel : window.findChildren<SensorPanel *>())
                    if (panel->IsReplay())
                        replay = panel;
                return replay != nullptr;
            },
            15000)) {
        std::printf("showcase: no replay window\n");
        return 1;
    }
    replay->findChild<QComboBox *>("comboBox_Replay_Speed")->setCurrentIndex(1);
    window.findChild<QPushButton *>("pushButton_MargBench")->click();
    MargBench *bench = window.Bench();
    if (!QTest::qWaitForWindowExposed(bench) || !QTest::qWaitFor([&] { return bench->ChosenNode() == 32; }, 10000))
        return 1;
    bench->findChild<QCheckBox *>("checkBox_MargSwitchIn")->setChecked(true);
    QTest::qWait(6000);
    Save(&window, "replay-4x");
    Save(bench, "replay-bench");
    window.findChild<QMdiArea *>("mdiArea")->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(replay->parentWidget()));
    Save(replay->findChild<QWidget *>("widget_ReplayBar"), "replay-bar");
    return 0;
}

// Bow's settings to a file, two of them changed on the node, and the file loaded again.
int SettingsFileScene(const QTemporaryDir &runtime)
{
    Gyrovane window;
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    if (!StartScene(window, shell, {kBow}, {"--odr", "50"}))
        return 1;
    SensorPanel *bow = shell.Open(kBow);
    if (!bow)
        return 1;
    QTest::qWait(1500);
    const QString path = QDir(outDir).filePath("bow-settings.json");
    if (!bow->SaveSettingsFile(path))
        return 1;
    Save(bow->findChild<QWidget *>("scrollAreaWidgetContents_Setting"), "settings-saved-to-file");
    bow->findChild<QCheckBox *>("checkBox_Output_Gravity")->click();
    bow->findChild<QComboBox *>("comboBox_IF_ODR")->setCurrentText("200");
    QTest::qWait(1500);
    QWidget *dialog = bow->LoadSettingsFile(path);
    if (!dialog)
        return 1;
    QTest::qWait(500);
    Save(dialog, "settings-file-differences");
    return 0;
}

// What a user sees on this screen: the main window at its own size with one node window, then four.
int ScreenScene(const QTemporaryDir &runtime)
{
    Gyrovane window;
    const SimNode fourth{35, "Keel", "31.8.2.70", "0a0b0c0d0e0f101112131415161718191a1b1c1d"};
    const QVector<SimNode> nodes{kBow, kMast, kStern, fourth};
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    if (!StartScene(window, shell, nodes, {"--odr", "50"}))
        return 1;
    SensorPanel *bow = shell.Open(kBow);
    if (!bow || !QTest::qWaitFor([&] { return bow->findChild<QWidget *>("scrollArea_Setting")->isVisible(); }, 5000))
        return 1;
    bow->findChild<QCheckBox *>("checkBox_Output_RawData")->setChecked(true);
    QTest::qWait(3000);
    Save(&window, "main-window");
    if (qEnvironmentVariableIsSet("SHOWCASE_DEBUG")) {
        auto *area = bow->findChild<QMdiArea *>("mdiArea");
        std::printf("viewport %dx%d\n", area->viewport()->width(), area->viewport()->height());
        for (QMdiSubWindow *sub : area->subWindowList())
            std::printf("%s %d,%d %dx%d min %dx%d\n", qPrintable(sub->windowTitle()), sub->x(), sub->y(), sub->width(),
                        sub->height(), sub->minimumSizeHint().width(), sub->minimumSizeHint().height());
    }
    for (const SimNode &node : nodes.mid(1))
        if (!shell.Open(node))
            return 1;
    QTest::qWait(500);
    // Four node windows want the whole screen (no window manager here to maximise).
    window.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    QTest::qWait(500);
    // The main window's own buttons (a node window has buttons of the same names).
    auto *dock = window.findChild<QWidget *>("dockWidget");
    dock->findChild<QPushButton *>("pushButton_Mdi_Arrange_TitileMode")->click();
    dock->findChild<QPushButton *>("pushButton_Mdi_Arrange_BoxMode")->click();
    QTest::qWait(3000);
    Save(&window, "four-tiled");
    if (qEnvironmentVariableIsSet("SHOWCASE_DEBUG"))
        std::printf("node window %dx%d, its minimum %dx%d\n", bow->width(), bow->height(), bow->minimumSizeHint().width(),
                    bow->minimumSizeHint().height());
    if (qEnvironmentVariableIsSet("SHOWCASE_DEBUG"))
        for (const char *name : {"widget_ConfigColumn", "mdiArea", "dockWidget_TreeView", "scrollArea_Setting",
                                 "horizontalLayout_PanelButtons", "centralwidget"}) {
            QWidget *w = bow->findChild<QWidget *>(name);
            if (w)
                std::printf("%s min %d hint %d width %d minw %d\n", name, w->minimumSizeHint().width(), w->sizeHint().width(),
                            w->width(), w->minimumWidth());
        }
    return 0;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(GyrovaneDarkPalette());
    ApplyNumberConventions();
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(outDir);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    if (argc > 2 && QByteArray(argv[2]) == "calibration")
        return CalibrationScene(runtime);
    if (argc > 2 && QByteArray(argv[2]) == "replay")
        return ReplayScene(runtime);
    if (argc > 2 && QByteArray(argv[2]) == "screen")
        return ScreenScene(runtime);
    if (argc > 2 && QByteArray(argv[2]) == "settingsfile")
        return SettingsFileScene(runtime);

    Gyrovane window;
    window.show();
    // Maximised, as a user working with node windows has it (Xvfb has no window manager to ask).
    if (argc > 2 && QByteArray(argv[2]) == "maximized")
        window.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    const QVector<SimNode> nodes{kBow, kMast, kStern};
    if (!shell.StartSimulator(nodes, {"--odr", "50"}) || !shell.Scan(nodes)) {
        std::printf("showcase: %s\n", qPrintable(shell.Error()));
        return 1;
    }
    for (const SimNode &node : nodes) {
        if (!shell.Open(node)) {
            std::printf("showcase: node %d did not open\n", node.id);
            return 1;
        }
        QTest::qWait(200);
    }
    QTest::qWait(3000);
    auto *mdi = window.findChild<QMdiArea *>("mdiArea");
    for (const SimNode &node : nodes) {
        SensorPanel *panel = shell.Window(node);
        mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(panel->parentWidget()));
        QTest::qWait(600);
        Save(&window, QString("node-%1-%2").arg(node.id).arg(node.name));
    }

    for (const SimNode &node : nodes)
        Save(shell.Window(node)->findChild<QWidget *>("scrollAreaWidgetContents_Setting"),
             QString("settings-%1-%2").arg(node.id).arg(node.name));

    // Bow's displays, all four, with the settings pane folded away; then a change that is saved, and a
    // few seconds recorded.
    SensorPanel *bow = shell.Window(kBow);
    mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(bow->parentWidget()));
    bow->findChild<QCheckBox *>("checkBox_Output_RawData_DispInXYMode")->setChecked(true);
    QTest::qWait(2500);
    Save(&window, "displays-32-Bow");
    bow->findChild<QPushButton *>("pushButton_Hide_Config_Pannel")->click();
    QTest::qWait(1500);
    Save(&window, "displays-32-Bow-wide");
    bow->findChild<QPushButton *>("pushButton_Hide_Config_Pannel")->click();
    bow->findChild<QCheckBox *>("checkBox_Output_Gravity")->setChecked(true);
    bow->findChild<QPushButton *>("pushButton_SaveSettingToFlash")->click();
    QTest::qWait(800);
    Save(bow->findChild<QWidget *>("scrollAreaWidgetContents_Setting"), "saved-32-Bow");
    MessageBoxCatcher dialogs;
    dialogs.SetFileName(QDir(outDir).filePath("recording.txt"));
    bow->findChild<QPushButton *>("pushButton_Record_StartPause")->click();
    QTest::qWait(3000);
    Save(&window, "recording-32-Bow");
    bow->findChild<QPushButton *>("pushButton_Record_Save")->click();
    QTest::qWait(300);
    Save(bow->findChild<QWidget *>("dockWidgetContents_TreeView"), "recorded-32-Bow");

    // The calibration panel during a magnetometer calibration, and the CAN panel after a read.
    bow->findChild<QPushButton *>("pushButton_OpenClose_CalibPannel")->click();
    bow->findChild<QTabWidget *>("tabWidget_SettingPannel")->setCurrentIndex(1);
    bow->findChild<QPushButton *>("pushButton_CalibCompass_Run")->click();
    QTest::qWait(1000);
    Save(&window, "calibrating-32-Bow");
    QTest::qWait(1800);
    Save(bow->findChild<QWidget *>("frame_Calibration"), "calibrated-32-Bow");
    bow->findChild<QPushButton *>("pushButton_OpenClose_CalibPannel")->click();
    bow->findChild<QPushButton *>("pushButton_OpenClose_CanPannel")->click();
    QTest::qWait(500);
    Save(&window, "can-32-Bow");
    bow->findChild<QPushButton *>("pushButton_OpenClose_SNO_ProfilePanel")->click();
    QTest::qWait(300);
    Save(bow->findChild<QWidget *>("widget_ConfigColumn"), "profile-32-Bow");
    bow->findChild<QPushButton *>("pushButton_CanPanel_ClosePanel")->click();

    Save(window.ShowManual(), "manual");
    window.ShowManual()->close();

    // A tooltip as a user sees it. Without a compositor the screen shows the tip's see-through
    // corners as black, so the tip itself is grabbed too.
    auto *save = shell.Window(kBow)->findChild<QPushButton *>("pushButton_SaveSettingToFlash");
    mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(shell.Window(kBow)->parentWidget()));
    QTest::qWait(300);
    QToolTip::showText(save->mapToGlobal(QPoint(10, 10)), save->toolTip(), save);
    QTest::qWait(500);
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->inherits("QTipLabel") && top->isVisible())
            Save(top, "tooltip");

    // A typed gain beyond the field's range: refused, said at the field.
    {
        auto *gain = shell.Window(kBow)->findChild<QAbstractSpinBox *>("doubleSpinBox_Fusion_Param_Acc");
        gain->setFocus();
        gain->selectAll();
        QTest::keyClicks(gain, "9,5");
        QTest::keyClick(gain, Qt::Key_Return);
        QTest::qWait(400);
        Save(shell.Window(kBow)->findChild<QWidget *>("widget_ConfigColumn"), "refused-gain-32-Bow");
    }

    // The simulator killed with node windows open: every window says so; then it starts again.
    shell.Simulator().Kill();
    QTest::qWait(3000);
    Save(&window, "link-lost");
    if (!shell.StartSimulator(nodes, {"--odr", "50"})) {
        std::printf("showcase: %s\n", qPrintable(shell.Error()));
        return 1;
    }
    QTest::qWait(5000);
    Save(&window, "link-back");

    // A port that cannot be opened: the link panel says why.
    auto *connectButton = window.findChild<QPushButton *>("pushButton_Connect_Disconnect");
    if (connectButton->text().contains("Disconnect")) {
        connectButton->click();
        QTest::qWait(500);
    }
    window.findChild<QComboBox *>("comboBox_Serial_PortName")->setEditText("/dev/ttyUSB7");
    connectButton->click();
    QTest::qWait(800);
    Save(window.findChild<QWidget *>("dockWidget"), "link-open-failed");

    return 0;
}
