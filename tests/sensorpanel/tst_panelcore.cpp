#include "childwidget.h"
#include "focuschain.h"
#include "sensorpanel.h"

#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>


namespace {

const char *const kStillTrying =
    "Still trying... Is Kinetra properly connected? Is the port open and baudrate correct?";

void Tick(SensorPanel *panel, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QVERIFY(QMetaObject::invokeMethod(panel, "On_TimerISR_RequestImuSetting"));
}

QTreeWidgetItem *TopRow(QTreeWidget *tree, const QString &name)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == name)
            return tree->topLevelItem(i);
    return nullptr;
}

} // namespace

// The node window's core: identity, the settings request loop, the live data tree and closing.
class tst_PanelCore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void titleOnPanelAndTreeDock();
    void requestLoopNoticesAndTicks_data();
    void requestLoopNoticesAndTicks();
    void settingsArrivalEndsTheLoop();
    void treeRowsInOrder();
    void treeFormats_data();
    void treeFormats();
    void foreignRecordsChangeNothing();
    void silenceBlanksStatusRows();
    void closingEmitsQuitOnce();
    void tabVisitsEveryControlOnce();
    void recorderButtonsStayPut();

private:
    QTreeWidget *Tree() const { return Child<QTreeWidget>(panel, "treeWidget_DataDisplay"); }

    SensorPanel *panel = nullptr;
};

void tst_PanelCore::init()
{
    panel = new SensorPanel(5);
    panel->Set_NodeFirmwareVersion(318, 70);
}

void tst_PanelCore::cleanup()
{
    delete panel;
    panel = nullptr;
}

void tst_PanelCore::titleOnPanelAndTreeDock()
{
    panel->Set_NodeName("Front");
    QCOMPARE(panel->windowTitle(), QString("Front  [5]"));
    QCOMPARE(Child<QDockWidget>(panel, "dockWidget_TreeView")->windowTitle(), QString("Front  [5]"));
    panel->Set_NodeId(2047);
    QCOMPARE(panel->windowTitle(), QString("Front  [2047]"));
    // The UUID is no part of the title.
    panel->Set_NodeUuid(QByteArray(20, 'x'));
    QCOMPARE(panel->windowTitle(), QString("Front  [2047]"));
}

void tst_PanelCore::requestLoopNoticesAndTicks_data()
{
    QTest::addColumn<int>("firmware");
    QTest::addColumn<int>("revision");
    QTest::addColumn<bool>("longHint");
    QTest::newRow("current firmware") << 318 << 70 << true;
    QTest::newRow("firmware without a rate field") << 31 << 0 << false;
}

void tst_PanelCore::requestLoopNoticesAndTicks()
{
    QFETCH(int, firmware);
    QFETCH(int, revision);
    QFETCH(bool, longHint);
    delete panel;
    panel = new SensorPanel(7);
    panel->Set_NodeFirmwareVersion(firmware, revision);
    QSignalSpy requests(panel, &SensorPanel::Sig_RequestImuSetting);
    auto *notice = Child<QGroupBox>(panel, "groupBox_ReadingConfiguration");
    auto *hint = Child<QLabel>(panel, "label_groupBox_ReadingConfiguration");

    QVERIFY(!notice->isVisibleTo(panel));
    Tick(panel);
    QVERIFY(notice->isVisibleTo(panel));
    QVERIFY(hint->text().isEmpty());
    Tick(panel, 4);
    QVERIFY(hint->text().isEmpty());
    Tick(panel); // 6
    QCOMPARE(hint->text(), QString(kStillTrying));
    Tick(panel, 9); // 15
    QCOMPARE(hint->text().startsWith(QString(kStillTrying) + "\n\nAnother possible reason"), longHint);
    if (!longHint)
        QCOMPARE(hint->text(), QString(kStillTrying));

    // A request every fourth tick, without end.
    Tick(panel, 100 - 15);
    QCOMPARE(requests.size(), 25);
    for (const QList<QVariant> &args : requests)
        QCOMPARE(args.at(0).value<quint16>(), quint16(7));
}

