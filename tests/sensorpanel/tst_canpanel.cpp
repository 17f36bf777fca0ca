#include "childwidget.h"
#include "messageboxcatcher.h"
#include "sensorpanel.h"
#include "serviceobjects.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

namespace S = ServiceObjects;

namespace {

const quint16 kNode = 40;

Np_NSO Answer(quint8 command, quint16 index, quint8 sub, quint32 value)
{
    Np_NSO answer{};
    answer.header = Np_Header::Make(NP_CMD_NSO_, kNode, NP_ID_HOST_NSO_);
    answer.nsoCmd = command;
    answer.nsoIndex = index;
    answer.nsoSubIndex = sub;
    answer.nsoValue = value;
    return answer;
}

// Stands in for the node's service object: answers each request a moment later (a read with the
// value it holds, a write with its acknowledgement), or nothing while mute.
class FakeNode : public QObject
{
public:
    explicit FakeNode(SensorPanel *panel_i)
        : panel(panel_i)
    {
        connect(panel, &SensorPanel::Sig_NSOcmd, this, [this](quint16, Np_NSO request) {
            requests << request;
            if (mute)
                return;
            QTimer::singleShot(20, this, [this, request] {
                const bool read = request.nsoCmd == S::kReadRequest;
                if (refuse && !read) {
                    panel->On_NSOcmd(kNode, Answer(S::kAbort, request.nsoIndex, request.nsoSubIndex, 0x06090030u));
                    return;
                }
                quint32 &value = objects[quint32(request.nsoIndex) << 8 | request.nsoSubIndex];
                if (!read)
                    value = request.nsoValue;
                panel->On_NSOcmd(kNode, Answer(read ? S::kReadResponse : S::kWriteAck, request.nsoIndex,
                                               request.nsoSubIndex, value));
            });
        });
        objects[quint32(S::kCanSwitches) << 8 | S::kCanSwitchesSub] = 0x0F;
        objects[quint32(S::kCanBaudrate) << 8 | S::kCanBaudrateSub] = 5000;
        objects[quint32(S::kProfileSwitches) << 8 | S::kProfileSwitchesSub] = 0x5;
        for (quint8 k = 0; k < 8; ++k)
            objects[quint32(S::kNpoId) << 8 | k] = 0x180u + k;
    }

    SensorPanel *panel;
    bool mute = false;
    bool refuse = false; // writes are answered with a refusal
    QVector<Np_NSO> requests;
    QMap<quint32, quint32> objects;
};

} // namespace

// The CAN and profile panel against a stand-in node: what each control sends, how answers are read,
// and that one exchange never overlaps another or outlives its window.
class tst_CanPanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void switchAndProfileValues();
    void readingFillsThePanel();
    void answers_data();
    void answers();
    void silentNodeFailsAfterFourAttempts();
    void overlappingExchangeIsRefused();
    void closingDuringAnExchangeWaitsForIt();
    void refusalEndsTheExchangeAtOnce();
    void cobIdsMustFitTheirFrames();

private:
    void OpenCanPanel();
    QLabel *Status() { return Child<QLabel>(panel, "label_NSO_Panel_Status"); }

    SensorPanel *panel = nullptr;
    FakeNode *node = nullptr;
};

void tst_CanPanel::init()
{
    panel = new SensorPanel(kNode);
    panel->Set_NodeFirmwareVersion(318, 70);
    node = new FakeNode(panel);
}

void tst_CanPanel::cleanup()
{
    delete node;
    delete panel;
    panel = nullptr;
}

void tst_CanPanel::OpenCanPanel()
{
    Child<QPushButton>(panel, "pushButton_OpenClose_CanPannel")->click();
    QVERIFY(!Child<QStackedWidget>(panel, "stackedWidget_NSO")->isHidden());
}

