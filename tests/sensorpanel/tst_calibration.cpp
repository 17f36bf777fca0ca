#include "childwidget.h"
#include "sensorpanel.h"

#include <QCheckBox>
#include <QDial>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

namespace {

const quint16 kNode = 40;

Np_Calib Answer(quint16 fromId, uchar type, uchar result, quint16 code = 0)
{
    Np_Calib answer{};
    answer.header = Np_Header::Make(NP_CMD_CALIB_, fromId, NP_ID_HOST_);
    answer.calibType = type;
    answer.calibCmd = result;
    answer.calibCode = code;
    return answer;
}

// The calibration timer: the panel's only single-shot timer of 700, 2000 or 20000 ms.
bool CalibrationWaits(SensorPanel *panel)
{
    for (QTimer *timer : panel->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
        if (timer->isSingleShot() && timer->isActive() &&
            (timer->interval() == 700 || timer->interval() == 2000 || timer->interval() == 20000))
            return true;
    return false;
}

} // namespace

// The calibration panel's answers, time-outs and controls; the commands themselves are checked on
// the wire by the end-to-end test.
class tst_Calibration : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answers_data();
    void answers();
    void otherNodesAnswersAreIgnored();
    void magnetometerProgressOnlyMovesTheBar();
    void timeOutTextByFirmware_data();
    void timeOutTextByFirmware();
    void controlCouplings();
    void manualThermalPanelUnlocksAfterItsClicks();

private:
    QLabel *Status() { return Child<QLabel>(panel, "label_Calib_Status"); }
    QPushButton *Button(const char *name) { return Child<QPushButton>(panel, name); }

    SensorPanel *panel = nullptr;
};

void tst_Calibration::init()
{
    panel = new SensorPanel(kNode);
    panel->Set_NodeFirmwareVersion(318, 70);
}

void tst_Calibration::cleanup()
{
    delete panel;
    panel = nullptr;
}

void tst_Calibration::answers_data()
{
    QTest::addColumn<QString>("button"); // pressed before the answer
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("enabled");

    const QString blue = "<font color='#33a0c4'>", red = "<font color='red'>";
    QTest::newRow("thermal cleared") << "" << 18 << 5
                                     << "Thermal Calib:" + blue + " Clear-RAM Successful.</font>"
                                     << QStringList{};
    QTest::newRow("thermal done") << "" << 18 << 1
                                  << "Thermal Calib:" + blue + " Operation Successful.</font>"
                                  << QStringList{};
    QTest::newRow("thermal failed") << "" << 18 << 2 << "Thermal Calib:" + red + " Operation Failed.</font>"
                                    << QStringList{};
    QTest::newRow("compass done") << "pushButton_CalibCompass_Run" << 19 << 1
                                  << "Compass Calib: " + blue + "Operation Successful.</font>"
                                  << QStringList{"pushButton_CalibCompass_Run",
                                                 "groupBox_CalibCompass_QuickHeadingFix_Auto"};
    QTest::newRow("compass failed") << "pushButton_CalibCompass_Run" << 19 << 3
                                    << "Compass Calib: " + red + "Operation Failed.</font>"
                                    << QStringList{"groupBox_CalibCompass_QuickHeadingFix_Manual"};
    QTest::newRow("boot done") << "pushButton_Run_CalibW_Only" << 20 << 1
                               << "Boot Calib: " + blue + "Successful.</font>"
                               << QStringList{"pushButton_Run_CalibW_Only", "tabWidget_SettingPannel"};
    QTest::newRow("boot failed") << "pushButton_Run_CalibW_Only" << 20 << 2
                                 << "Boot Calib: " + red + "Operation Failed.</font>"
                                 << QStringList{"tabWidget_SettingPannel"};
    QTest::newRow("static in progress")
        << "pushButton_CalibForce_Run" << 21 << 0 << "Run-time Static Calib: Processing..." << QStringList{};
    QTest::newRow("static done") << "pushButton_CalibForce_Run" << 21 << 1
                                 << "Run-time Static Calib: " + blue + "Successful.</font>"
                                 << QStringList{"pushButton_CalibForce_Run", "pushButton_CalibForce_Finish"};
    QTest::newRow("static revoked") << "pushButton_CalibForce_Revoke" << 21 << 5
                                    << "Run-time Static Calib: " + blue + "Revoke Successful.</font>"
                                    << QStringList{"pushButton_CalibForce_Revoke"};
    QTest::newRow("static failed") << "pushButton_CalibForce_Revoke" << 21 << 2
                                   << "Run-time Static Calib:" + red + " Operation Failed.</font>"
                                   << QStringList{"pushButton_CalibForce_Run",
                                                  "pushButton_CalibForce_Revoke"};
}

