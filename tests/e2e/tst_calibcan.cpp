#include "childwidget.h"
#include "gyrovane.h"
#include "messageboxcatcher.h"
#include "sensorpanel.h"
#include "shelldriver.h"

#include <QCheckBox>
#include <QDial>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

namespace {

QVector<QJsonObject> Received(SimulatorRunner &sim, int cmd, int node, int count = 1, int timeoutMs = 3000)
{
    return sim.WaitForLog(SimulatorRunner::Match("rx", cmd, node), count, timeoutMs);
}

} // namespace

// The calibration and CAN panels over the simulator: what reaches the node, and what comes back.
class tst_CalibCan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void calibrationCommandsOnTheWire_data();
    void calibrationCommandsOnTheWire();
    void magnetometerCalibration();
    void canPanelReadDownloadSave();
    void failedEditsSendNoSave();
    void silentNodeGivesFailureTexts();
    void closingTheProgramDuringAnExchange();

private:
    SensorPanel *OpenNode(const QStringList &extra = QStringList());

    QTemporaryDir runtime;
    Gyrovane *window = nullptr;
    ShellDriver *shell = nullptr;
    MessageBoxCatcher *boxes = nullptr;
};

void tst_CalibCan::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

void tst_CalibCan::init()
{
    boxes = new MessageBoxCatcher;
    window = new Gyrovane;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    shell = new ShellDriver(window, runtime.filePath("kinetra-ports"));
}

void tst_CalibCan::cleanup()
{
    delete shell;
    shell = nullptr;
    delete window;
    window = nullptr;
    delete boxes;
    boxes = nullptr;
}

SensorPanel *tst_CalibCan::OpenNode(const QStringList &extra)
{
    if (!shell->StartSimulator({kBow}, QStringList{"--odr", "20"} + extra) || !shell->Scan({kBow}))
        return nullptr;
    SensorPanel *panel = shell->Open(kBow);
    if (!panel ||
        !QTest::qWaitFor([&] { return Child<QScrollArea>(panel, "scrollArea_Setting")->isVisible(); }, 5000))
        return nullptr;
    return panel;
}

void tst_CalibCan::calibrationCommandsOnTheWire_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("prepare");
    QTest::addColumn<QList<int>>("command"); // type, ctrl, code, value1, value2

    QTest::newRow("boot") << "on_pushButton_Run_CalibW_Only_clicked"
                          << "" << QList<int>{4, 2, 0xAA35, 0, 0};
    QTest::newRow("static start, automatic confidence") << "on_pushButton_CalibForce_Run_clicked"
                                                        << "limit 0.29" << QList<int>{5, 3, 0xAA65, 29, 0};
    QTest::newRow("static start, confidence by hand") << "on_pushButton_CalibForce_Run_clicked"
                                                      << "manual 80" << QList<int>{5, 3, 0xAA65, 50, 8000};
    QTest::newRow("static finish") << "on_pushButton_CalibForce_Finish_clicked"
                                   << "" << QList<int>{5, 4, 0xAA65, 0, 0};
    QTest::newRow("static revoke") << "on_pushButton_CalibForce_Revoke_clicked"
                                   << "" << QList<int>{5, 1, 0xAA65, 0, 0};
    QTest::newRow("compass, kept in flash") << "on_pushButton_CalibCompass_Run_clicked"
                                            << "" << QList<int>{3, 2, 0xAA32, 0, 0};
    QTest::newRow("compass revoke, not kept") << "on_pushButton_CalibCompass_Revoke_clicked"
                                              << "no flash" << QList<int>{3, 8, 0xAA32, 0, 0};
    QTest::newRow("compass revoke, kept") << "on_pushButton_CalibCompass_Revoke_clicked"
                                          << "" << QList<int>{3, 9, 0xAA32, 0, 0};
    QTest::newRow("heading fix, predicted") << "on_pushButton_CalibCompass_QuickHeadingFix_Start_clicked"
                                            << "" << QList<int>{3, 10, 0xAA32, 90000, 10001};
    QTest::newRow("heading fix, not predicted") << "on_pushButton_CalibCompass_QuickHeadingFix_Start_clicked"
                                                << "no prediction" << QList<int>{3, 10, 0xAA32, 90000, 0};
    QTest::newRow("heading fix finish") << "on_pushButton_CalibCompass_QuickHeadingFix_Finish_clicked"
                                        << "" << QList<int>{3, 11, 0xAA32, 0, 0};
    QTest::newRow("one-click heading 90.5") << "on_pushButton_CalibCompass_QuickHeadingFix_OneClick_clicked"
                                            << "heading 90.5" << QList<int>{3, 12, 0xAA32, 90500, 0};
    QTest::newRow("thermal sample") << "on_pushButton_Run_CalibT_New_clicked"
                                    << "" << QList<int>{2, 1, 0xAA05, 0, 0};
    QTest::newRow("thermal clear") << "on_pushButton_Run_CalibT_ClearAll_clicked"
                                   << "" << QList<int>{2, 3, 0xAA05, 0, 0};
    QTest::newRow("thermal save") << "on_pushButton_Run_CalibT_Save_clicked"
                                  << "" << QList<int>{2, 4, 0xAA05, 0, 0};
}

