#include "nimboobjectdictionary.h"
#include "testframes.h"

#include <QtTest>

using namespace testframes;

namespace {

int Store(NimboObjectDictionary &od, QByteArray bytes, Np_Header *header = nullptr)
{
    return od.Write(bytes.data(), bytes.size(), header);
}

QByteArray Stored(NimboObjectDictionary &od, quint8 cmd)
{
    char *data = nullptr;
    int length = 0;
    if (od.Read(cmd, &data, &length) != NP_SUCC_)
        return QByteArray();
    const QByteArray copy(data, length);
    od.NOD_DB_SetReadProtect(cmd, false);
    return copy;
}

Np_Id IdWithFirmware(quint8 major, quint8 minor, quint16 fromId = 40)
{
    Np_Id id{};
    id.header = Np_Header::Make(NP_CMD_ID_, fromId, NP_ID_HOST_);
    id.fwVersion[0] = major;
    id.fwVersion[1] = minor;
    id.fwVersion[2] = 2;
    id.fwVersion[3] = 70;
    return id;
}

// Store an Np_Id as received and read it out, which is what selects the settings layout.
void ReceiveId(NimboObjectDictionary &od, quint8 major, quint8 minor)
{
    QCOMPARE(Store(od, Bytes(IdWithFirmware(major, minor))), NP_SUCC_);
    Np_Id out;
    QCOMPARE(od.Read_Np_Id(&out), NP_SUCC_);
}

} // namespace

class tst_Dictionary : public QObject
{
    Q_OBJECT

private slots:
    void staticTableInKeyOrder();
    void headerBitFields();
    void lengthRules_data();
    void lengthRules();
    void protectAndLockFlags();
    void versionFollowsLatestId();
    void legacyBitMapping_data();
    void legacyBitMapping();
    void legacyRecordReadAsCurrent();
    void buildersFillHeaderAndFields();
    void buildersRefuseBadArguments();
    void goldenPayloadsRoundTrip();
    void recordTypesRegisteredByName();
};

void tst_Dictionary::staticTableInKeyOrder()
{
    const int expected[][2] = {{11, 4},  {12, 8},  {13, 8},  {21, 24}, {22, 16}, {23, 16}, {24, 44},
                               {27, 16}, {25, 28}, {26, 16}, {41, 44}, {42, 44}, {31, 24}, {32, 24},
                               {33, 20}, {34, 20}, {35, 20}, {36, 20}, {43, 32}, {44, 8}};
    NimboObjectDictionary od;
    QCOMPARE(od.Get_MaxSize(), 44);
    for (int key = 0; key < 20; ++key) {
        QCOMPARE(int(NimboObjectDictionary::kStaticTable[key].cmd), expected[key][0]);
        QCOMPARE(NimboObjectDictionary::kStaticTable[key].size, expected[key][1]);
        QCOMPARE(od.NOD_DB_FindKey(quint8(expected[key][0])), key);
        QCOMPARE(od.Get_Flags(quint8(expected[key][0])), quint8(NimboObjectDictionary::FLAG_UNLOCKED));
    }
    for (int cmd : {0, 1, 10, 14, 20, 28, 30, 37, 40, 45, 127, 128, 255})
        QCOMPARE(od.NOD_DB_FindKey(quint8(cmd)), -1);
}

void tst_Dictionary::headerBitFields()
{
    const Np_Header h = Np_Header::Make(35, 2047, 1234);
    QCOMPARE(h.word(), HeaderWord(35, 2047, 1234));
    QCOMPARE(int(h.cmd()), 35);
    QCOMPARE(int(h.fromId()), 2047);
    QCOMPARE(int(h.toId()), 1234);
    QCOMPARE(int(h.res()), 0);
    // Little-endian on the wire: the golden heartbeat header 0b a0 40 00 is cmd 11 from 40 to 2.
    Np_Header golden;
    memcpy(golden.raw, "\x0b\xa0\x40\x00", 4);
    QCOMPARE(int(golden.cmd()), 11);
    QCOMPARE(int(golden.fromId()), 40);
    QCOMPARE(int(golden.toId()), 2);
    // Setters touch only their own bits.
    Np_Header all;
    all.setWord(0xFFFFFFFFu);
    all.setFromId(0);
    QCOMPARE(all.word(), 0xFFFFFFFFu & ~(0x7FFu << 10));
    all.setRes(0);
    QCOMPARE(int(all.res()), 0);
    QCOMPARE(int(all.cmd()), 127);
    QCOMPARE(int(all.toId()), 2047);
    all.setToId(4095); // wider than the field: masked
    QCOMPARE(int(all.toId()), 2047);
    QCOMPARE(int(all.fromId()), 0);
}

