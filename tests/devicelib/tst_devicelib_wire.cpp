// Wire compatibility of the device-side C library with the host classes and the golden frames:
// what the C library sends, the host decodes to the same fields; what the host sends, the C
// library decodes to the same fields and re-encodes byte for byte.

#include <QtTest>

#include "devicelib_c.h"
#include "nimbohostlink.h"

#include <cstring>

namespace {

constexpr quint16 kNode = 40;

// Padding bytes (the golden payloads carry arbitrary content there) and, for the legacy settings,
// word bits 25-31, which have no meaning and are sent as 0.
QByteArray MaskUnused(int cmd, QByteArray p)
{
    auto zero = [&p](int from, int to) {
        for (int i = from; i <= to && i < p.size(); ++i)
            p[i] = 0;
    };
    switch (cmd) {
    case NP_CMD_REQUEST_:
    case NP_CMD_ACK_: zero(5, 7); break;
    case NP_CMD_ID_: zero(41, 41); break;
    case NP_CMD_NODECTRL_: zero(25, 27); break;
    case NP_CMD_NSO_:
        zero(5, 5);
        zero(9, 11);
        break;
    case NP_CMD_COMBO_:
        zero(9, 9);
        zero(20, 31);
        break;
    case NP_CMD_SETTING:
        if (p.size() == 20)
            p[7] = char(p[7] & 0x01);
        break;
    default: break;
    }
    return p;
}

// Decodes a wire image with the C library and encodes it again.
QByteArray CReencode(const QByteArray &in)
{
    const uint8_t *p = reinterpret_cast<const uint8_t *>(in.constData());
    const int n = in.size();
    uint8_t out[64] = {};
    int size = -1;
    const int cmd = n >= 4 ? p[0] & 0x7F : 0;
#define NP_CASE_(c, Type, Codec)                                                                             \
    case c: {                                                                                                \
        devc::Type r;                                                                                        \
        if (devc::Codec##_Decode(p, n, &r) == NP_SUCC_)                                                      \
            size = devc::Codec##_Encode(&r, out);                                                            \
        break;                                                                                               \
    }
    switch (cmd) {
        NP_CASE_(NP_CMD_HEARTBEAT_, Np_HeartBeat, Np_HeartBeat)
        NP_CASE_(NP_CMD_REQUEST_, Np_Request, Np_Request)
        NP_CASE_(NP_CMD_ACK_, Np_Ack, Np_Ack)
        NP_CASE_(NP_CMD_STATUS_, Np_Status, Np_Status)
        NP_CASE_(NP_CMD_CALIB_, Np_Calib, Np_Calib)
        NP_CASE_(NP_CMD_ID_, Np_Id, Np_Id)
        NP_CASE_(NP_CMD_ID_EXT_, Np_Id_Ext, Np_Id_Ext)
        NP_CASE_(NP_CMD_NODECTRL_, Np_NodeCtrl, Np_NodeCtrl)
        NP_CASE_(NP_CMD_NSO_, Np_NSO, Np_NSO)
        NP_CASE_(NP_CMD_Raw_GYRO_ACC_MAG_, Np_Raw_GyroAccMag, Np_Raw_GyroAccMag)
        NP_CASE_(NP_CMD_Raw_GYRO_ACC_MAG_EXT_, Np_Raw_GyroAccMag_Ext, Np_Raw_GyroAccMag_Ext)
        NP_CASE_(NP_CMD_Q_S1_S_, Np_Quaternion, Np_Quaternion)
        NP_CASE_(NP_CMD_Q_S1_E_, Np_Quaternion, Np_Quaternion)
        NP_CASE_(NP_CMD_EULER_S1_S_, Np_Euler, Np_Euler)
        NP_CASE_(NP_CMD_EULER_S1_E_, Np_Euler, Np_Euler)
        NP_CASE_(NP_CMD_RPY_, Np_RPY, Np_RPY)
        NP_CASE_(NP_CMD_GRAVITY_, Np_Gravity, Np_Gravity)
        NP_CASE_(NP_CMD_COMBO_, Np_Combo, Np_Combo)
        NP_CASE_(NP_CMD_CUSTOMIZED_, Np_Customized, Np_Customized)
    case NP_CMD_SETTING: {
        devc::Np_Settings r;
        if (devc::Np_Settings_Decode(p, n, &r) == NP_SUCC_)
            size = devc::Np_Settings_Encode(&r, n == 20 ? NP_SETTINGS_V318_ : NP_SETTINGS_CURRENT_, out);
        break;
    }
    default: break;
    }
#undef NP_CASE_
    return size < 0 ? QByteArray() : QByteArray(reinterpret_cast<const char *>(out), size);
}

// Field values shared by both sides; the field names of the host and the C structures agree.
template <class R>
void FillStatus(R &r)
{
    r.timeStamp = 4000000001u;
    r.temperature = -12.375f;
    r.updateRate = 800;
    r.sysState = 0xFFFC;
}
template <class R>
void FillCalib(R &r)
{
    r.calibType = 3;
    r.calibCmd = 12;
    r.calibCode = 0xAA32;
    r.calibValue1 = 90500;
    r.calibValue2 = 0xDEADBEEF;
}
template <class R>
void FillNso(R &r)
{
    r.nsoCmd = 0x22;
    r.nsoIndex = 0x2024;
    r.nsoSubIndex = 7;
    r.nsoValue = 0x1FFFFFFF;
}
template <class R>
void FillRaw(R &r)
{
    r.timeStamp = 123456;
    for (int i = 0; i < 3; ++i) {
        r.gyro[i] = 0.5f * float(i) - 3.25f;
        r.acc[i] = 1e-3f * float(i + 1);
        r.mag[i] = -0.75f + float(i);
    }
}
template <class R>
void FillQuaternion(R &r)
{
    r.timeStamp = 77;
    r.q[0] = 0.5f;
    r.q[1] = -0.5f;
    r.q[2] = 0.25f;
    r.q[3] = -1e-7f;
}
template <class R>
void FillEuler(R &r)
{
    r.timeStamp = 0xFFFFFFFFu;
    r.psi = -179.5f;
    r.theta = 89.875f;
    r.phi = 1e-20f;
}
template <class R>
void FillRpy(R &r)
{
    r.timeStamp = 2500000;
    r.roll = -12.5f;
    r.pitch = 3.25f;
    r.yaw = 359.75f;
}
template <class R>
void FillGravity(R &r)
{
    r.timeStamp = 9;
    r.g[0] = -0.125f;
    r.g[1] = 0.0f;
    r.g[2] = 0.9921875f;
}
template <class R>
void FillCombo(R &r)
{
    r.timeStamp = 31;
    r.qos = 5;
    r.heading = 36000;
    r.gyroZ = -1500;
    r.value2 = -2147483647 - 1;
}
template <class R>
void FillSettings(R &r)
{
    r.settingsWord = 0x0BF7FFF7u; // bit 3 clear so that the legacy layout loses nothing
    r.reserved0 = 0xA5A5;
    r.uart2Baud = 1152;
    r.can1Bitrate = 625;
    r.fusionParamAcc = 210;
    r.fusionParamMag = 450;
    r.inhibitTime = 65534;
    r.silentTime = 600;
    r.odr = 800;
}
template <class R>
void FillBytes(R &r)
{
    for (size_t i = 0; i < sizeof(r.data); ++i)
        r.data[i] = quint8(0xF0 - 3 * i);
}

const quint8 kUuid[20] = {0x4B, 0x53, 0x49, 0x4D, 0,  1,  2,  3,  0xFE, 0xFF,
                          10,   11,   12,   13,   14, 15, 16, 17, 18,   0x80};
const char kName[12] = {'F', 'r', 'o', 'n', 't', '-', char(0xC3), char(0xA9), 0, 0, 0, 0};

template <class R>
void FillId(R &r)
{
    const quint8 fw[4] = {31, 8, 2, 70};
    std::memcpy(r.fwVersion, fw, 4);
    std::memcpy(r.uuid, kUuid, 20);
    std::memcpy(r.name, kName, 12);
    r.idCmd = 0;
    r.nodeId = 2047;
}
template <class R>
void FillNodeCtrl(R &r)
{
    std::memcpy(r.uuid, kUuid, 20);
    r.ctrl = 2;
}

template <class T>
QByteArray Bytes(const T &r)
{
    return QByteArray(reinterpret_cast<const char *>(&r), int(sizeof(T)));
}

} // namespace

class TestDevicelibWire : public QObject
{
    Q_OBJECT

private slots:
    void goldenFrames_data();
    void goldenFrames();
    void cToHost_data();
    void cToHost();
    void hostToC_data();
    void hostToC();
    void checksumOptionsAgree_data();
    void checksumOptionsAgree();
};

void TestDevicelibWire::goldenFrames_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("fromId");
    QTest::addColumn<int>("toId");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    const QVector<GoldenFrame> frames = LoadGoldenFrames();
    QVERIFY2(frames.size() >= 21, "tests/data/frames.json is missing or incomplete");
    for (const GoldenFrame &g : frames)
        QTest::newRow(qPrintable(g.record + "_" + QString::number(g.payload.size())))
            << g.cmd << g.fromId << g.toId << g.payload << g.frame;
}