void tst_CalibCan::calibrationCommandsOnTheWire()
{
    QFETCH(QString, slot);
    QFETCH(QString, prepare);
    QFETCH(QList<int>, command);
    SensorPanel *panel = OpenNode();
    QVERIFY2(panel, qPrintable(shell->Error()));
    if (prepare == "limit 0.29")
        Child<QDoubleSpinBox>(panel, "doubleSpinBox_CalibForce_Limits")->setValue(0.29);
    if (prepare == "manual 80") {
        Child<QDial>(panel, "dial_CalibForce_Confidence_AutoOrManual")->setValue(1);
        Child<QSpinBox>(panel, "spinBox_CalibForce_Confidence")->setValue(80);
    }
    if (prepare == "no flash")
        Child<QCheckBox>(panel, "checkBox_CalibCompass_SaveToFlash")->setChecked(false);
    if (prepare == "no prediction")
        Child<QCheckBox>(panel, "checkBox_CalibCompass_UpdateGyroZError")->setChecked(false);
    if (prepare == "heading 90.5")
        Child<QDoubleSpinBox>(panel, "doubleSpinBox_CalibCompass_OneClickFix")->setValue(90.5);
    QVERIFY(QMetaObject::invokeMethod(panel, qPrintable(slot)));

    const QVector<QJsonObject> sent = Received(shell->Simulator(), NP_CMD_CALIB_, kBow.id);
    QCOMPARE(sent.size(), 1);
    const QJsonObject &c = sent[0];
    QCOMPARE(
        (QList<int>{c.value("calibType").toInt(), c.value("calibCmd").toInt(), c.value("calibCode").toInt(),
                    c.value("calibValue1").toInt(), c.value("calibValue2").toInt()}),
        command);
    QCOMPARE(c.value("to").toInt(), kBow.id);
}

void tst_CalibCan::magnetometerCalibration()
{
    SensorPanel *panel = OpenNode();
    QVERIFY2(panel, qPrintable(shell->Error()));
    auto *progress = Child<QProgressBar>(panel, "progressBar_CalibCompas");
    Child<QPushButton>(panel, "pushButton_CalibCompass_Run")->click();
    QCOMPARE(Child<QLabel>(panel, "label_Calib_Status")->text(),
             QString("Magnetometer Calib: processing..."));
    // The node reports its progress while the user turns it, then its result.
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0 && progress->value() < 100, 3000);
    QCOMPARE(Child<QLabel>(panel, "label_Calib_Status")->text(),
             QString("Magnetometer Calib: processing..."));
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>(panel, "label_Calib_Status")->text(),
                              QString("Compass Calib: <font color='#33a0c4'>Operation Successful.</font>"),
                              5000);
    QCOMPARE(progress->value(), 100);
    QVERIFY(Child<QPushButton>(panel, "pushButton_CalibCompass_Run")->isEnabled());
}

void tst_CalibCan::canPanelReadDownloadSave()
{
    SensorPanel *panel = OpenNode();
    QVERIFY2(panel, qPrintable(shell->Error()));
    Child<QPushButton>(panel, "pushButton_OpenClose_CanPannel")->click();
    auto *status = Child<QLabel>(panel, "label_NSO_Panel_Status");
    QCOMPARE(status->text(), QString("[OK] Read Kinetra Setting successful."));
    // The simulator's defaults for node 32: NSO 0x600 + id, process channel 1 on.
    QCOMPARE(Child<QSpinBox>(panel, "spinBox_CanPanel_NSO_Addr_Download")->value(), 0x620);
    QVERIFY(Child<QCheckBox>(panel, "checkBox_CanPanel_En_NPO_CH1")->isChecked());

    Child<QCheckBox>(panel, "checkBox_CanPanel_En_NPO_CH3")->click();
    QVector<QJsonObject> writes;
    for (const QJsonObject &o : Received(shell->Simulator(), NP_CMD_NSO_, kBow.id, 14))
        if (o.value("nsoCmd").toInt() == 0x22)
            writes << o;
    QCOMPARE(writes.size(), 1);
    QCOMPARE(writes[0].value("nsoIndex").toInt(), 0x2021);
    QCOMPARE(writes[0].value("nsoValue").toInt(), 0x0F | (1 << 5));
    QCOMPARE(writes[0].value("from").toInt(), NP_ID_HOST_NSO_);

    // An address edit waits for "Apply New Addresses"; Save sends it first, then the save itself.
    Child<QSpinBox>(panel, "spinBox__CanPanel_NPO_CH2_Addr_Upload")->setValue(0x2AB);
    QVERIFY(!Child<QPushButton>(panel, "pushButton_CanPanel_NSO_Addr_ApplyChanges")->isHidden());
    auto *save = Child<QPushButton>(panel, "pushButton_CanPanel_SaveSetting");
    save->click();
    QVERIFY(Child<QPushButton>(panel, "pushButton_CanPanel_NSO_Addr_ApplyChanges")->isHidden());
    QVERIFY(!save->isEnabled());
    QCOMPARE(save->text(), QString::fromUtf8("💾 Save CAN Setting"));
    QCOMPARE(status->text(),
             QString("[OK] CAN settings saved (to Kinetra Non-volatile Memory) successfully."));
    const QVector<QJsonObject> all = Received(shell->Simulator(), NP_CMD_NSO_, kBow.id, 25);
    QCOMPARE(all.size(), 13 + 1 + 10 + 1);
    QCOMPARE(all[13 + 1 + 2 + 3].value("nsoValue").toInt(), 0x2AB); // 0x2024 / 3, after both NSO ids
    QCOMPARE(all.last().value("nsoIndex").toInt(), 0x23A4);
    QCOMPARE(all.last().value("nsoSubIndex").toInt(), 0x79);
    QCOMPARE(all.last().value("nsoValue").toInt(), 3);

    // Reboot: one request, no wait.
    Child<QPushButton>(panel, "pushButton_NSO_Panel_Reboot")->click();
    QCOMPARE(status->text(), QString("[INFO] Reboot command sent to Kinetra"));
    QTRY_COMPARE_WITH_TIMEOUT(Received(shell->Simulator(), NP_CMD_NSO_, kBow.id, 26).size(), 26, 3000);
    QCOMPARE(Received(shell->Simulator(), NP_CMD_NSO_, kBow.id, 26).last().value("nsoSubIndex").toInt(),
             0x6A);
}

