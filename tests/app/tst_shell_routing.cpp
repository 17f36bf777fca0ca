#include "framecourier.h"
#include "gyrovane.h"
#include "nimbolink.h"
#include "portgate.h"
#include "margbench.h"
#include "marginterface.h"
#include "sensorpanel.h"
#include "unitroster.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QMdiSubWindow>
#include <QMetaMethod>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <cmath>
#include <cstring>

namespace {

QByteArray Uuid(int seed)
{
    QByteArray uuid(20, '\0');
    for (int i = 0; i < uuid.size(); ++i)
        uuid[i] = char(0x80 + seed * 17 + i);
    return uuid;
}

Np_Id IdRecord(quint16 fromId, quint16 nodeId, const QByteArray &uuid, const char *name, int nameBytes,
               std::initializer_list<int> firmware)
{
    Np_Id id{};
    id.header = Np_Header::Make(NP_CMD_ID_, fromId, NP_ID_HOST_);
    int i = 0;
    for (int byte : firmware)
        id.fwVersion[i++] = quint8(byte);
    std::memcpy(id.uuid, uuid.constData(), sizeof(id.uuid));
    std::memcpy(id.name, name, size_t(nameBytes));
    id.nodeId = nodeId;
    return id;
}

QTreeWidgetItem *RowWithId(QTreeWidget *tree, int id)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0).trimmed() == QString::number(id))
            return tree->topLevelItem(i);
    return nullptr;
}

QString ChildText(QTreeWidgetItem *row, const char *label)
{
    for (int i = 0; i < row->childCount(); ++i)
        if (row->child(i)->text(0) == QLatin1String(label))
            return row->child(i)->text(1);
    return QString();
}

// The payloads of the frames the link panel handed to the gateway, of one record type.
QList<QByteArray> SentRecords(const QSignalSpy &frames, quint8 cmd)
{
    QList<QByteArray> records;
    for (const QList<QVariant> &args : frames) {
        const QByteArray frame = args.at(0).toByteArray();
        if (frame.size() < 3 || quint8(frame[0]) != 0xAA || quint8(frame[1]) != 0x55)
            continue;
        const QByteArray payload = frame.mid(3, quint8(frame[2]));
        Np_Header header;
        std::memcpy(&header, payload.constData(), sizeof(header));
        if (header.cmd() == cmd)
            records << payload;
    }
    return records;
}

template <typename T>
T RecordOf(const QByteArray &payload)
{
    T record{};
    std::memcpy(&record, payload.constData(), qMin(int(sizeof(T)), payload.size()));
    return record;
}

// Names of the data signals a window emits, in the order it emits them.
class SignalLog : public QObject
{
    Q_OBJECT

public:
    explicit SignalLog(QObject *source)
    {
        const QMetaMethod hit = metaObject()->method(metaObject()->indexOfSlot("Hit()"));
        for (int i = 0; i < source->metaObject()->methodCount(); ++i) {
            const QMetaMethod m = source->metaObject()->method(i);
            if (m.methodType() == QMetaMethod::Signal && m.name().startsWith("Sig_NewData_"))
                connect(source, m, this, hit);
        }
    }
    QStringList names;

public slots:
    void Hit() { names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()); }
};

template <typename T>
T Stamped(quint8 cmd, quint16 fromId, quint32 timeStamp)
{
    T record{};
    record.header = Np_Header::Make(cmd, fromId, NP_ID_HOST_);
    record.timeStamp = timeStamp;
    return record;
}

Np_Raw_GyroAccMag Raw(quint16 fromId, quint32 timeStamp)
{
    auto raw = Stamped<Np_Raw_GyroAccMag>(NP_CMD_Raw_GYRO_ACC_MAG_, fromId, timeStamp);
    for (int i = 0; i < 3; ++i) {
        raw.gyro[i] = 0.1f * float(i + 1);
        raw.acc[i] = 0.2f * float(i + 1);
        raw.mag[i] = 0.3f * float(i + 1);
    }
    return raw;
}

Np_Status Status(quint16 fromId, float temperature)
{
    auto status = Stamped<Np_Status>(NP_CMD_STATUS_, fromId, 1500000);
    status.temperature = temperature;
    status.updateRate = 400;
    status.sysState = 0xFFFC; // QoS in the low three bits: 4
    return status;
}

} // namespace