void tst_CanPanel::switchAndProfileValues()
{
    S::CanSwitches nsoOnly;
    nsoOnly.nso = true;
    QCOMPARE(nsoOnly.Value(), 0x5u);
    S::ProfileSwitches profile;
    profile.standardCode = 5;
    profile.customisedCode = 2;
    profile.verticalInstall = true;
    QCOMPARE(profile.Value(), 0x0217u);
    QCOMPARE(S::ProfileSwitches::FromValue(0x0217).customisedCode, 2);

    // The same through the panel's widgets, as the node receives them.
    OpenCanPanel();
    for (QCheckBox *box :
         panel->findChildren<QCheckBox *>(QRegularExpression("^checkBox_(checkBox_)?CanPanel_|"
                                                             "^checkBox_En_NimboPipeline")))
        box->setChecked(false);
    Child<QCheckBox>(panel, "checkBox_CanPanel_En_NSO")->setChecked(true);
    QCOMPARE(node->requests.last().nsoIndex, S::kCanSwitches);
    QCOMPARE(node->requests.last().nsoValue, 0x5u);
    QCOMPARE(Status()->text(),
             QString("[OK] New CAN_Switches checkbox-settings downloaded to Kinetra successfully."));
    QVERIFY(Child<QPushButton>(panel, "pushButton_CanPanel_SaveSetting")->isEnabled());

    Child<QSpinBox>(panel, "spinBox_ProfilePanel_stdProfile_Code")->setValue(5);
    Child<QSpinBox>(panel, "spinBox_ProfilePanel_customizedProfile_Code")->setValue(2);
    Child<QCheckBox>(panel, "checkBox_ProfilePanel_EnVerticalInstall")->setChecked(true);
    QCOMPARE(node->requests.last().nsoIndex, S::kProfileSwitches);
    QCOMPARE(node->requests.last().nsoSubIndex, S::kProfileSwitchesSub);
    QCOMPARE(node->requests.last().nsoValue, 0x0217u);
}

void tst_CanPanel::readingFillsThePanel()
{
    OpenCanPanel();
    // Thirteen reads, in order, each answered.
    QCOMPARE(node->requests.size(), 13);
    QCOMPARE(node->requests[0].nsoIndex, S::kCanSwitches);
    QCOMPARE(node->requests[1].nsoIndex, S::kCanBaudrate);
    QCOMPARE(node->requests[4].nsoIndex, S::kNpoId);
    QCOMPARE(node->requests[11].nsoSubIndex, quint8(7));
    QCOMPARE(node->requests[12].nsoIndex, S::kProfileSwitches);
    for (const Np_NSO &request : node->requests)
        QCOMPARE(request.nsoCmd, S::kReadRequest);
    QCOMPARE(Status()->text(), QString("[OK] Read Kinetra Setting successful."));
    QVERIFY(Child<QCheckBox>(panel, "checkBox_CanPanel_En_NPO_CH1")->isChecked());
    QVERIFY(!Child<QCheckBox>(panel, "checkBox_CanPanel_En_NPO_CH2")->isChecked());
    QCOMPARE(Child<QComboBox>(panel, "comboBox_CanPanel_Serial_CAN1_Baudrate")->currentText(),
             QString("500 Kbps"));
    QCOMPARE(Child<QSpinBox>(panel, "spinBox__CanPanel_NPO_CH4_Addr_Upload")->value(), 0x187);
    QCOMPARE(Child<QSpinBox>(panel, "spinBox__CanPanel_NPO_CH4_Addr_Upload")->text(), QString("0x187"));
    QCOMPARE(Child<QSpinBox>(panel, "spinBox_ProfilePanel_stdProfile_Code")->value(), 1);
    // Filling the widgets sent nothing back.
    QCOMPARE(node->requests.size(), 13);
    QVERIFY(Child<QWidget>(panel, "frame_IMU_Core")->isHidden());

    // Later openings only change the page; the close button brings the settings back.
    Child<QPushButton>(panel, "pushButton_CanPanel_ClosePanel")->click();
    QVERIFY(!Child<QWidget>(panel, "frame_IMU_Core")->isHidden());
    Child<QPushButton>(panel, "pushButton_OpenClose_SNO_ProfilePanel")->click();
    QCOMPARE(Child<QStackedWidget>(panel, "stackedWidget_SNO_Objects")->currentIndex(), 1);
    QCOMPARE(node->requests.size(), 13);
}

