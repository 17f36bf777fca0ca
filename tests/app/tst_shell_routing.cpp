#include "framecourier.h"
#include "gyrovane.h"
#include "unitroster.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

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

private:
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
    QSignalSpy frames(courier, &FrameCourier::Sig_PortGate_SendData);
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
    QSignalSpy frames(courier, &FrameCourier::Sig_PortGate_SendData);
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
    QSignalSpy frames(courier, &FrameCourier::Sig_PortGate_SendData);
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

QTEST_MAIN(tst_ShellRouting)
#include "tst_shell_routing.moc"