class tst_ShellRouting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void identityRecordsListNodes_data();
    void identityRecordsListNodes();
    void scanAndSilenceReachTheLink();
    void nodeControlNeedsTwentyBytes();
    void newIdAndNameAreWrittenByUuid();
    void recordsBecomeDataSignalsInOrder_data();
    void recordsBecomeDataSignalsInOrder();
    void timeStampsInSecondsAndMicroseconds();
    void comboRecordConversions();
    void temperatureIsKeptPerNode();
    void nodeWindowLifecycle();
    void margBenchStandsInWhenSwitchedOn();
    void margBenchFusesEachNodeOnItsOwn();
    void benchStandsInForTheChosenNodeOnly();

private:
    // The gateway's word that a port opened: commands then leave as frames (to nowhere).
    void PretendPortOpen() { emit window->Link()->Gateway()->Sig_ReturnMsg(0, QStringLiteral("test")); }

    QTemporaryDir runtime;
    Gyrovane *window = nullptr;
    FrameCourier *courier = nullptr;
    UnitRoster *roster = nullptr;
    QTreeWidget *tree = nullptr;
};

void tst_ShellRouting::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

void tst_ShellRouting::init()
{
    window = new Gyrovane;
    courier = window->findChild<FrameCourier *>();
    roster = window->findChild<UnitRoster *>();
    tree = roster->findChild<QTreeWidget *>("treeWidget");
    QVERIFY(courier && roster && tree);
}

void tst_ShellRouting::cleanup()
{
    delete window;
    window = nullptr;
}

void tst_ShellRouting::identityRecordsListNodes_data()
{
    QTest::addColumn<int>("nodeId");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QList<int>>("firmware");
    QTest::addColumn<QString>("shownName");
    QTest::addColumn<QString>("version");

    QTest::newRow("3.1.6 build 0") << 40 << QByteArray("Bow") << QList<int>{3, 1, 6, 0} << "Bow"
                                   << "Ver. 3.1.6 (0)";
    QTest::newRow("31.8.2 build 70") << 2047 << QByteArray("ABCDEFGHIJKL") << QList<int>{31, 8, 2, 70}
                                     << "ABCDEFGHIJKL"
                                     << "Ver. 31.8.2 (70)";
    QTest::newRow("bytes above 127") << 32 << QByteArray("Mast") << QList<int>{255, 200, 128, 9} << "Mast"
                                     << "Ver. 255.200.128 (9)";
}

void tst_ShellRouting::identityRecordsListNodes()
{
    QFETCH(int, nodeId);
    QFETCH(QByteArray, name);
    QFETCH(QList<int>, firmware);
    QFETCH(QString, shownName);
    QFETCH(QString, version);

    // The id comes from the record's nodeId, not from the sender in its header.
    const Np_Id record = IdRecord(99, quint16(nodeId), Uuid(1), name.constData(), name.size(),
                                  {firmware[0], firmware[1], firmware[2], firmware[3]});
    emit courier->profile->Sig_RX_Data(record);
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem *row = RowWithId(tree, nodeId);
    QVERIFY(row);
    QCOMPARE(row->text(0).size(), 4);
    QCOMPARE(row->text(1), shownName);
    QCOMPARE(ChildText(row, "UUID"), QString::fromLatin1(Uuid(1).toHex()));
    QCOMPARE(ChildText(row, "Firmware"), version);

    // The same node again refreshes its row.
    emit courier->profile->Sig_RX_Data(IdRecord(99, 50, Uuid(1), "Later", 5, {3, 1, 6, 0}));
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(RowWithId(tree, 50)->text(1), QString("Later"));
}

