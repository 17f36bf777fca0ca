// The simulated nodes over their real pseudo-terminal, talked to by the host protocol classes:
// identity, silence, settings, id writes, service objects, calibration and the motion they stream.

#include "simbench.h"

#include <QtTest>

#include <cmath>
#include <memory>

namespace {

namespace Bit = NpSettingsBit;

constexpr double kPi = 3.14159265358979323846;

Np_NSO Nso(quint8 command, quint16 index, quint8 subIndex, quint32 value)
{
    Np_NSO n{};
    n.nsoCmd = command;
    n.nsoIndex = index;
    n.nsoSubIndex = subIndex;
    n.nsoValue = value;
    return n;
}

// The node's answer to one service-object request, or nsoCmd 0 when none came.
Np_NSO Exchange(SimBench &b, quint16 node, const Np_NSO &request)
{
    const int from = b.host.Arrivals().size();
    if (!b.host.SendNSO(node, request) || !b.host.WaitFor(NP_CMD_NSO_, node, 1, 3000, from))
        return Np_NSO{};
    return NimboHostLink::As<Np_NSO>(b.host.Arrivals()[b.host.Find(NP_CMD_NSO_, node, from)]);
}

Np_Settings ReadSettings(SimBench &b, quint16 node)
{
    const int from = b.host.Arrivals().size();
    if (!b.host.Request(node, NP_CMD_SETTING) || !b.host.WaitFor(NP_CMD_SETTING, node, 1, 3000, from))
        return Np_Settings{};
    return NimboHostLink::As<Np_Settings>(b.host.Arrivals()[b.host.Find(NP_CMD_SETTING, node, from)]);
}

bool WriteAcknowledged(SimBench &b, quint16 node, const Np_Settings &s)
{
    const int from = b.host.Arrivals().size();
    if (!b.host.WriteSettings(node, s) || !b.host.WaitFor(NP_CMD_ACK_, node, 1, 3000, from))
        return false;
    return NimboHostLink::As<Np_Ack>(b.host.Arrivals()[b.host.Find(NP_CMD_ACK_, node, from)]).cmdAck ==
           NP_CMD_SETTING;
}

quint32 With(quint32 word, std::initializer_list<int> on, std::initializer_list<int> off = {})
{
    for (int bit : on)
        word = NpSettingsBit::Set(word, bit, true);
    for (int bit : off)
        word = NpSettingsBit::Set(word, bit, false);
    return word;
}

void QuaternionToEuler(const float q[4], double *roll, double *pitch, double *yaw)
{
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    *roll = std::atan2(2 * (w * x + y * z), 1 - 2 * (x * x + y * y)) * 180 / kPi;
    *pitch = std::asin(2 * (w * y - z * x)) * 180 / kPi;
    *yaw = std::atan2(2 * (w * z + x * y), 1 - 2 * (y * y + z * z)) * 180 / kPi;
}

// v in the sensor frame of q (sensor -> earth), and back.
void Rotate(const float q[4], const double v[3], double out[3], bool toEarth)
{
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                            {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                            {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
    for (int i = 0; i < 3; ++i)
        out[i] = toEarth ? r[i][0] * v[0] + r[i][1] * v[1] + r[i][2] * v[2]
                         : r[0][i] * v[0] + r[1][i] * v[1] + r[2][i] * v[2];
}

double AngleDiff(double a, double b)
{
    double d = std::fmod(a - b, 360.0);
    if (d > 180)
        d -= 360;
    if (d < -180)
        d += 360;
    return std::fabs(d);
}

} // namespace

class TestNodesimProtocol : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { shared_.reset(); }
    void identityFromEveryNode();
    void silenceAndNormalState();
    void settingsWriteTakesEffectAtOnce();
    void legacyFirmwareSettings();
    void idWriteByUuid();
    void serviceObjectsKeepValues_data();
    void serviceObjectsKeepValues();
    void serviceObjectsSaveAndReboot();
    void serviceObjectRefusals();
    void calibrationAnswers_data();
    void calibrationAnswers();
    void streamedRecordsAgree();
    void sensorErrorsAndTruth();

private:
    std::unique_ptr<SimBench> shared_;
};

void TestNodesimProtocol::identityFromEveryNode()
{
    SimBench b;
    QVERIFY2(b.Start({"--nodes", "3"}), qPrintable(b.sim.ErrorString()));
    const QVector<Np_Id> ids = b.Identities(3);
    QCOMPARE(ids.size(), 3);
    QSet<QByteArray> uuids;
    for (int i = 0; i < 3; ++i) {
        const Np_Id &id = ids[i];
        QCOMPARE(int(id.nodeId), 32 + i); // answers in node order
        QCOMPARE(int(id.header.fromId()), int(id.nodeId));
        QCOMPARE(int(id.header.toId()), int(NP_ID_HOST_));
        QCOMPARE(QByteArray(id.name), QByteArray("Sim-") + QByteArray::number(32 + i));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(id.fwVersion), 4),
                 QByteArray("\x1F\x08\x02\x46", 4));
        uuids.insert(Uuid(id));
    }
    QCOMPARE(uuids.size(), 3);

    // A direct request is answered by the node addressed only.
    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.Request(33, NP_CMD_ID_));
    QVERIFY(b.Settle(34));
    QCOMPARE(b.host.Count(NP_CMD_ID_, -1, from), 1);
    QCOMPARE(b.host.Count(NP_CMD_ID_, 33, from), 1);

    // The log shows each node receiving the broadcast and sending its answer.
    for (int node = 32; node <= 34; ++node) {
        QVERIFY(!b.sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_REQUEST_, node), 1, 2000).isEmpty());
        QCOMPARE(
            b.sim.WaitForLog(SimulatorRunner::Match("tx", NP_CMD_ID_, node), node == 33 ? 2 : 1, 2000).size(),
            node == 33 ? 2 : 1);
    }
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimProtocol::silenceAndNormalState()
{
    SimBench b;
    QVERIFY2(b.Start({"--nodes", "3"}), qPrintable(b.sim.ErrorString()));
    const QVector<Np_Id> ids = b.Identities(3);
    QCOMPARE(ids.size(), 3);

    QVERIFY(b.host.SendNodeCtrl(Uuid(ids[1]), 2));
    int from = b.host.Arrivals().size();
    QVERIFY(b.host.Request(NP_ID_BROADCAST_, NP_CMD_ID_));
    QVERIFY(b.host.Request(33, NP_CMD_ID_));
    QVERIFY(b.Settle(34));
    QCOMPARE(b.host.Count(NP_CMD_ID_, 32, from), 1);
    QCOMPARE(b.host.Count(NP_CMD_ID_, 33, from), 0);
    QCOMPARE(b.host.Count(NP_CMD_ID_, 34, from), 1);
    // Silence is about identity only: the node still answers everything else.
    QVERIFY(b.Settle(33));

    QVERIFY(b.host.SendNodeCtrl(QByteArray(20, '\0'), 2));
    from = b.host.Arrivals().size();
    QVERIFY(b.host.Request(NP_ID_BROADCAST_, NP_CMD_ID_));
    QVERIFY(b.Settle(34));
    QCOMPARE(b.host.Count(NP_CMD_ID_, -1, from), 0);

    QVERIFY(b.host.SendNodeCtrl(QByteArray(20, '\0'), 3));
    QCOMPARE(b.Identities(3).size(), 3);
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimProtocol::settingsWriteTakesEffectAtOnce()
{
    SimBench b;
    QVERIFY2(b.Start(), qPrintable(b.sim.ErrorString()));
    Np_Settings s = ReadSettings(b, 32);
    QCOMPARE(int(s.header.cmd()), int(NP_CMD_SETTING));
    QCOMPARE(int(s.odr), 100);
    const quint32 outputs =
        (1u << Bit::outStatus) | (1u << Bit::outRaw) | (1u << Bit::outQ_s1_e) | (1u << Bit::outRPY);
    QCOMPARE(s.settingsWord & 0x08001FE0u, outputs);
    QCOMPARE(NpSettingsBit::GetField(s.settingsWord, Bit::checksumType, 3), 2u);
    QVERIFY(NpSettingsBit::Get(s.settingsWord, Bit::binaryFormat));

    s.odr = 200;
    s.settingsWord = With(s.settingsWord, {}, {Bit::outStatus, Bit::outRaw, Bit::outQ_s1_e});
    QVERIFY(WriteAcknowledged(b, 32, s));
    const int afterAck = b.host.Arrivals().size();

    // Nothing but roll/pitch/yaw from here on, at 200 Hz measured over two seconds.
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 410, 10000, afterAck));
    QVector<const NimboHostLink::Arrival *> rpy;
    for (int i = afterAck; i < b.host.Arrivals().size(); ++i) {
        const NimboHostLink::Arrival &a = b.host.Arrivals()[i];
        QCOMPARE(int(a.cmd), int(NP_CMD_RPY_));
        rpy.append(&a);
    }
    const int first = 5, last = 405; // a few records settle the measurement's start
    const double seconds = double(rpy[last]->atNs - rpy[first]->atNs) / 1e9;
    const double rate = (last - first) / seconds;
    QVERIFY2(std::fabs(rate - 200.0) <= 10.0, qPrintable(QString("measured %1 Hz").arg(rate)));
    for (int i = first; i < last; ++i)
        QCOMPARE(NimboHostLink::As<Np_RPY>(*rpy[i + 1]).timeStamp -
                     NimboHostLink::As<Np_RPY>(*rpy[i]).timeStamp,
                 5000u);

    const Np_Settings now = ReadSettings(b, 32);
    QCOMPARE(int(now.odr), 200);
    QCOMPARE(now.settingsWord, NpSettingsBit::Set(s.settingsWord, Bit::reliableWrite, false));

    // A rate the node cannot run (the host sends 0 for old firmware) keeps the stream going.
    s.odr = 0;
    QVERIFY(WriteAcknowledged(b, 32, s));
    QCOMPARE(int(ReadSettings(b, 32).odr), 200);
    const int later = b.host.Arrivals().size();
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 5, 3000, later));
    QVERIFY(!b.sim
                 .WaitForLog([](const QJsonObject &o) {
                     return o.value("dir") == "rx" && o.value("cmd") == NP_CMD_SETTING &&
                            o.value("odr") == 200;
                 })
                 .isEmpty());
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimProtocol::legacyFirmwareSettings()
{
    SimBench b;
    QVERIFY2(b.Start({"--node", "id=40,name=Old,fw=3.1.6.0", "--odr", "50"}),
             qPrintable(b.sim.ErrorString()));
    QCOMPARE(b.Identities(1).size(), 1);
    QCOMPARE(b.host.Dictionary().Get_Version(), 318); // the host follows the node's firmware

    Np_Settings s = ReadSettings(b, 40);
    QCOMPARE(int(s.header.cmd()), int(NP_CMD_SETTING));
    QVERIFY(!NpSettingsBit::Get(s.settingsWord, Bit::gyroErrFilter));
    QVERIFY(NpSettingsBit::Get(s.settingsWord, Bit::outRPY));
    QCOMPARE(int(s.silentTime), 0);
    QCOMPARE(int(s.odr), 0);
    const QVector<QJsonObject> sent = b.sim.WaitForLog(SimulatorRunner::Match("tx", NP_CMD_SETTING, 40));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].value("legacy").toInt(), 1);

    s.settingsWord = With(s.settingsWord, {Bit::outGravity}, {Bit::outRaw});
    s.fusionParamAcc = 300;
    QVERIFY(WriteAcknowledged(b, 40, s));
    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.WaitFor(NP_CMD_GRAVITY_, 40, 2, 3000, from));
    const Np_Settings now = ReadSettings(b, 40);
    QVERIFY(NpSettingsBit::Get(now.settingsWord, Bit::outGravity));
    QVERIFY(!NpSettingsBit::Get(now.settingsWord, Bit::outRaw));
    QCOMPARE(int(now.fusionParamAcc), 300);
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimProtocol::idWriteByUuid()
{
    SimBench b;
    QVERIFY2(b.Start({"--nodes", "2"}), qPrintable(b.sim.ErrorString()));
    const QVector<Np_Id> ids = b.Identities(2);
    QCOMPARE(ids.size(), 2);

    QVERIFY(b.host.SendId(Uuid(ids[1]), 50, "Renamed"));
    QVERIFY(b.host.SendId(Uuid(ids[0]), 5, "Bad id")); // below the node range: ignored
    const QVector<Np_Id> after = b.Identities(2);
    QCOMPARE(after.size(), 2);
    QCOMPARE(int(after[0].nodeId), 32);
    QCOMPARE(QByteArray(after[0].name), QByteArray("Sim-32"));
    QCOMPARE(int(after[1].nodeId), 50);
    QCOMPARE(int(after[1].header.fromId()), 50);
    QCOMPARE(QByteArray(after[1].name), QByteArray("Renamed"));
    QCOMPARE(Uuid(after[1]), Uuid(ids[1]));

    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.Request(33, NP_CMD_HEARTBEAT_));
    QVERIFY(b.Settle(50));
    QCOMPARE(b.host.Count(NP_CMD_HEARTBEAT_, 33, from), 0);
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 50, 2, 3000, from));
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimProtocol::serviceObjectsKeepValues_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("subIndex");
    QTest::addColumn<quint32>("value");
    QTest::newRow("CAN_Switches") << 0x2021 << 0x23 << 0x5u;
    QTest::newRow("CAN_Baudrate") << 0x2022 << 1 << 5000u;
    QTest::newRow("CAN_NSO_ID[0]") << 0x2023 << 0 << 0x7E5u;
    QTest::newRow("CAN_NSO_ID[1]") << 0x2023 << 1 << 0x1FFFFFFFu;
    for (int k = 0; k < 8; ++k)
        QTest::newRow(qPrintable(QString("CAN_NPO_ID[%1]").arg(k))) << 0x2024 << k << quint32(16 + 0x101 * k);
    QTest::newRow("CALIB_Switches") << 0x2031 << 1 << 0x3u;
    QTest::newRow("Profile_Switches") << 0x2041 << 0x17 << 0x0217u;
    QTest::newRow("Profile_Switches_EXT") << 0x2044 << 0x35 << 0xCAFEu;
}