void TestDevicelibWire::goldenFrames()
{
    QFETCH(int, cmd);
    QFETCH(int, fromId);
    QFETCH(int, toId);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);

    QCOMPARE(CFrame(payload).toHex(), frame.toHex());

    devc::NimboProtocol protocol;
    devc::NimboProtocol_Init(&protocol, 44, 44);
    const uint8_t *out = nullptr;
    int size = 0;
    QCOMPARE(devc::NimboProtocol_AssembleInputPackage(
                 &protocol, reinterpret_cast<const uint8_t *>(frame.constData()), frame.size(), &out, &size),
             NP_SUCC_);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), size).toHex(), payload.toHex());

    devc::Np_Header header;
    devc::Np_Header_Decode(out, &header);
    QCOMPARE(int(header.cmd), cmd);
    QCOMPARE(int(header.fromId), fromId);
    QCOMPARE(int(header.toId), toId);
    QCOMPARE(int(header.res), 0);

    QCOMPARE(CReencode(payload).toHex(), MaskUnused(cmd, payload).toHex());
}

void TestDevicelibWire::cToHost_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("version");
    const struct
    {
        const char *name;
        int cmd;
    } rows[] = {{"HeartBeat", 11}, {"Request", 12}, {"Ack", 13},    {"Settings", 21},   {"Status", 22},
                {"Calib", 23},     {"Id", 24},      {"Id_Ext", 27}, {"NodeCtrl", 25},   {"NSO", 26},
                {"Raw", 41},       {"Q_s1_s", 31},  {"Q_s1_e", 32}, {"Euler_s1_s", 33}, {"Euler_s1_e", 34},
                {"RPY", 35},       {"Gravity", 36}, {"Combo", 43},  {"Customized", 44}};
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.cmd << 0;
    QTest::newRow("Settings_legacy") << 21 << 318;
}