void tst_ShellRouting::scanAndSilenceReachTheLink()
{
    QSignalSpy frames(window->Link(), &NimboLink::Sig_PortGate_SendData);
    PretendPortOpen();
    roster->ScanNode_Start();
    // Three nodes answer at once; each is silenced, none of the commands is lost.
    for (int seed : {1, 2, 3})
        emit courier->profile->Sig_RX_Data(
            IdRecord(32, quint16(31 + seed), Uuid(seed), "N", 1, {3, 1, 6, 0}));
    QTRY_COMPARE_WITH_TIMEOUT(SentRecords(frames, NP_CMD_NODECTRL_).size(), 4, 2000);
    roster->ScanNode_Stop();
    QTRY_COMPARE_WITH_TIMEOUT(SentRecords(frames, NP_CMD_NODECTRL_).size(), 5, 2000);

    const QList<QByteArray> ctrl = SentRecords(frames, NP_CMD_NODECTRL_);
    const QByteArray expectedUuids[] = {QByteArray(20, '\0'), Uuid(1), Uuid(2), Uuid(3),
                                        QByteArray(20, '\0')};
    const int expectedCodes[] = {3, 2, 2, 2, 3};
    for (int i = 0; i < ctrl.size(); ++i) {
        const Np_NodeCtrl record = RecordOf<Np_NodeCtrl>(ctrl[i]);
        QCOMPARE(int(record.header.toId()), 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(record.uuid), 20), expectedUuids[i]);
        QCOMPARE(int(record.ctrl), expectedCodes[i]);
    }

    const QList<QByteArray> requests = SentRecords(frames, NP_CMD_REQUEST_);
    QVERIFY(!requests.isEmpty());
    for (const QByteArray &payload : requests) {
        const Np_Request request = RecordOf<Np_Request>(payload);
        QCOMPARE(int(request.header.toId()), 0);
        QCOMPARE(int(request.cmdRequest), int(NP_CMD_ID_));
    }
}

void tst_ShellRouting::nodeControlNeedsTwentyBytes()
{
    QSignalSpy frames(window->Link(), &NimboLink::Sig_PortGate_SendData);
    PretendPortOpen();
    emit roster->Sig_NodeCtrl(Uuid(1).left(19), 2);
    emit roster->Sig_NodeCtrl(Uuid(1) + "x", 2);
    emit roster->Sig_NodeCtrl(Uuid(4), 0x102);
    QTRY_COMPARE_WITH_TIMEOUT(SentRecords(frames, NP_CMD_NODECTRL_).size(), 1, 2000);
    QTest::qWait(50);
    const QList<QByteArray> ctrl = SentRecords(frames, NP_CMD_NODECTRL_);
    QCOMPARE(ctrl.size(), 1);
    const Np_NodeCtrl record = RecordOf<Np_NodeCtrl>(ctrl[0]);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(record.uuid), 20), Uuid(4));
    QCOMPARE(int(record.ctrl), 2);
}

void tst_ShellRouting::newIdAndNameAreWrittenByUuid()
{
    QSignalSpy frames(window->Link(), &NimboLink::Sig_PortGate_SendData);
    PretendPortOpen();
    emit roster->Sig_New_NodeID(Uuid(2), 77, QByteArray("Bow"));
    QTRY_COMPARE_WITH_TIMEOUT(SentRecords(frames, NP_CMD_ID_).size(), 1, 2000);
    emit roster->Sig_New_NodeID(Uuid(3), 0x10041, QByteArray("ABCDEFGHIJKLMNOP"));
    QTRY_COMPARE_WITH_TIMEOUT(SentRecords(frames, NP_CMD_ID_).size(), 2, 2000);
    emit roster->Sig_New_NodeID(Uuid(3).left(19), 78, QByteArray("Short"));
    QTest::qWait(50);

    const QList<QByteArray> ids = SentRecords(frames, NP_CMD_ID_);
    QCOMPARE(ids.size(), 2);
    const Np_Id first = RecordOf<Np_Id>(ids[0]);
    QCOMPARE(int(first.header.toId()), 0);
    QCOMPARE(int(first.idCmd), 0);
    QCOMPARE(int(first.nodeId), 77);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(first.uuid), 20), Uuid(2));
    QCOMPARE(QByteArray(first.name, 12), QByteArray("Bow").append(9, '\0'));
    // The id goes out as 16 bits, the name as its first 12 bytes.
    const Np_Id second = RecordOf<Np_Id>(ids[1]);
    QCOMPARE(int(second.nodeId), 0x41);
    QCOMPARE(QByteArray(second.name, 12), QByteArray("ABCDEFGHIJKL"));
}

