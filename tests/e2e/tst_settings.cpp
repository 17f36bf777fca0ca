#include "childwidget.h"
#include "gyrovane.h"
#include "messageboxcatcher.h"
#include "sensorpanel.h"
#include "settingsmapping.h"
#include "shelldriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QDial>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const quint32 kReliableWrite = 1u << 17;
const quint32 kSaveToFlash = 1u << 18;

// The settings writes a node received from the host, oldest first.
QVector<QJsonObject> Writes(SimulatorRunner &sim, int node, int count, int timeoutMs = 4000)
{
    return sim.WaitForLog(
        [node](const QJsonObject &o) {
            return o.value("dir").toString() == "rx" && o.value("cmd").toInt() == NP_CMD_SETTING &&
                   o.value("node").toInt() == node && o.value("to").toInt() == node;
        },
        count, timeoutMs);
}

quint32 Word(const QJsonObject &write) { return quint32(write.value("settingsWord").toDouble()); }

} // namespace

// The settings panel over the simulator: what a change, a save and the defaults put on the wire,
// and whether the node confirmed it.
class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void widgetsReachTheNodeExactly();
    void saveAsksAboutASmallGain_data();
    void saveAsksAboutASmallGain();
    void defaultsByModelAndScenario_data();
    void defaultsByModelAndScenario();
    void legacyNodeGetsNoRateAndCrcChecksum();
    void unacknowledgedWriteIsShown();
    void settingsFileWritesOnlyWhatDiffers();
    void unusableSettingsFilesSendNothing();
    void applySettingsFromTheCommandLine();

private:
    SensorPanel *OpenNode(const SimNode &node, const QStringList &extra = QStringList());

    QTemporaryDir runtime;
    Gyrovane *window = nullptr;
    ShellDriver *shell = nullptr;
    MessageBoxCatcher *boxes = nullptr;
};

void tst_Settings::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

void tst_Settings::init()
{
    boxes = new MessageBoxCatcher;
    window = new Gyrovane;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    shell = new ShellDriver(window, runtime.filePath("kinetra-ports"));
}

void tst_Settings::cleanup()
{
    delete shell;
    shell = nullptr;
    delete window;
    window = nullptr;
    delete boxes;
    boxes = nullptr;
}

SensorPanel *tst_Settings::OpenNode(const SimNode &node, const QStringList &extra)
{
    if (!shell->StartSimulator({node}, QStringList{"--odr", "50"} + extra) || !shell->Scan({node}))
        return nullptr;
    SensorPanel *panel = shell->Open(node);
    if (!panel ||
        !QTest::qWaitFor([&] { return Child<QScrollArea>(panel, "scrollArea_Setting")->isVisible(); }, 5000))
        return nullptr;
    return panel;
}

void tst_Settings::widgetsReachTheNodeExactly()
{
    SensorPanel *panel = OpenNode(kBow);
    QVERIFY2(panel, qPrintable(shell->Error()));
    // Loaded from the node: nothing written back.
    QTest::qWait(300);
    QCOMPARE(Writes(shell->Simulator(), kBow.id, 1, 0).size(), 0);

    Child<QCheckBox>(panel, "checkBox_Output_Gravity")->click();
    Child<QRadioButton>(panel, "radioButton_BootMode_DynamicBoot")->click();
    Child<QComboBox>(panel, "comboBox_IF_ODR")->setCurrentText("200");
    Child<QDoubleSpinBox>(panel, "doubleSpinBox_Fusion_Param_Mag")->setValue(2.3);
    // Quick changes may be merged; the newest always arrives, and is acknowledged.
    QTRY_COMPARE_WITH_TIMEOUT(Writes(shell->Simulator(), kBow.id, 1).last().value("fusionParamMag").toInt(),
                              230, 4000);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>(panel, "label_Settings_WriteStatus")->text(),
                              QString("Settings acknowledged by the node."), 4000);

    // The newest write holds every widget, bit by bit and field by field.
    const QJsonObject write = Writes(shell->Simulator(), kBow.id, 1).last();
    const quint32 word = Word(write);
    for (int i = 0; i < SettingsMapping::kCheckBoxBitCount; ++i) {
        const auto &entry = SettingsMapping::kCheckBoxBits[i];
        QCOMPARE(bool(word & (1u << entry.bit)), Child<QCheckBox>(panel, entry.objectName)->isChecked());
    }
    QVERIFY(word & (1u << 12));      // gravity
    QCOMPARE((word >> 24) & 3u, 2u); // dynamic boot
    QCOMPARE((word >> 14) & 7u, 2u); // CRC
    QVERIFY(word & (1u << 13));      // binary
    QVERIFY(word & kReliableWrite);  // set by the link
    QVERIFY(!(word & kSaveToFlash) && !(word & (1u << 26)));
    QCOMPARE(write.value("odr").toInt(), 200);
    QCOMPARE(write.value("fusionParamMag").toInt(), 230);
    QCOMPARE(write.value("fusionParamAcc").toInt(), 210);
    QCOMPARE(write.value("uart2Baud").toInt(), 1152);
    QCOMPARE(write.value("can1Bitrate").toInt(), 10000);
    QCOMPARE(write.value("silentTime").toInt(), Child<QSpinBox>(panel, "spinBox_IF_SilentTime")->value());
    QCOMPARE(write.value("inhibitTime").toInt(), 10);

    // A dial turned in one sweep sends far more records than the link takes; the node ends with the
    // value the dial stopped at.
    auto *dial = Child<QDial>(panel, "dial_Fusion_Param_Acc");
    for (int v = 211; v <= 300; ++v)
        dial->setValue(v);
    QTRY_COMPARE_WITH_TIMEOUT(Writes(shell->Simulator(), kBow.id, 1).last().value("fusionParamAcc").toInt(),
                              300, 4000);
    QTest::qWait(300);
    QCOMPARE(Writes(shell->Simulator(), kBow.id, 1).last().value("fusionParamAcc").toInt(), 300);

    // The save button: amber after a change, black once saved.
    auto *save = Child<QPushButton>(panel, "pushButton_SaveSettingToFlash");
    QVERIFY(save->isEnabled());
    QCOMPARE(save->styleSheet(), QString("background-color: #836302"));
}