void TestNodesimProtocol::serviceObjectsKeepValues()
{
    QFETCH(int, index);
    QFETCH(int, subIndex);
    QFETCH(quint32, value);
    if (!shared_) { // one simulator for all rows
        shared_.reset(new SimBench);
        QVERIFY2(shared_->Start({"--node", "id=44"}), qPrintable(shared_->sim.ErrorString()));
    }
    SimBench *b = shared_.get();
    const Np_NSO before = Exchange(*b, 44, Nso(0x40, quint16(index), quint8(subIndex), 0));
    QCOMPARE(int(before.nsoCmd), 0x42);
    QVERIFY(before.nsoValue != value);

    const Np_NSO ack = Exchange(*b, 44, Nso(0x22, quint16(index), quint8(subIndex), value));
    QCOMPARE(int(ack.nsoCmd), 0x60);
    QCOMPARE(int(ack.nsoIndex), index);
    QCOMPARE(int(ack.nsoSubIndex), subIndex);
    QCOMPARE(ack.nsoValue, value);
    QCOMPARE(int(ack.header.toId()), int(NP_ID_HOST_NSO_)); // answered to the requester
    QCOMPARE(int(ack.header.fromId()), 44);

    const Np_NSO read = Exchange(*b, 44, Nso(0x40, quint16(index), quint8(subIndex), 0));
    QCOMPARE(int(read.nsoCmd), 0x42);
    QCOMPARE(read.nsoValue, value);
    if (QString(QTest::currentDataTag()) == "Profile_Switches_EXT") {
        QVERIFY2(b->sim.Stop(), qPrintable(b->sim.ErrorString()));
        shared_.reset();
    }
}