void TestDevicelibWire::cToHost()
{
    QFETCH(int, cmd);
    QFETCH(int, version);
    CNode node(kNode, version);
    devc::NimboProfile *p = &node.link;
    QByteArray expected; // the host record as the host's own layout describes it

    auto expect = [&expected, cmd](auto hostRecord) {
        hostRecord.header = Np_Header::Make(quint8(cmd), kNode, NP_ID_HOST_);
        expected = Bytes(hostRecord);
    };
    switch (cmd) {
    case 11:
        devc::NimboProfile_Send_Np_HeartBeat(p, 2);
        expect(Np_HeartBeat{});
        break;
    case 12: {
        devc::NimboProfile_Send_Np_Request(p, 2, 35);
        Np_Request h{};
        h.cmdRequest = 35;
        expect(h);
        break;
    }
    case 13: {
        devc::NimboProfile_Send_Np_Ack(p, 2, 21);
        Np_Ack h{};
        h.cmdAck = 21;
        expect(h);
        break;
    }
    case 21: {
        devc::Np_Settings c{};
        FillSettings(c);
        devc::NimboProfile_Send_Np_Settings(p, 2, &c);
        Np_Settings h{};
        FillSettings(h);
        if (version == 318) {
            h.settingsWord &= 0x03FFFFF7u; // the legacy word holds bits 0-2 and 4-25 only
            h.silentTime = 0;
            h.odr = 0;
        }
        expect(h);
        break;
    }
    case 22: {
        devc::Np_Status c{};
        FillStatus(c);
        devc::NimboProfile_Send_Np_Status(p, 2, &c);
        Np_Status h{};
        FillStatus(h);
        expect(h);
        break;
    }
    case 23: {
        devc::Np_Calib c{};
        FillCalib(c);
        devc::NimboProfile_Send_Np_Calib(p, 2, &c);
        Np_Calib h{};
        FillCalib(h);
        expect(h);
        break;
    }
    case 24: {
        devc::Np_Id c{};
        FillId(c);
        devc::NimboProfile_Send_Np_Id(p, 2, &c);
        Np_Id h{};
        FillId(h);
        expect(h);
        break;
    }
    case 27: {
        devc::Np_Id_Ext c{};
        FillBytes(c);
        devc::NimboProfile_Send_Np_Id_Ext(p, 2, &c);
        Np_Id_Ext h{};
        FillBytes(h);
        expect(h);
        break;
    }
    case 25: {
        devc::Np_NodeCtrl c{};
        FillNodeCtrl(c);
        devc::NimboProfile_Send_Np_NodeCtrl(p, 2, &c);
        Np_NodeCtrl h{};
        FillNodeCtrl(h);
        expect(h);
        break;
    }
    case 26: {
        devc::Np_NSO c{};
        FillNso(c);
        devc::NimboProfile_Send_Np_NSO(p, 2, &c);
        Np_NSO h{};
        FillNso(h);
        expect(h);
        break;
    }
    case 41: {
        devc::Np_Raw_GyroAccMag c{};
        FillRaw(c);
        devc::NimboProfile_Send_Np_Raw_GyroAccMag(p, 2, &c);
        Np_Raw_GyroAccMag h{};
        FillRaw(h);
        expect(h);
        break;
    }
    case 31: {
        devc::Np_Q_s1_s c{};
        FillQuaternion(c);
        devc::NimboProfile_Send_Np_Q_s1_s(p, 2, &c);
        Np_Q_s1_s h{};
        FillQuaternion(h);
        expect(h);
        break;
    }
    case 32: {
        devc::Np_Q_s1_e c{};
        FillQuaternion(c);
        devc::NimboProfile_Send_Np_Q_s1_e(p, 2, &c);
        Np_Q_s1_e h{};
        FillQuaternion(h);
        expect(h);
        break;
    }
    case 33: {
        devc::Np_Euler_s1_s c{};
        FillEuler(c);
        devc::NimboProfile_Send_Np_Euler_s1_s(p, 2, &c);
        Np_Euler_s1_s h{};
        FillEuler(h);
        expect(h);
        break;
    }
    case 34: {
        devc::Np_Euler_s1_e c{};
        FillEuler(c);
        devc::NimboProfile_Send_Np_Euler_s1_e(p, 2, &c);
        Np_Euler_s1_e h{};
        FillEuler(h);
        expect(h);
        break;
    }
    case 35: {
        devc::Np_RPY c{};
        FillRpy(c);
        devc::NimboProfile_Send_Np_RPY(p, 2, &c);
        Np_RPY h{};
        FillRpy(h);
        expect(h);
        break;
    }
    case 36: {
        devc::Np_Gravity c{};
        FillGravity(c);
        devc::NimboProfile_Send_Np_Gravity(p, 2, &c);
        Np_Gravity h{};
        FillGravity(h);
        expect(h);
        break;
    }
    case 43: {
        devc::Np_Combo c{};
        FillCombo(c);
        devc::NimboProfile_Send_Np_Combo(p, 2, &c);
        Np_Combo h{};
        FillCombo(h);
        expect(h);
        break;
    }
    case 44: {
        devc::Np_Customized c{};
        FillBytes(c);
        devc::NimboProfile_Send_Np_Customized(p, 2, &c);
        Np_Customized h{};
        FillBytes(h);
        expect(h);
        break;
    }
    default: QFAIL("no row");
    }
    QCOMPARE(node.sent.size(), (version == 318 ? 20 : expected.size()) + 5);

    NimboHostLink host;
    if (version == 318)
        QCOMPARE(host.Dictionary().Set_Version(318), NP_SUCC_);
    host.Profile().Drain(node.sent.constData(), node.sent.size(), [](int, const Np_Header &) {});
    QCOMPARE(host.Protocol().RecvPkgGood(), 1u);
    QCOMPARE(host.Arrivals().size(), 1);
    const NimboHostLink::Arrival &a = host.Arrivals().first();
    QCOMPARE(int(a.cmd), cmd);
    QCOMPARE(int(a.fromId), int(kNode));
    QCOMPARE(int(a.toId), int(NP_ID_HOST_));
    QCOMPARE(a.record.toHex(), expected.toHex());
}