void tst_ShellRouting::recordsBecomeDataSignalsInOrder_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QStringList>("signalNames");
    const QString d = "Sig_NewData_";
    QTest::newRow("settings") << int(NP_CMD_SETTING) << QStringList{d + "Settings"};
    QTest::newRow("status") << int(NP_CMD_STATUS_)
                            << QStringList{d + "Uptime", d + "QoS", d + "ProcessRate", d + "Temperature"};
    QTest::newRow("calibration") << int(NP_CMD_CALIB_) << QStringList{d + "Calib"};
    QTest::newRow("service object") << int(NP_CMD_NSO_) << QStringList{d + "NSO"};
    QTest::newRow("raw") << int(NP_CMD_Raw_GYRO_ACC_MAG_)
                         << QStringList{d + "GyroRaw", d + "AccRaw", d + "MagRaw", d + "RecordRaw"};
    QTest::newRow("quaternion S1->S") << int(NP_CMD_Q_S1_S_) << QStringList{d + "Q_S1_S"};
    QTest::newRow("quaternion S1->E")
        << int(NP_CMD_Q_S1_E_) << QStringList{d + "Q_S1_E", d + "Record_Q_S1_E"};
    QTest::newRow("euler S1->S") << int(NP_CMD_EULER_S1_S_) << QStringList{d + "Euler_S1_S"};
    QTest::newRow("euler S1->E") << int(NP_CMD_EULER_S1_E_)
                                 << QStringList{d + "Euler_S1_E", d + "Record_Euler_S1_E"};
    QTest::newRow("rpy") << int(NP_CMD_RPY_) << QStringList{d + "RPY", d + "Record_RPY"};
    QTest::newRow("gravity") << int(NP_CMD_GRAVITY_) << QStringList{d + "Gravity", d + "Record_Gravity"};
    QTest::newRow("combo") << int(NP_CMD_COMBO_)
                           << QStringList{d + "Uptime",      d + "QoS",    d + "ProcessRate",
                                          d + "Temperature", d + "RPY",    d + "Record_RPY",
                                          d + "GyroRaw",     d + "AccRaw", d + "MagRaw",
                                          d + "RecordRaw"};
    QTest::newRow("heartbeat") << int(NP_CMD_HEARTBEAT_) << QStringList{};
    QTest::newRow("ack") << int(NP_CMD_ACK_) << QStringList{};
}

void tst_ShellRouting::recordsBecomeDataSignalsInOrder()
{
    QFETCH(int, cmd);
    QFETCH(QStringList, signalNames);
    SignalLog log(window);
    // Every record type through the profile's signal, as a received frame would come.
    QByteArray payload(44, '\0');
    const Np_Header header = Np_Header::Make(quint8(cmd), 40, NP_ID_HOST_);
    std::memcpy(payload.data(), &header, sizeof(header));
    NimboProfile *p = courier->profile;
    switch (cmd) {
    case NP_CMD_HEARTBEAT_: emit p->Sig_RX_Data(RecordOf<Np_HeartBeat>(payload)); break;
    case NP_CMD_ACK_: emit p->Sig_RX_Data(RecordOf<Np_Ack>(payload)); break;
    case NP_CMD_SETTING: emit p->Sig_RX_Data(RecordOf<Np_Settings>(payload)); break;
    case NP_CMD_STATUS_: emit p->Sig_RX_Data(RecordOf<Np_Status>(payload)); break;
    case NP_CMD_CALIB_: emit p->Sig_RX_Data(RecordOf<Np_Calib>(payload)); break;
    case NP_CMD_NSO_: emit p->Sig_RX_Data(RecordOf<Np_NSO>(payload)); break;
    case NP_CMD_Raw_GYRO_ACC_MAG_: emit p->Sig_RX_Data(RecordOf<Np_Raw_GyroAccMag>(payload)); break;
    case NP_CMD_Q_S1_S_: emit p->Sig_RX_Data(RecordOf<Np_Q_s1_s>(payload)); break;
    case NP_CMD_Q_S1_E_: emit p->Sig_RX_Data(RecordOf<Np_Q_s1_e>(payload)); break;
    case NP_CMD_EULER_S1_S_: emit p->Sig_RX_Data(RecordOf<Np_Euler_s1_s>(payload)); break;
    case NP_CMD_EULER_S1_E_: emit p->Sig_RX_Data(RecordOf<Np_Euler_s1_e>(payload)); break;
    case NP_CMD_RPY_: emit p->Sig_RX_Data(RecordOf<Np_RPY>(payload)); break;
    case NP_CMD_GRAVITY_: emit p->Sig_RX_Data(RecordOf<Np_Gravity>(payload)); break;
    case NP_CMD_COMBO_: emit p->Sig_RX_Data(RecordOf<Np_Combo>(payload)); break;
    }
    QCOMPARE(log.names, signalNames);
}

