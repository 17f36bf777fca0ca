#include "chartdeck.h"
#include "childwidget.h"
#include "gyrovane.h"
#include "nimbolink.h"
#include "sensorpanel.h"
#include "shelldriver.h"
#include "unitroster.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QRegularExpression>
#include <QtTest>

namespace {

QString TreeText(SensorPanel *panel, const QString &row, int child = -1)
{
    auto *tree = Child<QTreeWidget>(panel, "treeWidget_DataDisplay");
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        if (item->text(0) == row)
            return child < 0 ? item->text(1) : item->child(child)->text(1);
    }
    return QString();
}

bool SettingsShown(SensorPanel *panel)
{
    return Child<QScrollArea>(panel, "scrollArea_Setting")->isVisible() &&
           !Child<QGroupBox>(panel, "groupBox_ReadingConfiguration")->isVisible();
}

// The settings request loop is the panel's only one-second timer.
bool RequestLoopRunning(SensorPanel *panel)
{
    for (QTimer *timer : panel->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
        if (timer->interval() == 1000 && timer->isActive())
            return true;
    return false;
}

// Fails the test on any warning about objects, widgets or connections, for the closing paths.
QStringList objectWarnings;
// Lines a user who started the program from a terminal would see: debug and info output of our
// own code, which stays off unless the logging rules switch it on.
QStringList chatter;
QtMessageHandler previousHandler = nullptr;
void WarningCatcher(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray category = context.category ? QByteArray(context.category) : QByteArray("default");
    if ((type == QtDebugMsg || type == QtInfoMsg) && (category == "default" || category.startsWith("gyrovane")))
        chatter << message;
    if (type != QtDebugMsg && type != QtInfoMsg &&
        (message.contains("QObject") || message.contains("QWidget") || message.contains("deleted") ||
         message.contains("destroyed") || message.contains("connect")))
        objectWarnings << message;
    previousHandler(type, context, message);
}

} // namespace

// The node window over the simulator: opening a node from the list, its tree and settings, records
// of other nodes, two settings layouts on one bus, and every way of closing.
class tst_NodeWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void openedNodeShowsItsOwnData();
    void settingsLayoutPerNode_data();
    void settingsLayoutPerNode();
    void renamedNodeKeepsItsSettingsLayout();
    void windowsSayWhenTheLinkIsGoneAndCatchUp();
    void aRestartedNodeIsAskedForItsSettingsAgain();
    void closingIsClean();

private:
    QTemporaryDir runtime;
    Gyrovane *window = nullptr;
    ShellDriver *shell = nullptr;
};

void tst_NodeWindow::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    previousHandler = qInstallMessageHandler(WarningCatcher);
}

void tst_NodeWindow::init()
{
    objectWarnings.clear();
    chatter.clear();
    window = new Gyrovane;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    shell = new ShellDriver(window, runtime.filePath("kinetra-ports"));
}

void tst_NodeWindow::cleanup()
{
    delete shell;
    shell = nullptr;
    delete window;
    window = nullptr;
    QCOMPARE(objectWarnings, QStringList());
    QCOMPARE(chatter, QStringList());
}