void tst_PanelCore::settingsArrivalEndsTheLoop()
{
    QSignalSpy sent(panel, &SensorPanel::Sig_NewImuSetting);
    QSignalSpy requests(panel, &SensorPanel::Sig_RequestImuSetting);
    Tick(panel, 3);
    Np_Settings settings{};
    settings.settingsWord = 0x7Fu;
    settings.odr = 100;
    panel->On_NewImuSettings(6, settings); // another node's
    QVERIFY(!Child<QScrollArea>(panel, "scrollArea_Setting")->isVisibleTo(panel));

    panel->On_NewImuSettings(5, settings);
    QVERIFY(Child<QScrollArea>(panel, "scrollArea_Setting")->isVisibleTo(panel));
    QVERIFY(!Child<QGroupBox>(panel, "groupBox_ReadingConfiguration")->isVisibleTo(panel));
    QCOMPARE(panel->CurrentSettings().settingsWord, 0x7Fu);
    // Loading what the node holds sends nothing and leaves nothing to save.
    QCOMPARE(sent.size(), 0);
    QVERIFY(!Child<QPushButton>(panel, "pushButton_SaveSettingToFlash")->isEnabled());
    // The loop's own timer is stopped: a second later no request has gone out.
    QTest::qWait(1200);
    QCOMPARE(requests.size(), 0);
}

void tst_PanelCore::treeRowsInOrder()
{
    QTreeWidget *tree = Tree();
    QCOMPARE(tree->headerItem()->text(0), QString("Name"));
    QCOMPARE(tree->headerItem()->text(1), QString("Value"));
    const QStringList rows{"Uptime",           "QoS",
                           "Sampling Rate",    "Temperature",
                           "Gyroscope",        "Accelerometer",
                           "Magnetometer",     "Quaternion (S1->S)",
                           "Euler (S1->S)",    "Quaternion (S1->E)",
                           "Euler (S1->E)",    "Aircraft Principal Axes",
                           "Gravity Direction"};
    QCOMPARE(tree->topLevelItemCount(), rows.size());
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(tree->topLevelItem(i)->text(0), rows[i]);
    QCOMPARE(tree->topLevelItem(0)->text(1), QString("0"));
    QCOMPARE(tree->topLevelItem(1)->text(1), QString(" - "));
    QTreeWidgetItem *q = TopRow(tree, "Quaternion (S1->E)");
    QCOMPARE(q->childCount(), 4);
    QCOMPARE(q->child(0)->text(1), QString("1"));
    QCOMPARE(q->child(3)->text(1), QString("0"));
    QCOMPARE(TopRow(tree, "Magnetometer")->text(1), QString("Raw Data (Unit: one Earth's magnetic field)"));
    QCOMPARE(TopRow(tree, "Euler (S1->S)")->child(2)->text(0), QString("phi"));

    // Three shades: status and raw, sensor frame, Earth frame; children share their row's.
    QCOMPARE(TopRow(tree, "Gyroscope")->child(1)->background(1).color(), QColor(45, 45, 45, 255));
    QCOMPARE(TopRow(tree, "Euler (S1->S)")->background(0).color(), QColor(49, 200, 250, 85));
    QCOMPARE(TopRow(tree, "Gravity Direction")->child(2)->background(0).color(), QColor(49, 200, 250, 135));
}