void tst_ShellRouting::timeStampsInSecondsAndMicroseconds()
{
    QSignalSpy record(window, &Gyrovane::Sig_NewData_RecordRaw);
    QSignalSpy gyro(window, &Gyrovane::Sig_NewData_GyroRaw);
    QSignalSpy rpy(window, &Gyrovane::Sig_NewData_Record_RPY);
    QSignalSpy uptime(window, &Gyrovane::Sig_NewData_Uptime);
    emit courier->profile->Sig_RX_Data(Raw(40, 2500000));
    // The largest time stamp keeps every microsecond in both units.
    emit courier->profile->Sig_RX_Data(Stamped<Np_RPY>(NP_CMD_RPY_, 40, 0xFFFFFFFFu));
    emit courier->profile->Sig_RX_Data(Status(41, 20.0f));

    QCOMPARE(record[0].at(0).value<quint16>(), quint16(40));
    QCOMPARE(record[0].at(1).toDouble(), 2.5);
    QCOMPARE(record[0].at(3).toFloat(), 0.1f);
    QCOMPARE(record[0].at(11).toFloat(), 0.3f * 3);
    QCOMPARE(gyro[0].at(4).toDouble(), 2500000.0);
    QCOMPARE(rpy[0].at(1).toDouble(), 4294.967295);
    QCOMPARE(uptime[0].at(0).value<quint16>(), quint16(41));
    QCOMPARE(uptime[0].at(1).toDouble(), 1.5);
}

void tst_ShellRouting::comboRecordConversions()
{
    auto combo = Stamped<Np_Combo>(NP_CMD_COMBO_, 41, 3000000);
    combo.heading = 9000;
    combo.gyroZ = -1500;
    combo.qos = 0xFD; // low three bits: 5
    combo.value2 = 12345;
    QSignalSpy rpy(window, &Gyrovane::Sig_NewData_RPY);
    QSignalSpy gyro(window, &Gyrovane::Sig_NewData_GyroRaw);
    QSignalSpy acc(window, &Gyrovane::Sig_NewData_AccRaw);
    QSignalSpy qos(window, &Gyrovane::Sig_NewData_QoS);
    QSignalSpy record(window, &Gyrovane::Sig_NewData_RecordRaw);
    emit courier->profile->Sig_RX_Data(Status(41, 30.0f));
    emit courier->profile->Sig_RX_Data(combo);

    QCOMPARE(rpy[0].at(3).toFloat(), 90.0f);
    QCOMPARE(rpy[0].at(1).toFloat(), 0.0f);
    const float wz = float(-1500) * 0.01f * 0.017453292f;
    QCOMPARE(gyro[0].at(3).toFloat(), wz);
    QVERIFY(qAbs(wz + 0.2618f) < 1e-4f);
    QCOMPARE(gyro[0].at(4).toDouble(), 3000000.0);
    QCOMPARE(acc[0].at(3).toFloat(), 0.0f);
    QCOMPARE(qos.last().at(1).toInt(), 5);
    const QList<QVariant> raw = record[0];
    QCOMPARE(raw.at(1).toDouble(), 3.0);
    QCOMPARE(raw.at(2).toFloat(), 0.0f); // the combined record has no temperature
    QCOMPARE(raw.at(5).toFloat(), wz);
    for (int i : {3, 4, 6, 7, 8, 9, 10, 11})
        QCOMPARE(raw.at(i).toFloat(), 0.0f);
}

void tst_ShellRouting::temperatureIsKeptPerNode()
{
    QSignalSpy record(window, &Gyrovane::Sig_NewData_RecordRaw);
    auto send = [&](auto received) { emit courier->profile->Sig_RX_Data(received); };
    send(Status(40, 31.5f));
    send(Status(41, 19.25f));
    send(Raw(40, 1));
    send(Raw(41, 2));
    // A combined record sets its own node's temperature to 0, nobody else's.
    send(Stamped<Np_Combo>(NP_CMD_COMBO_, 41, 3));
    send(Raw(41, 4));
    send(Raw(40, 5));
    send(Raw(42, 6)); // a node that never sent its status

    QList<float> temperatures;
    for (const QList<QVariant> &args : record)
        if (args.at(1).toDouble() > 0.0)
            temperatures << args.at(2).toFloat();
    QCOMPARE(temperatures, (QList<float>{31.5f, 19.25f, 0.0f, 0.0f, 31.5f, 0.0f}));
}