void tst_Settings::saveAsksAboutASmallGain_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("savedGain");
    QTest::newRow("OK corrects the gain") << int(QMessageBox::Ok) << 210;
    QTest::newRow("Cancel keeps it") << int(QMessageBox::Cancel) << 150;
}

void tst_Settings::saveAsksAboutASmallGain()
{
    QFETCH(int, answer);
    QFETCH(int, savedGain);
    SensorPanel *panel = OpenNode(kBow);
    QVERIFY2(panel, qPrintable(shell->Error()));
    Child<QDoubleSpinBox>(panel, "doubleSpinBox_Fusion_Param_Acc")->setValue(1.5);
    QVERIFY(Writes(shell->Simulator(), kBow.id, 1).size() == 1);

    boxes->SetAnswer(QMessageBox::StandardButton(answer));
    auto *save = Child<QPushButton>(panel, "pushButton_SaveSettingToFlash");
    save->click();
    QCOMPARE(boxes->Count(), 1);
    QCOMPARE(boxes->Last().text, QString("Gain for accelerometer is too small"));
    QCOMPARE(
        boxes->Last().informativeText,
        QString("It is strongly recommended to set to at least 2.00 and preferably larger than 2.05 when "
                "GyroErrFilter is enabled.\n\nClick OK to correct the value.\nClick CANCEL if it is on "
                "pupose."));
    QVERIFY(!save->isEnabled());
    QCOMPARE(save->styleSheet(), QString("background-color: black"));

    // Exactly one write asks the node to keep its settings, and it carries the gain as answered. The
    // wait is for that write in the node's log (the status line said "acknowledged" already after the
    // gain's own write), then for its acknowledgement.
    auto saves = [&] {
        QVector<QJsonObject> found;
        for (const QJsonObject &write : Writes(shell->Simulator(), kBow.id, 1))
            if (Word(write) & kSaveToFlash)
                found << write;
        return found;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!saves().isEmpty(), 4000);
    auto ackedAfterSave = [&] {
        bool saveSeen = false;
        for (const QJsonObject &o : shell->Simulator().LogRecords()) {
            if (o.value("dir").toString() == "rx" && o.value("cmd").toInt() == NP_CMD_SETTING &&
                (Word(o) & kSaveToFlash))
                saveSeen = true;
            else if (saveSeen && o.value("dir").toString() == "tx" && o.value("cmd").toInt() == NP_CMD_ACK_)
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(ackedAfterSave(), 4000);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>(panel, "label_Settings_WriteStatus")->text(),
                              QString("Settings saved in the node's flash memory."), 4000);
    const QVector<QJsonObject> saved = saves();
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved[0].value("fusionParamAcc").toInt(), savedGain);

    // The next change goes out without the save flag.
    Child<QCheckBox>(panel, "checkBox_Output_Gravity")->click();
    QTRY_VERIFY(!(Word(Writes(shell->Simulator(), kBow.id, 1).last()) & kSaveToFlash) &&
                Word(Writes(shell->Simulator(), kBow.id, 1).last()) & (1u << 12));
}