void TestNodesimProtocol::serviceObjectsSaveAndReboot()
{
    SimBench b;
    QVERIFY2(b.Start(), qPrintable(b.sim.ErrorString()));
    QCOMPARE(Exchange(b, 32, Nso(0x22, 0x2022, 1, 2500)).nsoValue, 2500u);
    QCOMPARE(int(Exchange(b, 32, Nso(0x22, 0x23A4, 0x79, 3)).nsoCmd), 0x60);
    QCOMPARE(int(Exchange(b, 32, Nso(0x22, 0x2022, 1, 1250)).nsoCmd), 0x60);

    Np_Settings s = ReadSettings(b, 32);
    s.odr = 50;
    s.settingsWord = NpSettingsBit::Set(s.settingsWord, Bit::saveToFlash, true);
    QVERIFY(WriteAcknowledged(b, 32, s));
    s.odr = 25;
    s.settingsWord = NpSettingsBit::Set(s.settingsWord, Bit::saveToFlash, false);
    QVERIFY(WriteAcknowledged(b, 32, s));

    const Np_NSO reboot = Exchange(b, 32, Nso(0x22, 0x23A4, 0x6A, 9));
    QCOMPARE(int(reboot.nsoCmd), 0x60);
    QCOMPARE(reboot.nsoValue, 9u);
    // Back from the reboot when the stream restarts, with its clock from zero.
    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 1, 5000, from));
    QVERIFY(NimboHostLink::As<Np_RPY>(b.host.Arrivals()[b.host.Find(NP_CMD_RPY_, 32, from)]).timeStamp <
            1000000u);

    QCOMPARE(Exchange(b, 32, Nso(0x40, 0x2022, 1, 0)).nsoValue, 2500u); // saved; 1250 was not
    QCOMPARE(int(ReadSettings(b, 32).odr), 50);                         // saved; 25 was not
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimProtocol::serviceObjectRefusals()
{
    SimBench b;
    QVERIFY2(b.Start(), qPrintable(b.sim.ErrorString()));
    const struct
    {
        Np_NSO request;
        quint32 abortCode;
    } refused[] = {
        {Nso(0x22, 0x2022, 1, 3000), 0x06090030u},   // not a CAN bit rate
        {Nso(0x22, 0x2021, 0x23, 0x4), 0x06090030u}, // fails the MSB / LSB check
        {Nso(0x22, 0x2024, 3, 15), 0x06090030u},     // below the COB-ID range
        {Nso(0x22, 0x23A4, 0x6A, 8), 0x06090030u},   // reboot needs the value 9
        {Nso(0x40, 0x23A4, 0x79, 0), 0x06010001u},   // the save command cannot be read
        {Nso(0x33, 0x2022, 1, 0), 0x05040001u},      // no such command specifier
    };
    for (const auto &r : refused) {
        const Np_NSO answer = Exchange(b, 32, r.request);
        QCOMPARE(int(answer.nsoCmd), 0x80);
        QCOMPARE(answer.nsoValue, r.abortCode);
    }
    QCOMPARE(Exchange(b, 32, Nso(0x40, 0x2022, 1, 0)).nsoValue, 10000u);

    // Unknown objects get no answer, unless the node is set to acknowledge them.
    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.SendNSO(32, Nso(0x40, 0x3000, 0, 0)));
    QVERIFY(b.Settle(32));
    QCOMPARE(b.host.Count(NP_CMD_NSO_, 32, from), 0);
    QCOMPARE(int(Exchange(b, 32, Nso(0x22, 0x2021, 0x23, 0x40F)).nsoCmd), 0x60);
    const Np_NSO unknown = Exchange(b, 32, Nso(0x40, 0x3000, 0, 0));
    QCOMPARE(int(unknown.nsoCmd), 0x42);
    QCOMPARE(int(unknown.nsoIndex), 0x3000);
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimProtocol::calibrationAnswers_data()
{
    // Commands "type:cmd[:code[:value1]]" and expected answers "type:result[:progress]", separated by ';'.
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QString>("answers");
    QTest::newRow("thermal new sample") << "2:1"
                                        << "18:1";
    QTest::newRow("thermal clear") << "2:3"
                                   << "18:5";
    QTest::newRow("thermal save") << "2:4"
                                  << "18:1";
    QTest::newRow("magnetometer")
        << "3:2"
        << "19:0:10;19:0:20;19:0:30;19:0:40;19:0:50;19:0:60;19:0:70;19:0:80;19:0:90;19:1:100";
    QTest::newRow("magnetometer aborted") << "3:1;3:9"
                                          << "19:1";
    QTest::newRow("heading fix start, finish") << "3:10;3:11"
                                               << "19:0:0;19:1";
    QTest::newRow("heading fix finish alone") << "3:11"
                                              << "19:2";
    QTest::newRow("heading one-click 90.5") << "3:12:43570:90500"
                                            << "19:1";
    QTest::newRow("heading one-click 361") << "3:12:43570:361000"
                                           << "19:2";
    QTest::newRow("boot") << "4:2"
                          << "20:1";
    QTest::newRow("static start, finish") << "5:3;5:4"
                                          << "21:0;21:1";
    QTest::newRow("static revoke") << "5:1"
                                   << "21:5";
    QTest::newRow("static finish alone") << "5:4"
                                         << "21:2";
    QTest::newRow("wrong code") << "4:2:4660"
                                << "20:2";
}