void tst_CalibCan::failedEditsSendNoSave()
{
    // The node refuses every process-object address: the download fails at the first refusal, says
    // so (not a time-out), and nothing is saved.
    SensorPanel *panel = OpenNode({"--refuse-nso", "0x2024"});
    QVERIFY2(panel, qPrintable(shell->Error()));
    Child<QPushButton>(panel, "pushButton_OpenClose_CanPannel")->click();
    Child<QCheckBox>(panel, "checkBox_CanPanel_En_NPO_CH2")->click(); // something to save
    Child<QSpinBox>(panel, "spinBox_CanPanel_NPO_CH1_Addr_Download")->setValue(0x300);
    const int before = Received(shell->Simulator(), NP_CMD_NSO_, kBow.id, 0).size();
    Child<QPushButton>(panel, "pushButton_CanPanel_SaveSetting")->click();
    QCOMPARE(Child<QLabel>(panel, "label_NSO_Panel_Status")->text(),
             QString("[ERROR] Kinetra refused the value 768 for object 0x2024 sub-index 0x00 (code 0x06090030)."));
    QCOMPARE(Child<QPushButton>(panel, "pushButton_CanPanel_SaveSetting")->text(),
             QString("[!] Save Setting Failed. Click to Try Again."));
    // The two service-object ids, then the first process-object id once: no resends.
    QCOMPARE(Received(shell->Simulator(), NP_CMD_NSO_, kBow.id, before + 3).size(), before + 3);
    for (const QJsonObject &o : shell->Simulator().LogRecords())
        QVERIFY(!(o.value("cmd").toInt() == NP_CMD_NSO_ && o.value("nsoIndex").toInt() == 0x23A4));
    QVERIFY(!Child<QPushButton>(panel, "pushButton_CanPanel_NSO_Addr_ApplyChanges")->isHidden());
}

void tst_CalibCan::silentNodeGivesFailureTexts()
{
    // A node that never answers its service object.
    SensorPanel *panel = OpenNode({"--mute", "26"});
    QVERIFY2(panel, qPrintable(shell->Error()));
    Child<QPushButton>(panel, "pushButton_OpenClose_CanPannel")->click();
    QCOMPARE(boxes->Texts(), QStringList{"Read Settings failed. Please check connections."});
    QCOMPARE(Received(shell->Simulator(), NP_CMD_NSO_, kBow.id, 4).size(), 4);
    QVERIFY(Child<QStackedWidget>(panel, "stackedWidget_NSO")->isHidden());
}

void tst_CalibCan::closingTheProgramDuringAnExchange()
{
    SensorPanel *panel = OpenNode({"--mute", "26"});
    QVERIFY2(panel, qPrintable(shell->Error()));
    QPointer<SensorPanel> watched = panel;
    QTimer::singleShot(500, window, [this] { window->close(); });
    Child<QPushButton>(panel, "pushButton_OpenClose_CanPannel")->click();
    // The read gave up at once, the window closed after it.
    QTRY_VERIFY(watched.isNull());
    QVERIFY(window->NodeWindows().isEmpty());
}

QTEST_MAIN(tst_CalibCan)
#include "tst_calibcan.moc"