void tst_CanPanel::answers_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("sub");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QString>("status");

    const int r = S::kReadResponse, w = S::kWriteAck;
    QTest::newRow("switches, bit 0 clear")
        << r << 0x2021 << 0x23 << 0x0Eu << "[ERROR] MSB / LSB check failed.";
    QTest::newRow("switches, bit 31 set")
        << r << 0x2021 << 0x23 << 0x8000000Fu << "[ERROR] MSB / LSB check failed.";
    QTest::newRow("baud rate unknown")
        << r << 0x2022 << 1 << 3000u
        << "[ERROR] CAN_Baudrate current setting fetched but cannot be resolved.";
    QTest::newRow("baud rate written")
        << w << 0x2022 << 1 << 5000u
        << "[OK] New CAN_Baudrate downloaded. Save & Reboot required to apply changes.";
    QTest::newRow("NSO id 0") << r << 0x2023 << 0 << 0x620u
                              << "[OK] CAN_NSO_ID[0] address setting for Upload fetched.";
    QTest::newRow("NPO id 15") << r << 0x2024 << 3 << 15u
                               << "[ERROR] CAN_NPO_ID[3] fetched with value out of range.";
    QTest::newRow("NPO id 16") << r << 0x2024 << 3 << 16u
                               << "[OK] CAN_NPO_ID[3] address setting for Upload fetched.";
    QTest::newRow("NPO id largest") << r << 0x2024 << 7 << 0x1FFFFFFFu
                                    << "[OK] CAN_NPO_ID[7] address setting for Upload fetched.";
    QTest::newRow("NPO id too large")
        << r << 0x2024 << 7 << 0x20000000u << "[ERROR] CAN_NPO_ID[7] fetched with value out of range.";
    QTest::newRow("profile, bit 0 clear")
        << r << 0x2041 << 0x17 << 0x216u << "[ERROR] Profile_Switches MSB / LSB check failed.";
    QTest::newRow("calibration switches")
        << w << 0x2031 << 1 << 1u << "[OK] New CALIB_Switches command downloaded to Kinetra.";
    QTest::newRow("saved") << w << 0x23A4 << 0x79 << 3u
                           << "[OK] CAN settings saved (to Kinetra Non-volatile Memory) successfully.";
    QTest::newRow("unknown object") << r << 0x3000 << 0 << 0u << "[ERROR] Unknwon Object ID received.";
    QTest::newRow("abort") << 0x80 << 0x2021 << 0x23 << 0x06090030u << "";
}

void tst_CanPanel::answers()
{
    QFETCH(int, command);
    QFETCH(int, index);
    QFETCH(int, sub);
    QFETCH(quint32, value);
    QFETCH(QString, status);
    Status()->setText("before");
    panel->On_NSOcmd(kNode, Answer(quint8(command), quint16(index), quint8(sub), value));
    QCOMPARE(Status()->text(), status);
    if (index == 0x2024 && status.startsWith("[OK]")) {
        const char *name =
            sub == 3 ? "spinBox__CanPanel_NPO_CH2_Addr_Upload" : "spinBox__CanPanel_NPO_CH4_Addr_Upload";
        QCOMPARE(quint32(Child<QSpinBox>(panel, name)->value()), value);
    }
    // Another node's answer is not this panel's.
    Status()->setText("before");
    panel->On_NSOcmd(kNode + 1, Answer(quint8(command), quint16(index), quint8(sub), value));
    QCOMPARE(Status()->text(), QString("before"));
}

void tst_CanPanel::silentNodeFailsAfterFourAttempts()
{
    MessageBoxCatcher boxes;
    node->mute = true;
    // The panel was never open: one message, and it stays closed.
    Child<QPushButton>(panel, "pushButton_OpenClose_CanPannel")->click();
    QCOMPARE(node->requests.size(), 4);
    QCOMPARE(boxes.Texts(), QStringList{"Read Settings failed. Please check connections."});
    QVERIFY(Child<QStackedWidget>(panel, "stackedWidget_NSO")->isHidden());
}