void tst_Settings::defaultsByModelAndScenario_data()
{
    QTest::addColumn<int>("scenario"); // -1: no dialog
    QTest::addColumn<bool>("errorFilter");
    QTest::addColumn<int>("bootMode");
    QTest::addColumn<int>("accGain");
    QTest::newRow("ground vehicle") << 0 << true << 1 << 208;
    QTest::newRow("flying vehicle") << 1 << true << 2 << 290;
    QTest::newRow("marine") << 2 << true << 2 << 400;
    QTest::newRow("strong vibration") << 3 << true << 0 << 280;
    QTest::newRow("no strong vibration") << 4 << true << 0 << 210;
    QTest::newRow("legacy compatible") << 5 << false << 0 << 100;
}

void tst_Settings::defaultsByModelAndScenario()
{
    QFETCH(int, scenario);
    QFETCH(bool, errorFilter);
    QFETCH(int, bootMode);
    QFETCH(int, accGain);
    SensorPanel *panel = OpenNode(kBow);
    QVERIFY2(panel, qPrintable(shell->Error()));
    boxes->SetItem(scenario);
    Child<QCommandLinkButton>(panel, "commandLinkButton_UseDefaultSetting")->click();
    QCOMPARE(boxes->Count(), 1);
    QCOMPARE(boxes->Last().title, QString("Use Default Setting"));
    QVERIFY(boxes->Last().informativeText.startsWith("\nPlease select the Application Scenario\nfor optimum "
                                                     "performance:"));

    const QJsonObject write = Writes(shell->Simulator(), kBow.id, 1).last();
    const quint32 word = Word(write);
    QCOMPARE(bool(word & (1u << 3)), errorFilter);
    QCOMPARE(int((word >> 24) & 3u), bootMode);
    QCOMPARE(write.value("fusionParamAcc").toInt(), accGain);
    // The base defaults: gyro and accelerometer, raw data and roll/pitch/yaw, UART 1, binary, CRC.
    QCOMPARE(word & 0x3FFFu & ~(1u << 3),
             (1u << 0) | (1u << 1) | (1u << 4) | (1u << 6) | (1u << 11) | (1u << 13));
    QVERIFY(word & (1u << 19));
    QVERIFY(!(word & ((1u << 20) | (1u << 21) | (1u << 27) | kSaveToFlash)));
    QCOMPARE(write.value("odr").toInt(), 50);
    QCOMPARE(write.value("fusionParamMag").toInt(), 100);
    QCOMPARE(write.value("silentTime").toInt(), 1);
    // Defaults are sent, not saved: the save button waits for the user.
    QVERIFY(Child<QPushButton>(panel, "pushButton_SaveSettingToFlash")->isEnabled());

    // Cancelling the dialog changes nothing.
    const int before = Writes(shell->Simulator(), kBow.id, 1).size();
    boxes->SetItem(-1);
    Child<QCommandLinkButton>(panel, "commandLinkButton_UseDefaultSetting")->click();
    QTest::qWait(200);
    QCOMPARE(Writes(shell->Simulator(), kBow.id, 1).size(), before);
}

void tst_Settings::legacyNodeGetsNoRateAndCrcChecksum()
{
    SensorPanel *panel = OpenNode(kStern);
    QVERIFY2(panel, qPrintable(shell->Error()));
    // Firmware below 47 gets the defaults without a dialog.
    Child<QCommandLinkButton>(panel, "commandLinkButton_UseDefaultSetting")->click();
    QCOMPARE(boxes->Count(), 0);
    QJsonObject write = Writes(shell->Simulator(), kStern.id, 1).last();
    QCOMPARE(write.value("legacy").toInt(), 1);
    QCOMPARE(write.value("fusionParamAcc").toInt(), 100);

    // Whatever checksum the node reports, the one sent is the CRC; no rate below firmware 300.
    Np_Settings reported = panel->CurrentSettings();
    reported.settingsWord &= ~(7u << 14);
    reported.odr = 100;
    window->Sig_NewData_Settings(kStern.id, reported);
    QCOMPARE(Child<QComboBox>(panel, "comboBox_Serial_Checksum_Type")->currentText(), QString("1 Byte SUM"));
    Child<QCheckBox>(panel, "checkBox_Output_Status")->click();
    QTRY_VERIFY(Word(Writes(shell->Simulator(), kStern.id, 1).last()) & (1u << 5));
    write = Writes(shell->Simulator(), kStern.id, 1).last();
    QCOMPARE((Word(write) >> 14) & 7u, 2u);
    QCOMPARE(write.value("odr").toInt(), 0);
}