void tst_Dictionary::lengthRules_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("result");
    QTest::newRow("3 bytes") << QByteArray("\x23\xa0\x40", 3) << NP_FAIL_;
    QTest::newRow("unknown cmd 14") << Payload(14, 40, 2, 8) << NP_FAIL_;
    QTest::newRow("rpy one byte short") << Payload(35, 40, 2, 19) << NP_FAIL_;
    QTest::newRow("rpy one byte long") << Payload(35, 40, 2, 21) << NP_FAIL_;
    QTest::newRow("legacy settings while current") << Payload(21, 40, 2, 20) << NP_FAIL_;
    QTest::newRow("rpy") << Payload(35, 40, 2, 20) << NP_SUCC_;
    QTest::newRow("heartbeat") << Payload(11, 40, 2, 4) << NP_SUCC_;
}

void tst_Dictionary::lengthRules()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, result);
    NimboObjectDictionary od;
    QByteArray before[20];
    for (int key = 0; key < 20; ++key)
        before[key] = Stored(od, NimboObjectDictionary::kStaticTable[key].cmd);
    Np_Header header{};
    QCOMPARE(Store(od, bytes, &header), result);
    for (int key = 0; key < 20; ++key) {
        const quint8 cmd = NimboObjectDictionary::kStaticTable[key].cmd;
        const QByteArray now = Stored(od, cmd);
        if (result == NP_SUCC_ && bytes.size() >= 4 && cmd == quint8(bytes[0] & 0x7F))
            QCOMPARE(now, bytes);
        else
            QCOMPARE(now, before[key]);
        QCOMPARE(od.Get_Flags(cmd), quint8(NimboObjectDictionary::FLAG_UNLOCKED));
    }
    if (bytes.size() >= 4)
        QCOMPARE(header.word(), qFromLittleEndian<quint32>(bytes.constData()));
}