void TestNodesimProtocol::calibrationAnswers()
{
    QFETCH(QString, commands);
    QFETCH(QString, answers);
    static const quint16 codes[] = {0, 0, 0xAA05, 0xAA32, 0xAA35, 0xAA65};
    SimBench b;
    QVERIFY2(b.Start(), qPrintable(b.sim.ErrorString()));
    const int from = b.host.Arrivals().size();
    for (const QString &c : commands.split(';')) {
        const QStringList f = c.split(':');
        const int type = f[0].toInt();
        QVERIFY(b.host.SendCalib(32, quint8(type), quint8(f[1].toInt()),
                                 f.size() > 2 ? quint16(f[2].toInt()) : codes[type], f.value(3).toUInt()));
    }
    const QStringList expected = answers.split(';');
    QVERIFY(b.host.WaitFor(NP_CMD_CALIB_, 32, expected.size(), 5000, from));
    QVERIFY(b.Settle(32));
    QCOMPARE(b.host.Count(NP_CMD_CALIB_, 32, from), expected.size());
    int at = from;
    for (const QString &e : expected) {
        const QStringList f = e.split(':');
        at = b.host.Find(NP_CMD_CALIB_, 32, at);
        const Np_Calib answer = NimboHostLink::As<Np_Calib>(b.host.Arrivals()[at++]);
        QCOMPARE(int(answer.calibType), f[0].toInt());
        QCOMPARE(int(answer.calibCmd), f[1].toInt());
        if (f.size() > 2)
            QCOMPARE(int(answer.calibCode), f[2].toInt());
    }
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimProtocol::streamedRecordsAgree()
{
    SimBench b;
    QVERIFY2(b.Start(), qPrintable(b.sim.ErrorString()));
    Np_Settings s = ReadSettings(b, 32);
    s.settingsWord = With(s.settingsWord, {Bit::outQ_s1_s, Bit::outEuler_s1_s, Bit::outEuler_s1_e,
                                           Bit::outGravity, Bit::outCombo});
    QVERIFY(WriteAcknowledged(b, 32, s));
    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.WaitFor(NP_CMD_COMBO_, 32, 60, 5000, from));

    // Group the records of one instant by their time stamp.
    struct Instant
    {
        Np_Raw_GyroAccMag raw{};
        Np_Q_s1_s qs{};
        Np_Q_s1_e qe{};
        Np_Euler_s1_s es{};
        Np_Euler_s1_e ee{};
        Np_RPY rpy{};
        Np_Gravity g{};
        Np_Combo combo{};
        int parts = 0;
    };
    QMap<quint32, Instant> instants;
    for (int i = from; i < b.host.Arrivals().size(); ++i) {
        const NimboHostLink::Arrival &a = b.host.Arrivals()[i];
        const quint32 ts = qFromLittleEndian<quint32>(a.record.constData() + 4);
        Instant &in = instants[ts];
        ++in.parts;
        switch (a.cmd) {
        case NP_CMD_Raw_GYRO_ACC_MAG_: in.raw = NimboHostLink::As<Np_Raw_GyroAccMag>(a); break;
        case NP_CMD_Q_S1_S_: in.qs = NimboHostLink::As<Np_Q_s1_s>(a); break;
        case NP_CMD_Q_S1_E_: in.qe = NimboHostLink::As<Np_Q_s1_e>(a); break;
        case NP_CMD_EULER_S1_S_: in.es = NimboHostLink::As<Np_Euler_s1_s>(a); break;
        case NP_CMD_EULER_S1_E_: in.ee = NimboHostLink::As<Np_Euler_s1_e>(a); break;
        case NP_CMD_RPY_: in.rpy = NimboHostLink::As<Np_RPY>(a); break;
        case NP_CMD_GRAVITY_: in.g = NimboHostLink::As<Np_Gravity>(a); break;
        case NP_CMD_COMBO_: in.combo = NimboHostLink::As<Np_Combo>(a); break;
        default: --in.parts; break;
        }
    }

    const Instant *previous = nullptr;
    quint32 previousTs = 0;
    int checked = 0;
    double qStart[4] = {0, 0, 0, 0};
    for (auto it = instants.cbegin(); it != instants.cend(); ++it) {
        const Instant &in = it.value();
        if (in.parts != 8)
            continue;
        const float *q = in.qe.q;
        QVERIFY(std::fabs(std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]) - 1.0) < 1e-5);
        double roll, pitch, yaw;
        QuaternionToEuler(q, &roll, &pitch, &yaw);
        QVERIFY(std::fabs(roll - in.rpy.roll) < 1e-3 && std::fabs(pitch - in.rpy.pitch) < 1e-3);
        QVERIFY(AngleDiff(yaw, in.rpy.yaw) < 1e-3);
        QVERIFY(in.rpy.yaw >= 0 && in.rpy.yaw < 360);
        QCOMPARE(in.ee.phi, in.rpy.roll);
        QCOMPARE(in.ee.theta, in.rpy.pitch);
        QVERIFY(AngleDiff(in.ee.psi, in.rpy.yaw) < 1e-3 && std::fabs(in.ee.psi) <= 180);
        QCOMPARE(int(in.combo.heading), int(in.rpy.yaw * 100.0f));

        const double down[3] = {0, 0, 1};
        double g[3];
        Rotate(q, down, g, false);
        const double field[3] = {0.5, 0, std::sqrt(3.0) / 2};
        double m[3] = {in.raw.mag[0], in.raw.mag[1], in.raw.mag[2]};
        double mEarth[3];
        Rotate(q, m, mEarth, true);
        for (int k = 0; k < 3; ++k) {
            QVERIFY(std::fabs(g[k] - in.g.g[k]) < 1e-5);
            QVERIFY(std::fabs(in.raw.acc[k] - in.g.g[k]) < 1e-6);
            QVERIFY(std::fabs(mEarth[k] - field[k]) < 1e-5);
        }
        QVERIFY(std::fabs(in.combo.gyroZ - in.raw.gyro[2] * 18000.0 / kPi) <= 1.0);

        // q_s1_e = q_start x q_s1_s with the same q_start at every instant.
        const float *p = in.qs.q;
        const double qs0[4] = {q[0] * p[0] + q[1] * p[1] + q[2] * p[2] + q[3] * p[3],
                               -q[0] * p[1] + q[1] * p[0] - q[2] * p[3] + q[3] * p[2],
                               -q[0] * p[2] + q[1] * p[3] + q[2] * p[0] - q[3] * p[1],
                               -q[0] * p[3] - q[1] * p[2] + q[2] * p[1] + q[3] * p[0]};
        if (checked == 0)
            std::copy(qs0, qs0 + 4, qStart);
        for (int k = 0; k < 4; ++k)
            QVERIFY(std::fabs(qs0[k] - qStart[k]) < 1e-4);
        double sRoll, sPitch, sYaw;
        QuaternionToEuler(in.qs.q, &sRoll, &sPitch, &sYaw);
        QVERIFY(std::fabs(sRoll - in.es.phi) < 1e-3 && std::fabs(sPitch - in.es.theta) < 1e-3);
        QVERIFY(AngleDiff(sYaw, in.es.psi) < 1e-3);

        // The gyroscope agrees with how the quaternion turns between two samples.
        if (previous && it.key() - previousTs == 10000) {
            const float *q0 = previous->qe.q;
            const double dt = 0.01;
            const double w = q0[0], x = -q0[1], y = -q0[2], z = -q0[3]; // conj(q0) x q
            const double d[3] = {w * q[1] + x * q[0] + y * q[3] - z * q[2],
                                 w * q[2] - x * q[3] + y * q[0] + z * q[1],
                                 w * q[3] + x * q[2] - y * q[1] + z * q[0]};
            for (int k = 0; k < 3; ++k) {
                const double rate = 2 * d[k] / dt;
                const double gyro = (previous->raw.gyro[k] + in.raw.gyro[k]) / 2;
                QVERIFY2(std::fabs(rate - gyro) < 2e-3,
                         qPrintable(QString("axis %1: %2 vs %3").arg(k).arg(rate).arg(gyro)));
            }
        }
        previous = &in;
        previousTs = it.key();
        ++checked;
    }
    QVERIFY2(checked >= 50, qPrintable(QString::number(checked)));
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