void tst_Settings::unacknowledgedWriteIsShown()
{
    // The node takes the settings but never acknowledges them.
    SensorPanel *panel = OpenNode(kBow, {"--mute", "13"});
    QVERIFY2(panel, qPrintable(shell->Error()));
    Child<QCheckBox>(panel, "checkBox_Output_Gravity")->click();
    QCOMPARE(Child<QLabel>(panel, "label_Settings_WriteStatus")->text(),
             QString("Sending the settings to the node..."));
    QTRY_COMPARE_WITH_TIMEOUT(
        Child<QLabel>(panel, "label_Settings_WriteStatus")->text(),
        QString("The node did not acknowledge the settings (4 attempts). Check the connection."), 5000);
    // Sent once and repeated three times.
    QCOMPARE(Writes(shell->Simulator(), kBow.id, 4).size(), 4);
}

namespace {

// Edits one settings field of a saved file (or the file's node section with "node.").
void EditFile(const QString &path, const QString &field, const QJsonValue &value)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    const QString section = field.startsWith("node.") ? "node" : "settings";
    const QString key = field.startsWith("node.") ? field.mid(5) : field;
    QJsonObject fields = root.value(section).toObject();
    if (section == "settings")
        fields.insert(key, QJsonObject{{"value", value}});
    else
        fields.insert(key, value);
    root.insert(section, fields);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(root).toJson());
}

} // namespace

void tst_Settings::settingsFileWritesOnlyWhatDiffers()
{
    SensorPanel *panel = OpenNode(kBow);
    QVERIFY2(panel, qPrintable(shell->Error()));
    const QString path = runtime.filePath("bow.json");
    QVERIFY(panel->SaveSettingsFile(path));
    const Np_Settings before = panel->CurrentSettings();

    // One field edited: the table lists exactly it, and nothing is sent before Write.
    EditFile(path, "magnetometer_gain", 2.5);
    QDialog *dialog = panel->LoadSettingsFile(path);
    QVERIFY(dialog);
    auto *table = Child<QTableWidget>(dialog, "tableWidget_SettingsFile_Differences");
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), QString("magnetometer_gain"));
    QCOMPARE(table->item(0, 1)->text(), QString::number(before.fusionParamMag / 100.0, 'f', 2));
    QCOMPARE(table->item(0, 2)->text(), QString("2.50"));
    QVERIFY(Child<QWidget>(dialog, "label_SettingsFile_Notes")->isHidden());
    QTest::qWait(200);
    QCOMPARE(Writes(shell->Simulator(), kBow.id, 1, 0).size(), 0);

    Child<QPushButton>(dialog, "pushButton_SettingsFile_Write")->click();
    const QJsonObject write = Writes(shell->Simulator(), kBow.id, 1).value(0);
    QCOMPARE(write.value("fusionParamMag").toInt(), 250);
    QCOMPARE(Word(write) & ~kReliableWrite, before.settingsWord & ~kReliableWrite);
    QCOMPARE(write.value("fusionParamAcc").toInt(), int(before.fusionParamAcc));
    QCOMPARE(write.value("odr").toInt(), int(before.odr));
    QCOMPARE(write.value("uart2Baud").toInt(), int(before.uart2Baud));
    QCOMPARE(write.value("silentTime").toInt(), int(before.silentTime));
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>(panel, "label_Settings_WriteStatus")->text(),
                              QString("Settings acknowledged by the node."), 4000);
    QCOMPARE(Writes(shell->Simulator(), kBow.id, 2, 300).size(), 1);

    // A file of another generation: the fields that fit are written only once the user agrees.
    EditFile(path, "node.model_generation", "5.0");
    EditFile(path, "output_gravity", !(before.settingsWord & (1u << 12)));
    dialog = panel->LoadSettingsFile(path);
    QVERIFY(dialog);
    QVERIFY(Child<QLabel>(dialog, "label_SettingsFile_Notes")->text().contains("generation 5.0"));
    auto *write2 = Child<QPushButton>(dialog, "pushButton_SettingsFile_Write");
    QVERIFY(!write2->isEnabled());
    Child<QCheckBox>(dialog, "checkBox_SettingsFile_WriteFitting")->setChecked(true);
    QVERIFY(write2->isEnabled());
    write2->click();
    const QVector<QJsonObject> writes = Writes(shell->Simulator(), kBow.id, 2);
    QCOMPARE(writes.size(), 2);
    QCOMPARE(Word(writes[1]) ^ Word(writes[0]), 1u << 12);
}