void tst_Dictionary::protectAndLockFlags()
{
    NimboObjectDictionary od;
    const QByteArray first = Payload(35, 40, 2, 20, 1), second = Payload(35, 40, 2, 20, 2);
    QCOMPARE(Store(od, first), NP_SUCC_);

    // Write-protect: a record queued for sending survives an arriving one.
    QCOMPARE(od.NOD_DB_SetWriteProtect(35, true), NP_SUCC_);
    QCOMPARE(od.NOD_DB_SetWriteProtect(35, true), NP_MUTEX_LOCKED_);
    QCOMPARE(Store(od, second), NP_MUTEX_LOCKED_);
    QCOMPARE(od.Write_Header_toId(35, 77), NP_MUTEX_LOCKED_);
    Np_RPY rpy;
    QCOMPARE(od.Read_Np_RPY(&rpy), NP_SUCC_); // reading is still allowed
    QCOMPARE(Bytes(rpy), first);
    QCOMPARE(od.NOD_DB_SetWriteProtect(35, false), NP_SUCC_);
    QCOMPARE(od.NOD_DB_SetWriteProtect(35, false), NP_SUCC_);
    QCOMPARE(Store(od, second), NP_SUCC_);

    // Read-protect: one reader at a time; no writes and no header reads meanwhile.
    char *data = nullptr;
    int length = 0;
    QCOMPARE(od.Read(35, &data, &length), NP_SUCC_);
    QCOMPARE(length, 20);
    QCOMPARE(QByteArray(data, length), second);
    QCOMPARE(od.Read(35, &data, &length), NP_MUTEX_LOCKED_);
    QCOMPARE(od.Read_Np_RPY(&rpy), NP_MUTEX_LOCKED_);
    Np_Header h;
    QCOMPARE(od.Read_Header(35, &h), NP_MUTEX_LOCKED_);
    QCOMPARE(Store(od, first), NP_MUTEX_LOCKED_);
    QCOMPARE(od.NOD_DB_SetReadProtect(35, true), NP_MUTEX_LOCKED_);
    QCOMPARE(od.NOD_DB_SetReadProtect(35, false), NP_SUCC_);
    QCOMPARE(od.Read_Header(35, &h), NP_SUCC_);
    QCOMPARE(int(h.cmd()), 35);

    // Other entries are independent of this one.
    QCOMPARE(od.NOD_DB_SetWriteProtect(22, true), NP_SUCC_);
    QCOMPARE(Store(od, first), NP_SUCC_);
    QCOMPARE(od.Read_Np_RPY(nullptr), NP_FAIL_);
    QCOMPARE(od.NOD_DB_SetWriteProtect(14, true), NP_FAIL_);
    QCOMPARE(od.Read(14, &data, &length), NP_FAIL_);

    // Header writes: only a header of the entry's own type, and only for a record that was stored.
    QCOMPARE(od.Write_Header_toId(35, 1234), NP_SUCC_);
    QCOMPARE(od.Read_Header(35, &h), NP_SUCC_);
    QCOMPARE(int(h.toId()), 1234);
    QCOMPARE(int(h.fromId()), 40);
    QCOMPARE(od.Write_Header(35, Np_Header::Make(36, 2, 0)), NP_FAIL_);
    QCOMPARE(od.Write_Header_toId(36, 5), NP_FAIL_); // never stored
}

void tst_Dictionary::versionFollowsLatestId()
{
    NimboObjectDictionary od;
    const QByteArray current = Payload(21, 40, 2, 24), legacy = Payload(21, 41, 2, 20);
    QCOMPARE(od.Get_Version(), 0);
    QCOMPARE(Store(od, current), NP_SUCC_);

    ReceiveId(od, 3, 1); // 3.1.x: legacy layout
    QCOMPARE(od.Get_Version(), 318);
    QCOMPARE(od.Get_Size(21), 20);
    QCOMPARE(Store(od, current), NP_FAIL_);
    QCOMPARE(Store(od, legacy), NP_SUCC_);

    ReceiveId(od, 3, 0); // 3.0.x keeps the current layout
    QCOMPARE(od.Get_Version(), 0);
    QCOMPARE(Store(od, legacy), NP_FAIL_);
    QCOMPARE(Store(od, current), NP_SUCC_);
    QCOMPARE(Stored(od, 21), current); // the current copy was kept apart from the legacy one

    ReceiveId(od, 31, 8);
    QCOMPARE(od.Get_Version(), 0);
    ReceiveId(od, 3, 9);
    QCOMPARE(od.Get_Version(), 318);
    ReceiveId(od, 4, 2);
    QCOMPARE(od.Get_Version(), 0);

    // No layout change while the settings entry is busy; the busy entry keeps its size.
    QCOMPARE(od.NOD_DB_SetWriteProtect(21, true), NP_SUCC_);
    QCOMPARE(od.Set_Version(318), NP_MUTEX_LOCKED_);
    ReceiveId(od, 3, 1);
    QCOMPARE(od.Get_Version(), 0);
    QCOMPARE(od.Get_Size(21), 24);
    od.NOD_DB_SetWriteProtect(21, false);
    QCOMPARE(od.Set_Version(318), NP_SUCC_);
    QCOMPARE(od.Set_Version(7), NP_SUCC_); // stored, nothing else changes
    QCOMPARE(od.Get_Version(), 7);
    QCOMPARE(od.Get_Size(21), 20);
}

void tst_Dictionary::legacyBitMapping_data()
{
    QTest::addColumn<int>("currentBit");
    QTest::addColumn<int>("legacyBit"); // -1: absent in the legacy word
    for (int bit = 0; bit < 32; ++bit) {
        int legacy = -1;
        if (bit <= 2)
            legacy = bit;
        else if (bit >= 4 && bit <= 25)
            legacy = bit - 1;
        QTest::addRow("current bit %d", bit) << bit << legacy;
    }
}