QTEST_GUILESS_MAIN(TestNodesimProtocol)
#include "tst_nodesim_protocol.moc"

void TestNodesimProtocol::sensorErrorsAndTruth()
{
    // Scale and offset on the accelerometer's x, a bias on the gyro's z, and the truth in the log.
    SimBench b;
    QVERIFY2(b.Start({QStringLiteral("--acc-errors"), QStringLiteral("1.02,1,1,0.05,0,0"),
                      QStringLiteral("--gyro-bias"), QStringLiteral("0,0,2"), QStringLiteral("--log-truth")}),
             qPrintable(b.sim.ErrorString()));
    Np_Settings s = ReadSettings(b, 32);
    s.settingsWord = With(s.settingsWord, {Bit::outGravity, Bit::outCombo});
    QVERIFY(WriteAcknowledged(b, 32, s));
    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.WaitFor(NP_CMD_COMBO_, 32, 20, 5000, from));

    QMap<quint32, Np_Raw_GyroAccMag> raws;
    QMap<quint32, Np_Gravity> gravities;
    QMap<quint32, Np_Combo> combos;
    QMap<quint32, Np_Q_s1_e> quaternions;
    for (int i = from; i < b.host.Arrivals().size(); ++i) {
        const NimboHostLink::Arrival &a = b.host.Arrivals()[i];
        const quint32 ts = qFromLittleEndian<quint32>(a.record.constData() + 4);
        if (a.cmd == NP_CMD_Raw_GYRO_ACC_MAG_)
            raws[ts] = NimboHostLink::As<Np_Raw_GyroAccMag>(a);
        else if (a.cmd == NP_CMD_GRAVITY_)
            gravities[ts] = NimboHostLink::As<Np_Gravity>(a);
        else if (a.cmd == NP_CMD_COMBO_)
            combos[ts] = NimboHostLink::As<Np_Combo>(a);
        else if (a.cmd == NP_CMD_Q_S1_E_)
            quaternions[ts] = NimboHostLink::As<Np_Q_s1_e>(a);
    }
    int checked = 0;
    for (auto it = raws.cbegin(); it != raws.cend(); ++it) {
        if (!gravities.contains(it.key()) || !combos.contains(it.key()))
            continue;
        const Np_Raw_GyroAccMag &raw = it.value();
        const Np_Gravity &g = gravities[it.key()];
        QVERIFY(std::fabs(raw.acc[0] - 1.02f * (g.g[0] + 0.05f)) < 1e-5f);
        QVERIFY(std::fabs(raw.acc[1] - g.g[1]) < 1e-6f);
        // The combo record carries the true rate in hundredths of a degree per second.
        const double trueZ = combos[it.key()].gyroZ / 100.0;
        QVERIFY(std::fabs(raw.gyro[2] * 180.0 / kPi - 2.0 - trueZ) < 0.02);
        ++checked;
    }
    QVERIFY(checked >= 10);

    // Each streamed raw record's log line carries the true attitude: here, the node's own.
    const QVector<QJsonObject> lines =
        b.sim.WaitForLog(SimulatorRunner::Match("tx", NP_CMD_Raw_GYRO_ACC_MAG_), 10, 5000);
    int truths = 0;
    for (const QJsonObject &line : lines) {
        const quint32 ts = quint32(line.value(QLatin1String("timeStamp")).toDouble());
        QVERIFY(line.contains(QLatin1String("truth")));
        if (!quaternions.contains(ts))
            continue;
        for (int k = 0; k < 4; ++k)
            QVERIFY(std::fabs(JsonFloat(line, "truth", k) - quaternions[ts].q[k]) < 1e-6f);
        ++truths;
    }
    QVERIFY(truths >= 5);
}