void tst_Settings::unusableSettingsFilesSendNothing()
{
    SensorPanel *panel = OpenNode(kBow);
    QVERIFY2(panel, qPrintable(shell->Error()));
    const QString path = runtime.filePath("bow.json");
    const struct
    {
        const char *field;
        QJsonValue value;
        const char *said;
    } cases[] = {
        {"uart2_baud_rate", 115250, "uart2_baud_rate"},
        {"output_data_rate", 70000, "output_data_rate"},
        {"accelerometer_gain", -1, "accelerometer_gain"},
        {"output_gravity", "yes", "must be true or false"},
        {"magnetometer_gain", "2.5", "must be a number"},
        {"odr", 50, "\"odr\" is not a settings field"},
    };
    for (const auto &c : cases) {
        QVERIFY(panel->SaveSettingsFile(path));
        EditFile(path, c.field, c.value);
        const int shown = boxes->Count();
        QVERIFY(!panel->LoadSettingsFile(path));
        QCOMPARE(boxes->Count(), shown + 1);
        QVERIFY2(boxes->Last().informativeText.contains(c.said), qPrintable(boxes->Last().informativeText));
    }
    QVERIFY(!panel->LoadSettingsFile(runtime.filePath("missing.json")));
    QVERIFY(boxes->Last().informativeText.startsWith("The file cannot be read"));
    QTest::qWait(200);
    QCOMPARE(Writes(shell->Simulator(), kBow.id, 1, 0).size(), 0);
}

void tst_Settings::applySettingsFromTheCommandLine()
{
    const QString path = runtime.filePath("fleet.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"format": "gyrovane node settings", "schema_version": 1,
                   "node": {"model_generation": "3.6"},
                   "settings": {"output_gravity": {"value": true}, "magnetometer_gain": {"value": 2.5}}})");
    file.close();
    const SimNode bow2{35, "Bow2", "31.8.2.70", "0a0b0c0d0e0f101112131415161718191a1b1c1d"};
    auto apply = [&](SimulatorRunner &sim, QStringList *lines) {
        QProcess gyrovane;
        gyrovane.start(QCoreApplication::applicationDirPath() + "/Gyrovane",
                       {"--apply-settings", path, "--port", sim.PortPath(), "--node", "all"});
        if (!gyrovane.waitForFinished(30000))
            return -1;
        *lines = QString::fromUtf8(gyrovane.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        return gyrovane.exitStatus() == QProcess::NormalExit ? gyrovane.exitCode() : -1;
    };

    // Two nodes of the file's generation are written and saved; the third is of another one.
    QStringList lines;
    {
        SimulatorRunner sim;
        QVERIFY2(sim.Start({"--node", kBow.Option(), "--node", kMast.Option(), "--node", bow2.Option()}),
                 qPrintable(sim.ErrorString()));
        QCOMPARE(apply(sim, &lines), 0);
        QCOMPARE(lines, QStringList({R"(node 32 "Bow": acknowledged, 2 settings changed, saved in flash)",
                                     R"(node 33 "Mast": skipped, model generation 5.0 (the file is of 3.6))",
                                     R"(node 35 "Bow2": acknowledged, 2 settings changed, saved in flash)"}));
        for (int id : {32, 35}) {
            const QJsonObject write = Writes(sim, id, 1).value(0);
            QCOMPARE(write.value("fusionParamMag").toInt(), 250);
            QVERIFY((Word(write) & kSaveToFlash) && (Word(write) & (1u << 12)));
        }
        QCOMPARE(Writes(sim, kMast.id, 1, 0).size(), 0);
    }

    // A node that never acknowledges fails the run, and its line says so.
    SimulatorRunner sim;
    QVERIFY2(sim.Start({"--node", kBow.Option(), "--node", bow2.Option() + ",mute=13"}),
             qPrintable(sim.ErrorString()));
    QCOMPARE(apply(sim, &lines), 1);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(R"(node 32 "Bow": acknowledged)"));
    QVERIFY2(lines[1].startsWith(R"(node 35 "Bow2": not acknowledged)"), qPrintable(lines[1]));
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