void tst_Dictionary::legacyBitMapping()
{
    QFETCH(int, currentBit);
    QFETCH(int, legacyBit);
    const quint32 legacyWord = legacyBit < 0 ? 0u : 1u << legacyBit;
    QCOMPARE(NimboObjectDictionary::LegacyWordFromCurrent(1u << currentBit), legacyWord);
    if (legacyBit >= 0)
        QCOMPARE(NimboObjectDictionary::CurrentWordFromLegacy(1u << legacyBit), 1u << currentBit);

    // Through the dictionary: current settings written in legacy mode become a 20-byte record.
    NimboObjectDictionary od;
    od.Set_Version(318);
    Np_Settings s{};
    s.settingsWord = 1u << currentBit;
    s.reserved0 = 0x1111;
    s.uart2Baud = 1152;
    s.can1Bitrate = 10000;
    s.fusionParamAcc = 55;
    s.fusionParamMag = 66;
    s.inhibitTime = 77;
    s.silentTime = 88;
    s.odr = 100;
    QCOMPARE(od.Write_Np_Settings(40, s), NP_SUCC_);
    const QByteArray stored = Stored(od, 21);
    QCOMPARE(stored.size(), 20);
    const auto legacy = FromBytes<Np_Settings_V318>(stored);
    QCOMPARE(legacy.settingsWord, legacyWord);
    QCOMPARE(int(legacy.header.cmd()), 21);
    QCOMPARE(int(legacy.header.toId()), 40);
    QCOMPARE(int(legacy.header.fromId()), 2);
    QCOMPARE(legacy.reserved0, quint16(0x1111));
    QCOMPARE(legacy.uart2Baud, quint16(1152));
    QCOMPARE(legacy.can1Bitrate, quint16(10000));
    QCOMPARE(legacy.fusionParamAcc, quint16(55));
    QCOMPARE(legacy.fusionParamMag, quint16(66));
    QCOMPARE(legacy.inhibitTime, quint16(77));
}

void tst_Dictionary::legacyRecordReadAsCurrent()
{
    NimboObjectDictionary od;
    ReceiveId(od, 3, 1);
    Np_Settings_V318 legacy{};
    legacy.header = Np_Header::Make(21, 41, 2);
    legacy.settingsWord = (1u << 3) | (1u << 0) | (1u << 24) | (1u << 25) | (1u << 31);
    legacy.uart2Baud = 1152;
    legacy.inhibitTime = 9;
    QCOMPARE(Store(od, Bytes(legacy)), NP_SUCC_);
    Np_Settings s;
    QCOMPARE(od.Read_Np_Settings(&s), NP_SUCC_);
    QCOMPARE(s.settingsWord, (1u << 4) | (1u << 0) | (1u << 25)); // legacy 24 -> 25; 25..31 are not carried
    QCOMPARE(s.uart2Baud, quint16(1152));
    QCOMPARE(s.inhibitTime, quint16(9));
    QCOMPARE(s.silentTime, quint16(0));
    QCOMPARE(s.odr, quint16(0));
    QCOMPARE(int(s.header.fromId()), 41);
    QCOMPARE(od.Get_Flags(21), quint8(NimboObjectDictionary::FLAG_UNLOCKED));

    // The golden legacy frame from the reference encoder reads the same way.
    for (const GoldenFrame &g : LoadGoldenFrames()) {
        if (g.record != "Np_Settings_V318")
            continue;
        QCOMPARE(Store(od, g.payload), NP_SUCC_);
        QCOMPARE(od.Read_Np_Settings(&s), NP_SUCC_);
        const auto raw = FromBytes<Np_Settings_V318>(g.payload);
        QCOMPARE(s.settingsWord, NimboObjectDictionary::CurrentWordFromLegacy(raw.settingsWord));
        QCOMPARE(s.fusionParamMag, raw.fusionParamMag);
        QCOMPARE(s.inhibitTime, raw.inhibitTime);
    }
}