void tst_CanPanel::overlappingExchangeIsRefused()
{
    OpenCanPanel();
    node->requests.clear();
    node->mute = true;
    auto *nso = Child<QCheckBox>(panel, "checkBox_CanPanel_En_NSO");
    auto *npo = Child<QCheckBox>(panel, "checkBox_CanPanel_En_NPO_CH4");
    const bool npoBefore = npo->isChecked();
    QString refusal;
    // While the first download waits, the user clicks another switch and the reread button.
    QTimer::singleShot(100, this, [&] {
        npo->click();
        refusal = Status()->text();
        Child<QPushButton>(panel, "pushButton_NSO_Panel_RereadSetting")->click();
        // Only then does the node answer the first request.
        node->mute = false;
        panel->On_NSOcmd(kNode, Answer(S::kWriteAck, S::kCanSwitches, S::kCanSwitchesSub, 0));
    });
    nso->click();
    QVERIFY(refusal.startsWith("[!]"));
    QCOMPARE(node->requests.size(), 1); // nothing else went out
    QCOMPARE(npo->isChecked(), npoBefore);
    QCOMPARE(Status()->text(),
             QString("[OK] New CAN_Switches checkbox-settings downloaded to Kinetra successfully."));
    // The panel takes new exchanges again.
    npo->click();
    QCOMPARE(node->requests.size(), 2);
}

void tst_CanPanel::closingDuringAnExchangeWaitsForIt()
{
    QSignalSpy quit(panel, &SensorPanel::Sig_Quit);
    node->mute = true;
    panel->show();
    QTimer::singleShot(100, panel, [&] {
        panel->close();
        // The wait ends at once, the window closes after it.
        QCOMPARE(quit.size(), 0);
    });
    Child<QPushButton>(panel, "pushButton_OpenClose_CanPannel")->click();
    QVERIFY(node->requests.size() < 4);
    QTRY_COMPARE(quit.size(), 1);
    QVERIFY(!panel->isVisible());
}

void tst_CanPanel::refusalEndsTheExchangeAtOnce()
{
    OpenCanPanel();
    node->requests.clear();
    node->refuse = true;
    // The node says no: one request, no resends, and the status says so instead of a time-out.
    Child<QSpinBox>(panel, "spinBox_ProfilePanel_stdProfile_Code")->setValue(7);
    QCOMPARE(node->requests.size(), 1);
    QCOMPARE(Status()->text(),
             QString("[ERROR] Kinetra refused the value 29 for object 0x2041 sub-index 0x17 (code 0x06090030)."));
    QVERIFY(!Child<QPushButton>(panel, "pushButton_CanPanel_SaveSetting")->isEnabled());
    // The panel takes the next exchange at once.
    node->refuse = false;
    Child<QSpinBox>(panel, "spinBox_ProfilePanel_stdProfile_Code")->setValue(8);
    QCOMPARE(node->requests.size(), 2);
    QCOMPARE(Status()->text(), QString("[OK] New Profile_Switches downloaded to Kinetra successfully."));
}

void tst_CanPanel::cobIdsMustFitTheirFrames()
{
    OpenCanPanel();
    // The fields take no process-object id the panel would refuse when it reads it back.
    for (const char *name : {"spinBox_CanPanel_NPO_CH1_Addr_Download", "spinBox__CanPanel_NPO_CH4_Addr_Upload"})
        QCOMPARE(Child<QSpinBox>(panel, name)->minimum(), 16);
    // With 11-bit identifiers, an id above 0x7FF cannot go out: refused, nothing sent.
    Child<QCheckBox>(panel, "checkBox_CanPanel_UseExtID_NimboServiceObject")->setChecked(false);
    node->requests.clear();
    Child<QSpinBox>(panel, "spinBox_CanPanel_NSO_Addr_Download")->setValue(0x0FFFFFFF);
    Child<QPushButton>(panel, "pushButton_CanPanel_NSO_Addr_ApplyChanges")->click();
    QVERIFY(node->requests.isEmpty());
    QVERIFY2(Status()->text().startsWith("[!] NSO download 0xFFFFFFF: above 0x7FF"), qPrintable(Status()->text()));
    // With 29-bit identifiers it goes.
    Child<QCheckBox>(panel, "checkBox_CanPanel_UseExtID_NimboServiceObject")->setChecked(true);
    node->requests.clear();
    Child<QPushButton>(panel, "pushButton_CanPanel_NSO_Addr_ApplyChanges")->click();
    QCOMPARE(node->requests.size(), 10);
    QCOMPARE(node->requests.first().nsoValue, 0x0FFFFFFFu);
    QVERIFY(Status()->text().startsWith("[OK]"));
}

QTEST_MAIN(tst_CanPanel)
#include "tst_canpanel.moc"