void tst_Calibration::answers()
{
    QFETCH(QString, button);
    QFETCH(int, type);
    QFETCH(int, result);
    QFETCH(QString, status);
    QFETCH(QStringList, enabled);

    if (!button.isEmpty()) {
        Button(qPrintable(button))->click();
        QVERIFY(!Button(qPrintable(button))->isEnabled());
    }
    panel->On_NewCalibCmd(kNode, Answer(kNode, uchar(type), uchar(result)));
    QCOMPARE(Status()->text(), status);
    for (const QString &name : enabled)
        QVERIFY2(Child<QWidget>(panel, qPrintable(name))->isEnabled(), qPrintable(name));
    // An answer ends the wait: no time-out follows.
    QVERIFY(!CalibrationWaits(panel));
}

void tst_Calibration::otherNodesAnswersAreIgnored()
{
    Button("pushButton_Run_CalibW_Only")->click();
    panel->On_NewCalibCmd(kNode + 1, Answer(kNode + 1, 20, 1));
    QCOMPARE(Status()->text(), QString("Boot Calib: processing..."));
    QVERIFY(!Child<QTabWidget>(panel, "tabWidget_SettingPannel")->isEnabled());
    panel->On_NewCalibCmd(kNode, Answer(kNode, 20, 1));
    QVERIFY(Child<QTabWidget>(panel, "tabWidget_SettingPannel")->isEnabled());
    // Answer types that are no answers are not ours to handle.
    panel->On_NewCalibCmd(kNode, Answer(kNode, 4, 1));
    QCOMPARE(Status()->text(), QString("Boot Calib: <font color='#33a0c4'>Successful.</font>"));
}

void tst_Calibration::magnetometerProgressOnlyMovesTheBar()
{
    Button("pushButton_CalibCompass_Run")->click();
    QVERIFY(!Button("pushButton_CalibCompass_Run")->isEnabled());
    const QString status = Status()->text();
    panel->On_NewCalibCmd(kNode, Answer(kNode, 19, 0, 40));
    QCOMPARE(Child<QProgressBar>(panel, "progressBar_CalibCompas")->value(), 40);
    QCOMPARE(Status()->text(), status);
    QVERIFY(!Button("pushButton_CalibCompass_Run")->isEnabled());
    panel->On_NewCalibCmd(kNode, Answer(kNode, 19, 1));
    QCOMPARE(Child<QProgressBar>(panel, "progressBar_CalibCompas")->value(), 100);
    QVERIFY(Child<QLabel>(panel, "label_CalibCompass_Status")->text().isEmpty());
}

void tst_Calibration::timeOutTextByFirmware_data()
{
    QTest::addColumn<int>("firmware");
    QTest::addColumn<QString>("status");
    QTest::newRow("answers from 44 on") << 45 << "Calibration: <font color='red'> Timeout. Try again.</font>";
    QTest::newRow("no answers before 44")
        << 43 << "Calibration: should be <font color='#33a0c4'>completed</font> by now.";
}

void tst_Calibration::timeOutTextByFirmware()
{
    QFETCH(int, firmware);
    QFETCH(QString, status);
    delete panel;
    panel = new SensorPanel(kNode);
    panel->Set_NodeFirmwareVersion(firmware, 0);
    Button("pushButton_Run_CalibW_Only")->click();
    QVERIFY(!ExplicitlyHidden(Child<QProgressBar>(panel, "progressBar_Run_CalibW_Only")));
    // The boot calibration's 20 s run out, as the calibration timer would have it.
    QVERIFY(QMetaObject::invokeMethod(panel, "On_TimerISR_Calib"));
    QCOMPARE(Status()->text(), status);
    QVERIFY(Button("pushButton_Run_CalibW_Only")->isEnabled());
    QVERIFY(Child<QTabWidget>(panel, "tabWidget_SettingPannel")->isEnabled());
    QVERIFY(ExplicitlyHidden(Child<QProgressBar>(panel, "progressBar_Run_CalibW_Only")));
}