void tst_ShellRouting::nodeWindowLifecycle()
{
    const QByteArray uuid = Uuid(7);
    window->On_CreateNode(uuid, 40, "Bow", 318, 70);
    SensorPanel *panel = window->NodeWindows().value(uuid);
    QVERIFY(panel);
    QCOMPARE(panel->windowTitle(), QString("Bow  [40]"));
    QCOMPARE(panel->Model().Family(), 3);
    // Opening it again changes nothing.
    window->On_CreateNode(uuid, 41, "Other", 31, 0);
    QCOMPARE(window->NodeWindows().size(), 1);
    QCOMPARE(window->NodeWindows().value(uuid), panel);

    // Edits from the node list reach the open window at once.
    emit roster->Sig_New_NodeID(uuid, 77, QByteArray("Prow\0\0\0\0\0\0\0\0", 12));
    QCOMPARE(panel->windowTitle(), QString("Prow  [77]"));
    QCOMPARE(panel->Get_NodeID(), quint16(77));

    // Records reach it, and only its own.
    QSignalSpy box(panel, &SensorPanel::Sig_Update_BoxView);
    auto q = Stamped<Np_Q_s1_e>(NP_CMD_Q_S1_E_, 77, 1);
    q.q[0] = 1.0f;
    emit courier->profile->Sig_RX_Data(q);
    q.header.setFromId(40);
    emit courier->profile->Sig_RX_Data(q);
    QCOMPARE(box.size(), 1);

    // Closed through its sub-window: gone from the map, deleted once back in the event loop, and
    // nothing reaches it meanwhile. The shell undoes only its own connections: another listener of
    // the window's Sig_Quit, connected after the shell's, still hears it, once.
    QPointer<SensorPanel> watched = panel;
    QPointer<QWidget> subWindow = panel->parentWidget();
    QSignalSpy quits(panel, &SensorPanel::Sig_Quit);
    window->On_CloseNode(uuid);
    QCOMPARE(quits.count(), 1);
    QVERIFY(!window->NodeWindows().contains(uuid));
    q.header.setFromId(77);
    emit courier->profile->Sig_RX_Data(q);
    QCOMPARE(box.size(), 1);
    QTRY_VERIFY(watched.isNull() && subWindow.isNull());
    // Requests for a closed node do nothing.
    window->On_CloseNode(uuid);
    window->On_RemoveNode(uuid);
    window->On_ChangeNodeId(uuid, 5);

    // The window's own close box takes the same road.
    window->On_CreateNode(uuid, 40, "Bow", 318, 70);
    watched = window->NodeWindows().value(uuid);
    QVERIFY(watched);
    qobject_cast<QMdiSubWindow *>(watched->parentWidget())->close();
    QVERIFY(window->NodeWindows().isEmpty());
    QTRY_VERIFY(watched.isNull());
}

QTEST_MAIN(tst_ShellRouting)
#include "tst_shell_routing.moc"