void tst_Dictionary::buildersFillHeaderAndFields()
{
    NimboObjectDictionary od;
    QCOMPARE(od.Write_Np_Request(33, 21), NP_SUCC_);
    QCOMPARE(Stored(od, 12).toHex(), Bytes(HeaderWord(12, 2, 33)).toHex() + "15000000");

    QCOMPARE(od.Write_Np_Calib(40, 4, 3, 0xAA35, 0x01020304, 0xA0B0C0D0), NP_SUCC_);
    QCOMPARE(Stored(od, 23).toHex(), Bytes(HeaderWord(23, 2, 40)).toHex() + "040335aa04030201d0c0b0a0");

    quint8 uuid[20];
    for (int i = 0; i < 20; ++i)
        uuid[i] = quint8(0xF0 + i);
    char name[12] = {'F', 'r', 'o', 'n', 't'};
    QCOMPARE(od.Write_Np_Id(0, 0, 0x0123, uuid, 20, name, 12), NP_SUCC_);
    const auto id = FromBytes<Np_Id>(Stored(od, 24));
    QCOMPARE(id.header.word(), HeaderWord(24, 2, 0));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(id.fwVersion), 4), QByteArray(4, '\0'));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(id.uuid), 20),
             QByteArray(reinterpret_cast<char *>(uuid), 20));
    QCOMPARE(QByteArray(id.name, 12), QByteArray(name, 12));
    QCOMPARE(Stored(od, 24).mid(40).toHex(), QByteArray("00002301"));

    QCOMPARE(od.Write_Np_NodeCtrl(0, uuid, 20, 2), NP_SUCC_);
    QCOMPARE(Stored(od, 25).mid(24).toHex(), QByteArray("02000000"));

    Np_NSO nso{};
    nso.header = Np_Header::Make(99, 99, 99); // replaced by the builder
    nso.nsoCmd = 0x22;
    nso.padding0 = 0xEE; // padding always goes out as 0
    nso.nsoIndex = 0x23A4;
    nso.nsoSubIndex = 1;
    nso.nsoValue = 0x12345678;
    QCOMPARE(od.Write_Np_NSO(40, nso), NP_SUCC_);
    QCOMPARE(Stored(od, 26).toHex(), Bytes(HeaderWord(26, 8, 40)).toHex() + "2200a42301000000"
                                                                            "78563412");

    Np_Settings s{};
    s.settingsWord = 0x0BADF00D;
    s.odr = 800;
    QCOMPARE(od.Write_Np_Settings(40, s), NP_SUCC_);
    const auto stored = FromBytes<Np_Settings>(Stored(od, 21));
    QCOMPARE(stored.header.word(), HeaderWord(21, 2, 40));
    QCOMPARE(stored.settingsWord, 0x0BADF00Du);
    QCOMPARE(stored.odr, quint16(800));

    QCOMPARE(od.Write_Np_Ack(40, 21), NP_SUCC_);
    QCOMPARE(Stored(od, 13).toHex(), Bytes(HeaderWord(13, 2, 40)).toHex() + "15000000");
    QCOMPARE(od.Write_Np_HeartBeat(0), NP_SUCC_);
    QCOMPARE(Stored(od, 11).toHex(), Bytes(HeaderWord(11, 2, 0)).toHex());
    Np_Combo combo{};
    combo.heading = 36000;
    combo.padding1[3] = 9;
    QCOMPARE(od.Write_Np_Combo(3, combo), NP_SUCC_);
    QCOMPARE(Stored(od, 43).mid(10, 2).toHex(), QByteArray("a08c"));
    QCOMPARE(Stored(od, 43).mid(20), QByteArray(12, '\0'));
}