void tst_PanelCore::treeFormats_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("child"); // -1: the row itself
    QTest::addColumn<QString>("text");

    const QVariantList three{1.23456f, -12.34567f, 9876.5f};
    QTest::newRow("uptime") << "Uptime" << QVariantList{1.5} << "Uptime" << -1
                            << QString("%1 s").arg("1.500000", 15);
    QTest::newRow("QoS 3") << "QoS" << QVariantList{3} << "QoS" << -1 << "3  Basic";
    QTest::newRow("QoS 0") << "QoS" << QVariantList{0} << "QoS" << -1 << "0  Unavailable";
    QTest::newRow("QoS 5") << "QoS" << QVariantList{5} << "QoS" << -1 << "5  Very Good";
    QTest::newRow("QoS 7 has no label") << "QoS" << QVariantList{7} << "QoS" << -1 << "7 ";
    QTest::newRow("rate") << "ProcessRate" << QVariantList{800.0f} << "Sampling Rate" << -1 << "800.0 Hz";
    QTest::newRow("rate narrow") << "ProcessRate" << QVariantList{5.0f} << "Sampling Rate" << -1
                                 << "  5.0 Hz";
    QTest::newRow("temperature") << "Temperature" << QVariantList{23.456f} << "Temperature" << -1
                                 << QString::fromUtf8("23.46 °C");
    QTest::newRow("gyro z") << "Raw_Gyro" << three << "Gyroscope" << 2 << QString("%1").arg("9876.500", 10);
    QTest::newRow("acc y") << "Raw_Acc" << three << "Accelerometer" << 1 << QString("%1").arg("-12.346", 10);
    QTest::newRow("mag x") << "Raw_Mag" << three << "Magnetometer" << 0 << QString("%1").arg("1.235", 10);
    QTest::newRow("quaternion S1->E q4") << "Q_S1_E" << QVariantList{0.5f, 0.5f, -0.5f, -0.25f}
                                         << "Quaternion (S1->E)" << 3 << QString("%1").arg("-0.250", 10);
    QTest::newRow("quaternion S1->S q1") << "Q_S1_S" << QVariantList{0.7071f, 0.0f, 0.0f, 0.7071f}
                                         << "Quaternion (S1->S)" << 0 << QString("%1").arg("0.707", 10);
    QTest::newRow("euler S1->E theta")
        << "Euler_S1_E" << three << "Euler (S1->E)" << 1 << QString("%1").arg("-12.3", 10);
    QTest::newRow("euler S1->S phi") << "Euler_S1_S" << three << "Euler (S1->S)" << 2
                                     << QString("%1").arg("9876.5", 10);
    QTest::newRow("roll") << "RPY" << QVariantList{-179.96f, 0.0f, 359.94f} << "Aircraft Principal Axes" << 0
                          << QString("%1").arg("-180.0", 10);
    QTest::newRow("gravity z") << "Gravity" << QVariantList{0.0f, 0.0f, -0.994f} << "Gravity Direction" << 2
                               << QString("%1").arg("-0.99", 10);
}

void tst_PanelCore::treeFormats()
{
    QFETCH(QString, slot);
    QFETCH(QVariantList, values);
    QFETCH(QString, row);
    QFETCH(int, child);
    QFETCH(QString, text);

    const QByteArray name = "On_UpdateTree_" + slot.toLatin1();
    const quint16 id = 5;
    bool invoked = false;
    if (values.size() == 1 && values[0].type() == QVariant::Double)
        invoked =
            QMetaObject::invokeMethod(panel, name, Q_ARG(quint16, id), Q_ARG(double, values[0].toDouble()));
    else if (values.size() == 1 && values[0].type() == QVariant::Int)
        invoked = QMetaObject::invokeMethod(panel, name, Q_ARG(quint16, id), Q_ARG(int, values[0].toInt()));
    else if (values.size() == 1)
        invoked =
            QMetaObject::invokeMethod(panel, name, Q_ARG(quint16, id), Q_ARG(float, values[0].toFloat()));
    else if (slot.startsWith("Raw_"))
        invoked = QMetaObject::invokeMethod(
            panel, name, Q_ARG(quint16, id), Q_ARG(float, values[0].toFloat()),
            Q_ARG(float, values[1].toFloat()), Q_ARG(float, values[2].toFloat()), Q_ARG(double, 1e6));
    else if (values.size() == 3)
        invoked =
            QMetaObject::invokeMethod(panel, name, Q_ARG(quint16, id), Q_ARG(float, values[0].toFloat()),
                                      Q_ARG(float, values[1].toFloat()), Q_ARG(float, values[2].toFloat()));
    else
        invoked =
            QMetaObject::invokeMethod(panel, name, Q_ARG(quint16, id), Q_ARG(float, values[0].toFloat()),
                                      Q_ARG(float, values[1].toFloat()), Q_ARG(float, values[2].toFloat()),
                                      Q_ARG(float, values[3].toFloat()));
    QVERIFY2(invoked, name);
    QTreeWidgetItem *item = TopRow(Tree(), row);
    QVERIFY(item);
    if (child >= 0)
        item = item->child(child);
    // Shown within one screen frame.
    QTRY_COMPARE_WITH_TIMEOUT(item->text(1), text, 1000);
}