void TestDevicelibWire::hostToC_data() { cToHost_data(); }

void TestDevicelibWire::hostToC()
{
    QFETCH(int, cmd);
    QFETCH(int, version);
    NimboObjectDictionary od;
    QCOMPARE(od.Set_Version(version), NP_SUCC_);
    QByteArray cExpected; // the C structure the node should decode, as wire bytes of the C encoder
    int fromId = NP_ID_HOST_;

    auto expectC = [&cExpected](auto c, auto encode) {
        uint8_t b[64];
        const int n = encode(&c, b);
        cExpected = QByteArray(reinterpret_cast<const char *>(b), n);
    };
    int written = NP_FAIL_;
    switch (cmd) {
    case 11:
        written = od.Write_Np_HeartBeat(kNode);
        {
            devc::Np_HeartBeat c{};
            expectC(c, devc::Np_HeartBeat_Encode);
        }
        break;
    case 12:
        written = od.Write_Np_Request(kNode, 35);
        {
            devc::Np_Request c{};
            c.cmdRequest = 35;
            expectC(c, devc::Np_Request_Encode);
        }
        break;
    case 13:
        written = od.Write_Np_Ack(kNode, 21);
        {
            devc::Np_Ack c{};
            c.cmdAck = 21;
            expectC(c, devc::Np_Ack_Encode);
        }
        break;
    case 21: {
        Np_Settings h{};
        FillSettings(h);
        written = od.Write_Np_Settings(kNode, h);
        devc::Np_Settings c{};
        FillSettings(c);
        expectC(c, [version](const devc::Np_Settings *r, uint8_t *out) {
            return devc::Np_Settings_Encode(r, version, out);
        });
        break;
    }
    case 22: {
        Np_Status h{};
        FillStatus(h);
        written = od.Write_Np_Status(kNode, h);
        devc::Np_Status c{};
        FillStatus(c);
        expectC(c, devc::Np_Status_Encode);
        break;
    }
    case 23: {
        written = od.Write_Np_Calib(kNode, 3, 12, 0xAA32, 90500, 0xDEADBEEF);
        devc::Np_Calib c{};
        FillCalib(c);
        expectC(c, devc::Np_Calib_Encode);
        break;
    }
    case 24: {
        written = od.Write_Np_Id(kNode, 0, 2047, kUuid, 20, kName, 12);
        devc::Np_Id c{};
        FillId(c);
        std::memset(c.fwVersion, 0, 4); // the host writes ids with firmware 0
        expectC(c, devc::Np_Id_Encode);
        break;
    }
    case 27: {
        Np_Id_Ext h{};
        FillBytes(h);
        written = od.Write_Np_Id_Ext(kNode, h);
        devc::Np_Id_Ext c{};
        FillBytes(c);
        expectC(c, devc::Np_Id_Ext_Encode);
        break;
    }
    case 25: {
        written = od.Write_Np_NodeCtrl(kNode, kUuid, 20, 2);
        devc::Np_NodeCtrl c{};
        FillNodeCtrl(c);
        expectC(c, devc::Np_NodeCtrl_Encode);
        break;
    }
    case 26: {
        Np_NSO h{};
        FillNso(h);
        written = od.Write_Np_NSO(kNode, h);
        devc::Np_NSO c{};
        FillNso(c);
        expectC(c, devc::Np_NSO_Encode);
        fromId = NP_ID_HOST_NSO_;
        break;
    }
    case 41: {
        Np_Raw_GyroAccMag h{};
        FillRaw(h);
        written = od.Write_Np_Raw_GyroAccMag(kNode, h);
        devc::Np_Raw_GyroAccMag c{};
        FillRaw(c);
        expectC(c, devc::Np_Raw_GyroAccMag_Encode);
        break;
    }
    case 31: {
        Np_Q_s1_s h{};
        FillQuaternion(h);
        written = od.Write_Np_Q_s1_s(kNode, h);
        devc::Np_Quaternion c{};
        FillQuaternion(c);
        expectC(c, devc::Np_Quaternion_Encode);
        break;
    }
    case 32: {
        Np_Q_s1_e h{};
        FillQuaternion(h);
        written = od.Write_Np_Q_s1_e(kNode, h);
        devc::Np_Quaternion c{};
        FillQuaternion(c);
        expectC(c, devc::Np_Quaternion_Encode);
        break;
    }
    case 33: {
        Np_Euler_s1_s h{};
        FillEuler(h);
        written = od.Write_Np_Euler_s1_s(kNode, h);
        devc::Np_Euler c{};
        FillEuler(c);
        expectC(c, devc::Np_Euler_Encode);
        break;
    }
    case 34: {
        Np_Euler_s1_e h{};
        FillEuler(h);
        written = od.Write_Np_Euler_s1_e(kNode, h);
        devc::Np_Euler c{};
        FillEuler(c);
        expectC(c, devc::Np_Euler_Encode);
        break;
    }
    case 35: {
        Np_RPY h{};
        FillRpy(h);
        written = od.Write_Np_RPY(kNode, h);
        devc::Np_RPY c{};
        FillRpy(c);
        expectC(c, devc::Np_RPY_Encode);
        break;
    }
    case 36: {
        Np_Gravity h{};
        FillGravity(h);
        written = od.Write_Np_Gravity(kNode, h);
        devc::Np_Gravity c{};
        FillGravity(c);
        expectC(c, devc::Np_Gravity_Encode);
        break;
    }
    case 43: {
        Np_Combo h{};
        FillCombo(h);
        written = od.Write_Np_Combo(kNode, h);
        devc::Np_Combo c{};
        FillCombo(c);
        expectC(c, devc::Np_Combo_Encode);
        break;
    }
    case 44: {
        Np_Customized h{};
        FillBytes(h);
        written = od.Write_Np_Customized(kNode, h);
        devc::Np_Customized c{};
        FillBytes(c);
        expectC(c, devc::Np_Customized_Encode);
        break;
    }
    default: QFAIL("no row");
    }
    QCOMPARE(written, NP_SUCC_);
    // The C encoder was given no header; put in the one the host sent.
    const QByteArray header = HeaderBytes(cmd, fromId, kNode);
    cExpected.replace(0, 4, header);

    char *data = nullptr;
    int length = 0;
    QCOMPARE(od.Read(quint8(cmd), &data, &length), NP_SUCC_);
    const QByteArray hostBytes(data, length);
    od.NOD_DB_SetReadProtect(quint8(cmd), false);
    NimboProtocol framing;
    framing.Init(44, 44);
    char *frame = nullptr;
    int frameSize = 0;
    QCOMPARE(framing.CreateOutputPackage(data, length, &frame, &frameSize), NP_SUCC_);

    CNode node(kNode, version);
    QCOMPARE(node.Feed(QByteArray(frame, frameSize)), 1);
    QCOMPARE(node.received.first().toHex(), hostBytes.toHex());
    QCOMPARE(hostBytes.toHex(), cExpected.toHex());
    QCOMPARE(CReencode(hostBytes).toHex(), hostBytes.toHex());
}

