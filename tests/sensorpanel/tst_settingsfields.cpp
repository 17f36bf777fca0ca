// The node window's fields as a user types into them, and what reaches the node: nothing the user did
// not touch changes, a typed number goes once when committed, a refused one never.

#include "childwidget.h"
#include "calibrationcommands.h"
#include "numberfield.h"
#include "sensorpanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDial>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

const quint16 kNode = 40;

Np_Settings Sent(const QSignalSpy &spy, int i = -1)
{
    return spy.at(i < 0 ? spy.size() - 1 : i).at(1).value<Np_Settings>();
}

} // namespace

class tst_SettingsFields : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void valuesTheWidgetsLackGoBackUnchanged();
    void typedNumbersGoOnceWhenCommitted_data();
    void typedNumbersGoOnceWhenCommitted();
    void silentCompassRunIsGivenUp();

private:
    void Type(QAbstractSpinBox *box, const QString &text);

    SensorPanel *panel = nullptr;
    QSignalSpy *writes = nullptr;
};

void tst_SettingsFields::init()
{
    panel = new SensorPanel(kNode);
    panel->Set_NodeFirmwareVersion(318, 70);
    writes = new QSignalSpy(panel, &SensorPanel::Sig_NewImuSetting);
    panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel));
}

void tst_SettingsFields::cleanup()
{
    delete writes;
    delete panel;
    panel = nullptr;
}

void tst_SettingsFields::Type(QAbstractSpinBox *box, const QString &text)
{
    box->setFocus();
    box->selectAll();
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Backspace); // erased
    else
        QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

void tst_SettingsFields::valuesTheWidgetsLackGoBackUnchanged()
{
    // A node set up by another tool: a UART 2 rate, an output rate, a CAN rate and a gain that the
    // lists and ranges of the form do not offer.
    Np_Settings node{};
    node.settingsWord = (1u << NpSettingsBit::outStatus) | (1u << NpSettingsBit::outRaw) | (3u << 24);
    node.uart2Baud = 192;
    node.odr = 400;
    node.can1Bitrate = 3000;
    node.fusionParamAcc = 500;
    node.fusionParamMag = 100;
    node.silentTime = 900;
    panel->On_NewImuSettings(kNode, node);
    QCOMPARE(writes->count(), 0);
    // Shown as they are, marked as the node's own.
    QCOMPARE(Child<QComboBox>(panel, "comboBox_Serial_UART2_Baudrate")->currentText(), QString("19200 (node's own)"));
    QCOMPARE(Child<QDoubleSpinBox>(panel, "doubleSpinBox_Fusion_Param_Acc")->value(), 5.0);

    // One box ticked: the write carries everything else exactly as the node had it.
    Child<QCheckBox>(panel, "checkBox_Output_Gravity")->click();
    QCOMPARE(writes->count(), 1);
    const Np_Settings sent = Sent(*writes);
    QCOMPARE(int(sent.uart2Baud), 192);
    QCOMPARE(int(sent.odr), 400);
    QCOMPARE(int(sent.can1Bitrate), 3000);
    QCOMPARE(int(sent.fusionParamAcc), 500);
    QCOMPARE(int(sent.silentTime), 900);
    QCOMPARE(NpSettingsBit::GetField(sent.settingsWord, NpSettingsBit::bootMode, 2), 3u);
    QVERIFY(NpSettingsBit::Get(sent.settingsWord, NpSettingsBit::outGravity));

    // Settings of the form's own values drop the extra entries again.
    node.uart2Baud = 1152;
    panel->On_NewImuSettings(kNode, node);
    QCOMPARE(Child<QComboBox>(panel, "comboBox_Serial_UART2_Baudrate")->findText("19200 (node's own)"), -1);
}

void tst_SettingsFields::typedNumbersGoOnceWhenCommitted_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("sent"); // the field's value in the one write, or -1: no write, refused

    QTest::newRow("silent time 35") << "spinBox_IF_SilentTime" << "35" << 35;
    QTest::newRow("gain with a point") << "doubleSpinBox_Fusion_Param_Acc" << "1.5" << 150;
    QTest::newRow("gain with a comma") << "doubleSpinBox_Fusion_Param_Acc" << "1,5" << 150;
    QTest::newRow("gain out of range") << "doubleSpinBox_Fusion_Param_Acc" << "9" << -1;
    QTest::newRow("silent time out of range") << "spinBox_IF_SilentTime" << "700" << -1;
    QTest::newRow("erased") << "spinBox_IF_SilentTime" << "" << -1;
}

void tst_SettingsFields::typedNumbersGoOnceWhenCommitted()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(int, sent);
    Np_Settings node{};
    node.settingsWord = 1u << NpSettingsBit::outStatus;
    node.fusionParamAcc = 210;
    node.silentTime = 1;
    node.odr = 100;
    panel->On_NewImuSettings(kNode, node);
    auto *box = Child<QAbstractSpinBox>(panel, field.toLatin1().constData());
    const QString before = box->text();
    Type(box, typed);
    const bool gain = field.contains("Fusion");
    if (sent < 0) {
        QCOMPARE(writes->count(), 0);
        QCOMPARE(box->text(), before);
        const QString refusal = gain ? qobject_cast<NumberDoubleSpinBox *>(box)->Refusal()
                                     : qobject_cast<NumberSpinBox *>(box)->Refusal();
        QVERIFY2(refusal.endsWith("nothing was sent."), qPrintable(refusal));
        QTRY_VERIFY(box->toolTip() == refusal);
        return;
    }
    QCOMPARE(writes->count(), 1);
    QCOMPARE(gain ? int(Sent(*writes).fusionParamAcc) : int(Sent(*writes).silentTime), sent);
    if (gain) // the dial moved with it
        QCOMPARE(Child<QDial>(panel, "dial_Fusion_Param_Acc")->value(), 150);
}

void tst_SettingsFields::silentCompassRunIsGivenUp()
{
    QSignalSpy commands(panel, &SensorPanel::Sig_NewCalibCmd);
    auto *run = Child<QPushButton>(panel, "pushButton_CalibCompass_Run");
    auto *status = Child<QLabel>(panel, "label_Calib_Status");
    run->click();
    QCOMPARE(commands.count(), 1);
    QVERIFY(!run->isEnabled());
    // Progress keeps it going: no total time limit while the node reports.
    Np_Calib progress{};
    progress.header = Np_Header::Make(NP_CMD_CALIB_, kNode, NP_ID_HOST_);
    progress.calibType = CalibrationCommands::kMagnetometerAnswer;
    progress.calibCmd = CalibrationCommands::kInProgress;
    progress.calibCode = 30;
    QTest::qWait(3000);
    panel->On_NewCalibCmd(kNode, progress);
    QTest::qWait(3000);
    QVERIFY(!run->isEnabled());
    QCOMPARE(status->text(), QString("Magnetometer Calib: processing..."));
    // Then nothing: given up five seconds after the last word, with the controls back.
    QTRY_VERIFY_WITH_TIMEOUT(run->isEnabled(), 4000);
    QVERIFY2(status->text().contains("the node does not answer"), qPrintable(status->text()));
}

QTEST_MAIN(tst_SettingsFields)
#include "tst_settingsfields.moc"