void tst_ShellRouting::margBenchStandsInWhenSwitchedOn()
{
    auto *useBench = window->findChild<QCheckBox *>("checkBox_UseMargBench");
    QVERIFY(useBench && useBench->isHidden() && !useBench->isChecked());
    const MargBench *bench = window->Bench();
    QVERIFY(bench && !bench->parent() && !bench->isVisible());

    QSignalSpy q(window, &Gyrovane::Sig_NewData_Q_S1_E);
    QSignalSpy rpy(window, &Gyrovane::Sig_NewData_RPY);
    QSignalSpy recordQ(window, &Gyrovane::Sig_NewData_Record_Q_S1_E);
    QSignalSpy recordRpy(window, &Gyrovane::Sig_NewData_Record_RPY);
    auto nodeOwn = [&](quint16 node) {
        auto quaternion = Stamped<Np_Q_s1_e>(NP_CMD_Q_S1_E_, node, 5);
        quaternion.q[0] = 0.5f;
        emit courier->profile->Sig_RX_Data(quaternion);
        emit courier->profile->Sig_RX_Data(Stamped<Np_RPY>(NP_CMD_RPY_, node, 5));
    };

    // Switched on from the start: a node's first raw record's step is its own time stamp.
    useBench->setChecked(true);
    emit courier->profile->Sig_RX_Data(Raw(40, 2500000));
    QCOMPARE(bench->LastTimeStep(), 2500000.0f);
    // Each node has its own last time stamp (and its own filter); it wraps modulo 2^32.
    emit courier->profile->Sig_RX_Data(Raw(41, 2600000));
    QCOMPARE(bench->NodeInterface(41) != bench->NodeInterface(40), true);
    emit courier->profile->Sig_RX_Data(Raw(40, 0xFFFFFF00u));
    emit courier->profile->Sig_RX_Data(Raw(40, 0x100u));
    QCOMPARE(bench->LastTimeStep(), 512.0f);

    // One bench quaternion and one roll/pitch/yaw per raw record; the node's own are dropped,
    // for the recorder too.
    nodeOwn(40);
    QCOMPARE(q.count(), 4);
    QCOMPARE(rpy.count(), 4);
    QCOMPARE(recordQ.count(), 0);
    QCOMPARE(recordRpy.count(), 0);
    const float *out = bench->Interface()->OutputQuaternion();
    for (int i = 0; i < 4; ++i)
        QCOMPARE(q.last().at(1 + i).toFloat(), out[i]);
    QCOMPARE(q.last().at(0).value<quint16>(), quint16(40));
    QCOMPARE(rpy.last().at(1).toFloat(), bench->Interface()->Roll());
    QCOMPARE(rpy.last().at(3).toFloat(), bench->Interface()->Yaw());

    // Switched off: the node's own attitude again, and raw records feed the bench no more, though
    // they still set the node's time stamp.
    useBench->setChecked(false);
    q.clear();
    rpy.clear();
    emit courier->profile->Sig_RX_Data(Raw(41, 0x300u));
    QCOMPARE(q.count(), 0);
    QCOMPARE(bench->LastTimeStep(), 512.0f);
    nodeOwn(41);
    QCOMPARE(q.count(), 1);
    QCOMPARE(q.last().at(1).toFloat(), 0.5f);
    QCOMPARE(rpy.count(), 1);
    QCOMPARE(recordQ.count(), 1);
    QCOMPARE(recordRpy.count(), 1);
    useBench->setChecked(true);
    emit courier->profile->Sig_RX_Data(Raw(40, 0x500u));
    QCOMPARE(bench->LastTimeStep(), 1024.0f);
}

void tst_ShellRouting::margBenchFusesEachNodeOnItsOwn()
{
    // Two nodes in different attitudes, their raw records interleaved at 800 Hz: each window's
    // attitude follows its own sensor.
    window->findChild<QCheckBox *>("checkBox_UseMargBench")->setChecked(true);
    QSignalSpy rpy(window, &Gyrovane::Sig_NewData_RPY);
    // Still, rolled by `roll` degrees about x: gravity and the Earth's field seen in the sensor's frame.
    auto raw = [](quint16 node, quint32 stamp, double roll) {
        Np_Raw_GyroAccMag r = Raw(node, stamp);
        const double s = std::sin(roll * M_PI / 180.0), c = std::cos(roll * M_PI / 180.0);
        std::fill(std::begin(r.gyro), std::end(r.gyro), 0.0f);
        const double gravity[3] = {0.0, 0.0, 1.0}, field[3] = {0.4, 0.0, 0.9};
        for (int k = 0; k < 3; ++k) {
            const double *v = k == 0 ? gravity : field;
            float *out = k == 0 ? r.acc : r.mag;
            out[0] = float(v[0]);
            out[1] = float(v[1] * c + v[2] * s);
            out[2] = float(-v[1] * s + v[2] * c);
            if (k == 1)
                break;
        }
        return r;
    };
    // Each node's attitude is what a filter of its own makes of its samples alone.
    MargInterface alone[2];
    quint32 last[2] = {0, 0};
    float expected[2] = {};
    for (int i = 0; i < 4000; ++i) {
        const quint32 stamp = 1000000u + quint32(i) * 1250u;
        for (int n = 0; n < 2; ++n) {
            const Np_Raw_GyroAccMag r = raw(quint16(40 + n), stamp + quint32(n) * 300u, n ? 30.0 : 0.0);
            emit courier->profile->Sig_RX_Data(r);
            if (i == 0)
                alone[n].Load_CalibData();
            float q[4];
            alone[n].Process_Sample(float(r.timeStamp - last[n]) * 0.000001f, r.gyro[0], r.gyro[1], r.gyro[2],
                                    r.acc[0], r.acc[1], r.acc[2], r.mag[0], r.mag[1], r.mag[2], q[0], q[1], q[2],
                                    q[3]);
            last[n] = r.timeStamp;
            expected[n] = alone[n].Roll();
        }
    }
    float roll[2] = {};
    for (const QList<QVariant> &a : rpy)
        roll[a.at(0).value<quint16>() - 40] = a.at(1).toFloat();
    QCOMPARE(roll[0], expected[0]);
    QCOMPARE(roll[1], expected[1]);
    // The two sensors' attitudes differ by about their 30 degrees.
    QVERIFY2(qAbs(roll[1] - roll[0]) > 25.0f, qPrintable(QString("%1 %2").arg(roll[0]).arg(roll[1])));
}