void TestDevicelibWire::checksumOptionsAgree_data()
{
    QTest::addColumn<int>("option");
    QTest::newRow("1-byte sum") << int(NP_CHECKSUM_1_BYTE_SUM_);
    QTest::newRow("2-byte sum") << int(NP_CHECKSUM_2_BYTES_SUM_);
    QTest::newRow("CRC") << int(NP_CHECKSUM_2_BYTES_CRC_);
}

void TestDevicelibWire::checksumOptionsAgree()
{
    QFETCH(int, option);
    CNode node(kNode);
    devc::NimboProtocol_SetChecksumOption(&node.link.protocol, option);
    devc::Np_RPY c{};
    FillRpy(c);
    c.roll = 200.0f; // bytes large enough that a 1-byte sum wraps
    QCOMPARE(devc::NimboProfile_Send_Np_RPY(&node.link, 2, &c), NP_SUCC_);
    QCOMPARE(node.sent.size(), 20 + (option == NP_CHECKSUM_1_BYTE_SUM_ ? 4 : 5));

    NimboProtocol host;
    host.Init(44, 44);
    host.SetChecksumOption(char(option));
    char *payload = nullptr;
    int size = 0;
    QCOMPARE(host.AssembleInputPackage(node.sent.data(), node.sent.size(), &payload, &size), NP_SUCC_);
    QCOMPARE(size, 20);

    // And back: a frame the host builds with this option is accepted by the C library.
    char *frame = nullptr;
    int frameSize = 0;
    QByteArray request = HeaderBytes(12, 2, kNode) + QByteArray("\x23\0\0\0", 4);
    QCOMPARE(host.CreateOutputPackage(request.data(), request.size(), &frame, &frameSize), NP_SUCC_);
    QCOMPARE(node.Feed(QByteArray(frame, frameSize)), 1);
}

QTEST_GUILESS_MAIN(TestDevicelibWire)
#include "tst_devicelib_wire.moc"