void tst_Dictionary::buildersRefuseBadArguments()
{
    NimboObjectDictionary od;
    quint8 uuid[21] = {};
    char name[13] = {};
    QCOMPARE(od.Write_Np_Id(0, 0, 40, uuid, 19, name, 12), NP_FAIL_);
    QCOMPARE(od.Write_Np_Id(0, 0, 40, uuid, 21, name, 12), NP_FAIL_);
    QCOMPARE(od.Write_Np_Id(0, 0, 40, uuid, 20, name, 11), NP_FAIL_);
    QCOMPARE(od.Write_Np_Id(0, 0, 40, uuid, 20, name, 13), NP_FAIL_);
    QCOMPARE(od.Write_Np_Id(0, 0, 40, nullptr, 20, name, 12), NP_FAIL_);
    QCOMPARE(od.Write_Np_NodeCtrl(0, uuid, 19, 2), NP_FAIL_);
    QCOMPARE(od.Write_Np_NodeCtrl(0, nullptr, 20, 2), NP_FAIL_);
    QCOMPARE(Stored(od, 24), QByteArray(44, '\0'));
    // A builder cannot overwrite a record queued for sending.
    QCOMPARE(od.Write_Np_Request(33, 21), NP_SUCC_);
    od.NOD_DB_SetWriteProtect(12, true);
    QCOMPARE(od.Write_Np_Request(34, 24), NP_MUTEX_LOCKED_);
    QCOMPARE(int(FromBytes<Np_Request>(Stored(od, 12)).cmdRequest), 21);
}

void tst_Dictionary::goldenPayloadsRoundTrip()
{
    // Every golden payload stored and read back through its typed reader comes out byte for byte.
    NimboObjectDictionary od;
    int checked = 0;
    for (const GoldenFrame &g : LoadGoldenFrames()) {
        if (g.record == "Np_Settings_V318")
            continue;
        Np_Header header{};
        QCOMPARE(Store(od, g.payload, &header), NP_SUCC_);
        QCOMPARE(int(header.cmd()), g.cmd);
        QCOMPARE(int(header.fromId()), g.fromId);
        QCOMPARE(int(header.toId()), g.toId);
        QByteArray out;
        const QString r = g.record;
#define READ_AS(T)                                                                                           \
    if (r == #T) {                                                                                           \
        T rec;                                                                                               \
        QCOMPARE(od.Read_##T(&rec), NP_SUCC_);                                                               \
        out = Bytes(rec);                                                                                    \
    }
        READ_AS(Np_HeartBeat)
        READ_AS(Np_Request)
        READ_AS(Np_Ack)
        READ_AS(Np_Settings) READ_AS(Np_Status) READ_AS(Np_Calib) READ_AS(Np_Id_Ext) READ_AS(Np_NodeCtrl)
            READ_AS(Np_NSO) READ_AS(Np_Raw_GyroAccMag) READ_AS(Np_Raw_GyroAccMag_Ext) READ_AS(Np_Q_s1_s)
                READ_AS(Np_Q_s1_e) READ_AS(Np_Euler_s1_s) READ_AS(Np_Euler_s1_e) READ_AS(Np_RPY)
                    READ_AS(Np_Gravity) READ_AS(Np_Combo) READ_AS(Np_Customized)
#undef READ_AS
                        if (r == "Np_Id")
        {
            Np_Id id;
            QCOMPARE(od.Read_Np_Id(&id), NP_SUCC_);
            out = Bytes(id);
            od.Set_Version(0); // this golden id's firmware bytes may select the legacy layout
        }
        QCOMPARE(out.toHex(), g.payload.toHex());
        ++checked;
    }
    QCOMPARE(checked, 20);
}

void tst_Dictionary::recordTypesRegisteredByName()
{
    NimboObjectDictionary od;
    QVector<const char *> names = {"Np_Header", "Np_Settings_V318"};
    for (const char *name : kRecordTypesInSignalOrder)
        names.append(name);
    for (const char *name : names) {
        const int type = QMetaType::type(name);
        QVERIFY2(type != QMetaType::UnknownType, name);
        QCOMPARE(QByteArray(QMetaType::typeName(type)), QByteArray(name));
    }
    QCOMPARE(QMetaType::type("Np_RPY"), qMetaTypeId<Np_RPY>());
    QCOMPARE(QMetaType::sizeOf(QMetaType::type("Np_Id")), 44);
}

QTEST_APPLESS_MAIN(tst_Dictionary)
#include "tst_dictionary.moc"