void tst_ShellRouting::benchStandsInForTheChosenNodeOnly()
{
    QSignalSpy q(window, &Gyrovane::Sig_NewData_Q_S1_E);
    auto *nodes = window->Bench()->findChild<QComboBox *>("comboBox_MargNode");
    auto *switchIn = window->Bench()->findChild<QCheckBox *>("checkBox_MargSwitchIn");
    QVERIFY(nodes && switchIn);
    auto quaternionsOf = [&](quint16 node) {
        int n = 0;
        for (const QList<QVariant> &a : q)
            n += a.at(0).value<quint16>() == node;
        return n;
    };
    auto own = [&](quint16 node) {
        auto quaternion = Stamped<Np_Q_s1_e>(NP_CMD_Q_S1_E_, node, 5);
        quaternion.q[0] = 0.25f;
        emit courier->profile->Sig_RX_Data(quaternion);
    };

    // Streaming nodes are listed; the first is chosen. Closed and not switched in, the bench
    // filters nothing.
    emit courier->profile->Sig_RX_Data(Raw(41, 1000));
    emit courier->profile->Sig_RX_Data(Raw(40, 1000));
    QCOMPARE(nodes->count(), 2);
    QCOMPARE(nodes->itemText(0), QStringLiteral("Node 40"));
    QCOMPARE(window->Bench()->ChosenNode(), 41);
    QCOMPARE(window->Bench()->LastTimeStep(), 0.0f);

    // Opened from the main window's tool button, it filters the chosen node; the windows keep
    // the node's own attitude until it is switched in.
    auto *open = window->findChild<QPushButton *>("pushButton_MargBench");
    QCOMPARE(open->toolTip(), QStringLiteral("MARG bench: attitude filter and field calibration"));
    open->click();
    QVERIFY(window->Bench()->isVisible());
    emit courier->profile->Sig_RX_Data(Raw(41, 2250));
    QCOMPARE(window->Bench()->LastTimeStep(), 1250.0f);
    QCOMPARE(q.count(), 0);

    switchIn->setChecked(true);
    emit courier->profile->Sig_RX_Data(Raw(41, 3500));
    emit courier->profile->Sig_RX_Data(Raw(40, 3500));
    own(41);
    own(40);
    QCOMPARE(quaternionsOf(41), 1); // the bench's, from the raw record
    QCOMPARE(quaternionsOf(40), 1); // the node's own
    QCOMPARE(q.last().at(1).toFloat(), 0.25f);

    // Another node chosen: the stand-in moves with it.
    nodes->setCurrentIndex(nodes->findData(40));
    q.clear();
    emit courier->profile->Sig_RX_Data(Raw(40, 4750));
    own(40);
    own(41);
    QCOMPARE(quaternionsOf(40), 1);
    QVERIFY(q.first().at(1).toFloat() != 0.25f);
    QCOMPARE(quaternionsOf(41), 1);
    window->Bench()->close();
}
