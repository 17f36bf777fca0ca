#include "childwidget.h"
#include "gyrovane.h"
#include "sensorpanel.h"
#include "shelldriver.h"
#include "unitroster.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
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