void tst_NodeWindow::openedNodeShowsItsOwnData()
{
    QVERIFY2(shell->StartSimulator({kBow, kMast}, {"--odr", "50"}), qPrintable(shell->Error()));
    QVERIFY2(shell->Scan({kBow, kMast}), qPrintable(shell->Error()));
    SensorPanel *bow = shell->Open(kBow);
    QVERIFY(bow);
    QCOMPARE(bow->windowTitle(), QString("Bow  [32]"));
    QCOMPARE(bow->Get_NodeUuid().toHex(), QByteArray(kBow.uuid));

    // The settings are asked for at once, so they come long before the loop's first request.
    QTRY_VERIFY_WITH_TIMEOUT(SettingsShown(bow), 3000);
    QVERIFY(!RequestLoopRunning(bow));
    QCOMPARE(Child<QComboBox>(bow, "comboBox_IF_ODR")->currentText(), QString("50"));
    QCOMPARE(Child<QDoubleSpinBox>(bow, "doubleSpinBox_Fusion_Param_Acc")->value(), 2.1);

    // The tree follows the node's stream.
    QTRY_VERIFY_WITH_TIMEOUT(TreeText(bow, "Uptime").endsWith(" s"), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(TreeText(bow, "QoS").startsWith("4 "), 3000);
    const QString q1 = TreeText(bow, "Quaternion (S1->E)", 1);
    QTRY_VERIFY_WITH_TIMEOUT(TreeText(bow, "Quaternion (S1->E)", 1) != q1, 3000);

    // A node that stops its outputs leaves its window quiet while the other node streams on into its
    // own window.
    SensorPanel *mast = shell->Open(kMast);
    QVERIFY(mast);
    QTRY_VERIFY_WITH_TIMEOUT(SettingsShown(mast), 3000);
    Np_Settings quiet = bow->CurrentSettings();
    quiet.settingsWord &= ~0x3FE0u; // every output bit
    window->On_NewImuSettings(kBow.id, quiet);
    QTRY_COMPARE_WITH_TIMEOUT(TreeText(bow, "Uptime"), QString(" - "), 6000);
    const QString bowRoll = TreeText(bow, "Aircraft Principal Axes", 0);
    const QString mastRoll = TreeText(mast, "Aircraft Principal Axes", 0);
    QTRY_VERIFY_WITH_TIMEOUT(TreeText(mast, "Aircraft Principal Axes", 0) != mastRoll, 3000);
    QCOMPARE(TreeText(bow, "Aircraft Principal Axes", 0), bowRoll);
    QVERIFY(TreeText(mast, "Uptime").endsWith(" s"));
}

void tst_NodeWindow::settingsLayoutPerNode_data()
{
    QTest::addColumn<bool>("legacyFirst");
    QTest::newRow("legacy identity first") << true;
    QTest::newRow("current identity first") << false;
}

void tst_NodeWindow::settingsLayoutPerNode()
{
    QFETCH(bool, legacyFirst);
    const QVector<SimNode> nodes =
        legacyFirst ? QVector<SimNode>{kStern, kBow} : QVector<SimNode>{kBow, kStern};
    QVERIFY2(shell->StartSimulator(nodes, {"--odr", "50"}), qPrintable(shell->Error()));
    QVERIFY2(shell->Scan(nodes), qPrintable(shell->Error()));

    // Opened in the order the identities came: whichever came last decides nothing for the other.
    SensorPanel *first = shell->Open(nodes[0]);
    SensorPanel *second = shell->Open(nodes[1]);
    QVERIFY(first && second);
    QTRY_VERIFY_WITH_TIMEOUT(SettingsShown(first) && SettingsShown(second), 6000);
    SensorPanel *stern = shell->Window(kStern);
    SensorPanel *bow = shell->Window(kBow);
    // The legacy record is read field by field, not shifted.
    QCOMPARE(Child<QComboBox>(stern, "comboBox_Serial_UART2_Baudrate")->currentText(), QString("115200"));
    QCOMPARE(Child<QDoubleSpinBox>(stern, "doubleSpinBox_Fusion_Param_Acc")->value(), 2.1);
    QCOMPARE(Child<QComboBox>(bow, "comboBox_IF_ODR")->currentText(), QString("50"));

    // A write goes out in each addressee's own layout, and both nodes acknowledge.
    stern->LoadSettingFromGUI();
    QVERIFY(
        shell->Simulator().WaitForLog(SimulatorRunner::Match("tx", NP_CMD_ACK_, kStern.id), 1, 3000).size());
    bow->LoadSettingFromGUI();
    QVERIFY(
        shell->Simulator().WaitForLog(SimulatorRunner::Match("tx", NP_CMD_ACK_, kBow.id), 1, 3000).size());
    const auto sternWrites =
        shell->Simulator().WaitForLog(SimulatorRunner::Match("rx", NP_CMD_SETTING, kStern.id));
    const auto bowWrites =
        shell->Simulator().WaitForLog(SimulatorRunner::Match("rx", NP_CMD_SETTING, kBow.id));
    QJsonObject sternWrite, bowWrite;
    for (const QJsonObject &w : sternWrites)
        if (w.value("to").toInt() == kStern.id)
            sternWrite = w;
    for (const QJsonObject &w : bowWrites)
        if (w.value("to").toInt() == kBow.id)
            bowWrite = w;
    QCOMPARE(sternWrite.value("legacy").toInt(), 1);
    QCOMPARE(sternWrite.value("fusionParamAcc").toInt(), 210);
    QCOMPARE(sternWrite.value("odr").toInt(), 0);
    QCOMPARE(bowWrite.value("legacy").toInt(), 0);
    QCOMPARE(bowWrite.value("odr").toInt(), 50);
    QCOMPARE(bowWrite.value("uart2Baud").toInt(), 1152);
}

void tst_NodeWindow::renamedNodeKeepsItsSettingsLayout()
{
    // A legacy node and a current one; the current one's identity comes last, so the link's own
    // layout is the current one.
    QVERIFY2(shell->StartSimulator({kStern, kBow}, {"--odr", "50"}), qPrintable(shell->Error()));
    QVERIFY2(shell->Scan({kStern, kBow}), qPrintable(shell->Error()));
    SensorPanel *stern = shell->Open(kStern);
    QVERIFY(stern);
    QTRY_VERIFY_WITH_TIMEOUT(SettingsShown(stern), 6000);

    // The legacy node gets a new id: its settings stay in its own layout under the new id.
    QByteArray name("Stern");
    name.append(12 - name.size(), '\0');
    emit shell->Roster()->Sig_New_NodeID(QByteArray::fromHex(kStern.uuid), 44, name);
    QCOMPARE(stern->Get_NodeID(), quint16(44));
    QTRY_VERIFY_WITH_TIMEOUT(
        !shell->Simulator().WaitForLog(SimulatorRunner::Match("rx", NP_CMD_ID_, 44), 1, 0).isEmpty() ||
            !shell->Simulator().WaitForLog(SimulatorRunner::Match("rx", NP_CMD_ID_, kStern.id), 1, 0).isEmpty(),
        3000);
    QSignalSpy settings(window, &Gyrovane::Sig_NewData_Settings);
    emit stern->Sig_RequestImuSetting(44);
    QTRY_VERIFY_WITH_TIMEOUT(!settings.isEmpty(), 4000);
    const Np_Settings read = settings.last().at(1).value<Np_Settings>();
    QCOMPARE(settings.last().at(0).value<quint16>(), quint16(44));
    QCOMPARE(int(read.fusionParamAcc), 210); // read field by field, not shifted
    QCOMPARE(int(read.uart2Baud), 1152);
    // And a write to it is built in its layout, and acknowledged.
    QSignalSpy outcome(window->Link(), &NimboLink::Sig_SettingsWriteOutcome);
    stern->LoadSettingFromGUI();
    QVERIFY(outcome.wait(4000));
    QCOMPARE(outcome.last().at(0).value<quint16>(), quint16(44));
    QVERIFY(outcome.last().at(1).toBool());
    const auto writes = shell->Simulator().WaitForLog(SimulatorRunner::Match("rx", NP_CMD_SETTING, 44));
    QVERIFY(!writes.isEmpty());
    QCOMPARE(writes.last().value("legacy").toInt(), 1);
}

void tst_NodeWindow::windowsSayWhenTheLinkIsGoneAndCatchUp()
{
    QVERIFY2(shell->StartSimulator({kBow}, {"--odr", "50"}), qPrintable(shell->Error()));
    QVERIFY2(shell->Scan({kBow}), qPrintable(shell->Error()));
    SensorPanel *bow = shell->Open(kBow);
    QVERIFY(bow);
    QTRY_VERIFY_WITH_TIMEOUT(SettingsShown(bow), 6000);
    auto *state = Child<QLabel>(bow, "label_LinkState");
    QVERIFY(state->isHidden());

    // The node goes quiet (its outputs switched off): after two seconds the window says since when.
    const Np_Settings streaming = bow->CurrentSettings();
    Np_Settings quiet = streaming;
    for (int bit = NpSettingsBit::outStatus; bit <= NpSettingsBit::outGravity; ++bit)
        quiet.settingsWord = NpSettingsBit::Set(quiet.settingsWord, bit, false);
    window->On_NewImuSettings(kBow.id, quiet);
    QTRY_VERIFY_WITH_TIMEOUT(!state->isHidden(), 5000);
    QVERIFY2(QRegularExpression("^No data from the node since \\d\\d:\\d\\d:\\d\\d\\.$").match(state->text()).hasMatch(),
             qPrintable(state->text()));
    QVERIFY(bow->YtDisplay());
    QWidget *veil = bow->YtDisplay()->findChild<QWidget *>("staleOverlay");
    QVERIFY(veil && veil->isVisible()); // the plot's last picture, dimmed
    // It streams again: the notice goes.
    window->On_NewImuSettings(kBow.id, streaming);
    QTRY_VERIFY_WITH_TIMEOUT(state->isHidden(), 5000);

    // The link closes: said at once. A write outcome left from before is cleared when it returns.
    Child<QLabel>(bow, "label_Settings_WriteStatus")->setText("The node did not acknowledge the settings.");
    QVERIFY(shell->StopSimulator());
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QString("The link is closed."), 5000);
    QVERIFY(!state->isHidden());
    // The node comes back with other settings (the simulator starts with 25 Hz): the window asks again
    // and shows them.
    QVERIFY2(shell->StartSimulator({kBow}, {"--odr", "25"}), qPrintable(shell->Error()));
    QTRY_VERIFY_WITH_TIMEOUT(state->isHidden(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QComboBox>(bow, "comboBox_IF_ODR")->currentText(), QString("25"), 8000);
    QVERIFY(Child<QLabel>(bow, "label_Settings_WriteStatus")->text().isEmpty());
}

void tst_NodeWindow::aRestartedNodeIsAskedForItsSettingsAgain()
{
    QVERIFY2(shell->StartSimulator({kBow}, {"--odr", "50"}), qPrintable(shell->Error()));
    QVERIFY2(shell->Scan({kBow}), qPrintable(shell->Error()));
    SensorPanel *bow = shell->Open(kBow);
    QVERIFY(bow);
    QTRY_VERIFY_WITH_TIMEOUT(SettingsShown(bow), 6000);
    // A rate set but not saved, with Euler angles on: lost when the node restarts.
    Np_Settings changed = bow->CurrentSettings();
    changed.odr = 25;
    changed.settingsWord = NpSettingsBit::Set(changed.settingsWord, NpSettingsBit::outEuler_s1_e, true);
    window->On_NewImuSettings(kBow.id, changed);
    bow->On_NewImuSettings(kBow.id, changed);
    QTRY_VERIFY_WITH_TIMEOUT(
        !shell->Simulator().WaitForLog(SimulatorRunner::Match("tx", NP_CMD_EULER_S1_E_, kBow.id), 1, 0).isEmpty(),
        3000);

    Np_NSO reboot{};
    reboot.nsoCmd = 0x22;
    reboot.nsoIndex = 0x23A4;
    reboot.nsoSubIndex = 0x6A;
    reboot.nsoValue = 9;
    emit bow->Sig_NSOcmd(kBow.id, reboot);
    // Its uptime starts again: the window asks anew and shows what the node has now; the Euler row,
    // no longer streamed, shows no value.
    QTRY_COMPARE_WITH_TIMEOUT(Child<QComboBox>(bow, "comboBox_IF_ODR")->currentText(), QString("50"), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(SettingsShown(bow), 3000);
    QTreeWidgetItem *euler = nullptr;
    auto *tree = Child<QTreeWidget>(bow, "treeWidget_DataDisplay");
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == "Euler (S1->E)")
            euler = tree->topLevelItem(i);
    QVERIFY(euler);
    QCOMPARE(euler->child(0)->text(1), QString(" - "));
}

void tst_NodeWindow::closingIsClean()
{
    QVERIFY2(shell->StartSimulator({kBow, kMast, kStern}, {"--odr", "100"}), qPrintable(shell->Error()));
    QVERIFY2(shell->Scan({kBow, kMast, kStern}), qPrintable(shell->Error()));
    auto *openClose = Child<QPushButton>(shell->Roster(), "pushButton_OpenCloseItem");

    // From the node list's "■ Close".
    QPointer<SensorPanel> bow = shell->Open(kBow);
    QVERIFY(bow);
    QVERIFY(shell->CloseFromList(kBow));
    QVERIFY(!window->NodeWindows().contains(QByteArray::fromHex(kBow.uuid)));
    QTRY_VERIFY(bow.isNull());
    QCOMPARE(openClose->text(), QString::fromUtf8("▶ Open"));

    // From the window's own close box, while records stream in.
    QPointer<SensorPanel> mast = shell->Open(kMast);
    QVERIFY(mast);
    QTest::qWait(300);
    qobject_cast<QMdiSubWindow *>(mast->parentWidget())->close();
    QVERIFY(window->NodeWindows().isEmpty());
    QTRY_VERIFY(mast.isNull());
    QVERIFY(shell->Open(kMast)); // opens again; the list had marked it closed
    QVERIFY(shell->CloseFromList(kMast));

    // Closing the main window with several node windows open.
    QVector<QPointer<SensorPanel>> open;
    for (const SimNode &node : {kBow, kMast, kStern})
        open << QPointer<SensorPanel>(shell->Open(node));
    // Opened together, each asked for its settings at once, and none waits for its own request loop.
    QTRY_VERIFY_WITH_TIMEOUT(SettingsShown(open[0]) && SettingsShown(open[1]) && SettingsShown(open[2]),
                             3000);
    QVERIFY(window->close());
    QVERIFY(window->NodeWindows().isEmpty());
    for (const QPointer<SensorPanel> &panel : open)
        QTRY_VERIFY(panel.isNull());
}

QTEST_MAIN(tst_NodeWindow)
#include "tst_nodewindow.moc"