void tst_PanelCore::foreignRecordsChangeNothing()
{
    panel->On_UpdateTree_RPY(6, 10.0f, 20.0f, 30.0f);
    panel->On_UpdateTree_Temperature(4, 20.0f);
    QSignalSpy box(panel, &SensorPanel::Sig_Update_BoxView);
    panel->On_UpdateAttitude(6, 1.0f, 0.0f, 0.0f, 0.0f);
    QTest::qWait(100);
    QCOMPARE(TopRow(Tree(), "Aircraft Principal Axes")->child(0)->text(1), QString("0"));
    QCOMPARE(TopRow(Tree(), "Temperature")->text(1), QString(" - "));
    QCOMPARE(box.size(), 0);
    panel->On_UpdateAttitude(5, 0.5f, -0.5f, 0.25f, 1.0f);
    QCOMPARE(box.size(), 1);
    QCOMPARE(box[0].at(1).toFloat(), -0.5f);
}

void tst_PanelCore::silenceBlanksStatusRows()
{
    auto refresh = [&](int ticks) {
        for (int i = 0; i < ticks; ++i)
            QVERIFY(QMetaObject::invokeMethod(panel, "On_TimerISR_RefreshTreeData"));
    };
    QTreeWidgetItem *uptime = TopRow(Tree(), "Uptime");
    QTreeWidgetItem *roll = TopRow(Tree(), "Aircraft Principal Axes")->child(0);
    panel->On_UpdateTree_Uptime(5, 12.0);
    panel->On_UpdateTree_RPY(5, 45.0f, 0.0f, 0.0f);
    QTRY_VERIFY_WITH_TIMEOUT(uptime->text(1).endsWith("12.000000 s"), 1000);
    refresh(5);
    QVERIFY(uptime->text(1).endsWith("12.000000 s"));
    refresh(1);
    QCOMPARE(uptime->text(1), QString(" - "));
    QCOMPARE(TopRow(Tree(), "QoS")->text(1), QString(" - "));
    // Orientation rows keep their last values.
    QCOMPARE(roll->text(1), QString("%1").arg("45.0", 10));

    // Any status value restarts the count.
    refresh(4);
    panel->On_UpdateTree_QoS(5, 4);
    refresh(5);
    QTRY_COMPARE_WITH_TIMEOUT(TopRow(Tree(), "QoS")->text(1), QString("4  Fine"), 1000);
    refresh(1);
    QCOMPARE(TopRow(Tree(), "QoS")->text(1), QString(" - "));
}

void tst_PanelCore::closingEmitsQuitOnce()
{
    const QByteArray uuid = QByteArray::fromHex("a1b2c3d4e5f60718293a4b5c6d7e8f9001020304");
    panel->Set_NodeUuid(uuid);
    panel->show();
    QSignalSpy quit(panel, &SensorPanel::Sig_Quit);
    panel->close();
    panel->close();
    QCOMPARE(quit.size(), 1);
    QCOMPARE(quit[0].at(0).toByteArray(), uuid);

    SensorPanel anonymous(9);
    QSignalSpy quitAnonymous(&anonymous, &SensorPanel::Sig_Quit);
    anonymous.show();
    anonymous.close();
    QCOMPARE(quitAnonymous.size(), 1);
    QCOMPARE(quitAnonymous[0].at(0).toByteArray(), QByteArray());
}

// Tab from the first control visits every control that takes the focus by Tab exactly once and comes
// back; the focus never lands on nothing. Shift+Tab goes the same way back.
void tst_PanelCore::tabVisitsEveryControlOnce()
{
    panel->Set_NodeFirmwareVersion(318, 70);
    panel->resize(1400, 900);
    panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    Np_Settings settings{};
    settings.settingsWord = 0x7u | (1u << 6) | (1u << 11);
    settings.odr = 100;
    panel->On_NewImuSettings(5, settings);
    QTest::qWait(100);

    const QString fault = FocusChainFault(panel, panel->findChild<QWidget *>("checkBox_Output_Status"));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

// A status message that wraps does not move the recorder's buttons.
void tst_PanelCore::recorderButtonsStayPut()
{
    panel->resize(1400, 900);
    panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    auto *record = panel->findChild<QWidget *>("pushButton_Record_StartPause");
    auto *message = panel->findChild<QLabel *>("label_Record_Msg");
    message->setText("Files saved successfully");
    QTest::qWait(50);
    const QPoint before = record->mapTo(panel, QPoint(0, 0));
    message->setText("Recording stopped: the disk does not take the data (No space left on device). The files "
                     "end with what was written.");
    QTest::qWait(50);
    QCOMPARE(record->mapTo(panel, QPoint(0, 0)), before);
}

QTEST_MAIN(tst_PanelCore)
#include "tst_panelcore.moc"