void tst_Calibration::controlCouplings()
{
    // Confidence by hand enables its dial, spin box and label.
    auto *manual = Child<QDial>(panel, "dial_CalibForce_Confidence_AutoOrManual");
    QVERIFY(!Child<QWidget>(panel, "spinBox_CalibForce_Confidence")->isEnabled());
    manual->setValue(1);
    QVERIFY(Child<QWidget>(panel, "spinBox_CalibForce_Confidence")->isEnabled());
    QVERIFY(Child<QWidget>(panel, "label_CalibForce_Confidence")->isEnabled());
    manual->setValue(0);
    QVERIFY(!Child<QWidget>(panel, "dial_CalibForce_Confidence")->isEnabled());

    // Limits: the dial in hundredths of the spin box's degrees per second.
    Child<QDial>(panel, "dial_CalibForce_Limits")->setValue(123);
    QCOMPARE(Child<QDoubleSpinBox>(panel, "doubleSpinBox_CalibForce_Limits")->value(), 1.23);
    Child<QDoubleSpinBox>(panel, "doubleSpinBox_CalibForce_Limits")->setValue(0.29);
    QCOMPARE(Child<QDial>(panel, "dial_CalibForce_Limits")->value(), 29);

    // The one-click dial carries the heading turned by half a turn.
    auto *oneClickDial = Child<QDial>(panel, "dial_CalibCompass_OneClickFix");
    auto *heading = Child<QDoubleSpinBox>(panel, "doubleSpinBox_CalibCompass_OneClickFix");
    oneClickDial->setValue(270);
    QCOMPARE(heading->value(), 90.0);
    oneClickDial->setValue(90);
    QCOMPARE(heading->value(), 270.0);
    heading->setValue(200.5);
    QCOMPARE(oneClickDial->value(), 20);

    // Gyro error prediction switches the confidence settings with it.
    auto *predict = Child<QCheckBox>(panel, "checkBox_CalibCompass_UpdateGyroZError");
    predict->setChecked(false);
    QVERIFY(!Child<QGroupBox>(panel, "groupBox_CalibCompass_QuickHeadingFix_ConfidenceSetting")->isEnabled());
    predict->setChecked(true);
    QVERIFY(Child<QGroupBox>(panel, "groupBox_CalibCompass_QuickHeadingFix_ConfidenceSetting")->isEnabled());
}

void tst_Calibration::manualThermalPanelUnlocksAfterItsClicks()
{
    // The count is shared by every window: six clicks here, seven in another, then one more.
    SensorPanel other(kNode + 1);
    other.Set_NodeFirmwareVersion(45, 0);
    auto *tool = Child<QToolButton>(panel, "toolButton_CalibT_ManualPanel");
    auto *otherTool = Child<QToolButton>(&other, "toolButton_CalibT_ManualPanel");
    for (int i = 0; i < 6; ++i)
        tool->click();
    for (int i = 0; i < 7; ++i)
        otherTool->click();
    QVERIFY(ExplicitlyHidden(Button("pushButton_Run_CalibT_New")));
    QVERIFY(ExplicitlyHidden(Child<QPushButton>(&other, "pushButton_Run_CalibT_Save")));
    QCOMPARE(Child<QGroupBox>(&other, "groupBox_CalibT_ManualPanel")->title(),
             QString("Thermal Calibration"));

    otherTool->click(); // the fourteenth
    QVERIFY(!ExplicitlyHidden(Child<QPushButton>(&other, "pushButton_Run_CalibT_Save")));
    QVERIFY(Child<QPushButton>(&other, "pushButton_Run_CalibT_ClearAll")->isEnabled());
    QVERIFY(!ExplicitlyHidden(Child<QWidget>(&other, "label_CalibT_ManualPanel_Notes")));
    QCOMPARE(Child<QGroupBox>(&other, "groupBox_CalibT_ManualPanel")->title(), QString("Manual Panel"));
    // From now on every click in any window reveals them.
    tool->click();
    QVERIFY(!ExplicitlyHidden(Button("pushButton_Run_CalibT_New")));
    QVERIFY(Button("pushButton_Run_CalibT_New")->isEnabled());
}

QTEST_MAIN(tst_Calibration)
#include "tst_calibration.moc"
