// Runs the real program over the node simulator (three model generations, as ./run.sh starts them),
// opens every node and saves screenshots into the folder given as the first argument. Not a test: it
// is for looking at the result under a real X server (xvfb-run).
#include "darkpalette.h"
#include "gyrovane.h"
#include "messageboxcatcher.h"
#include "sensorpanel.h"
#include "shelldriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTabWidget>
#include <QTest>
#include <QToolTip>

#include <cstdio>

namespace {

QString outDir;

void Save(QWidget *widget, const QString &name)
{
    const QString path = QDir(outDir).filePath(name + ".png");
    widget->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(GyrovaneDarkPalette());
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(outDir);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

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
    return 0;
}
