// The simulator's line: fault injection doing what it says, a host opening and closing the port,
// and several fast nodes sharing the one line.

#include "simbench.h"

#include <QtTest>

#include <cmath>
#include <unistd.h>

namespace {

using Key = std::tuple<int, int, quint32>; // node, cmd, time stamp

bool Streamed(int cmd)
{
    return cmd == NP_CMD_STATUS_ || cmd == NP_CMD_Raw_GYRO_ACC_MAG_ || cmd == NP_CMD_Q_S1_E_ ||
           cmd == NP_CMD_RPY_;
}

quint32 TimeStamp(const NimboHostLink::Arrival &a)
{
    return qFromLittleEndian<quint32>(a.record.constData() + 4);
}

QMap<Key, QJsonObject> SentStream(SimulatorRunner &sim)
{
    QMap<Key, QJsonObject> sent;
    for (const QJsonObject &o : sim.LogRecords())
        if (o.value("dir") == "tx" && Streamed(o.value("cmd").toInt()))
            sent.insert(Key(o.value("node").toInt(), o.value("cmd").toInt(),
                            quint32(o.value("timeStamp").toDouble())),
                        o);
    return sent;
}

// The received record carries exactly the values the simulator logged for it.
bool SameAsLogged(const NimboHostLink::Arrival &a, const QJsonObject &o)
{
    switch (a.cmd) {
    case NP_CMD_STATUS_: {
        const Np_Status r = NimboHostLink::As<Np_Status>(a);
        return r.temperature == JsonFloat(o, "temperature") && r.sysState == o.value("sysState").toInt();
    }
    case NP_CMD_Raw_GYRO_ACC_MAG_: {
        const Np_Raw_GyroAccMag r = NimboHostLink::As<Np_Raw_GyroAccMag>(a);
        for (int k = 0; k < 3; ++k)
            if (r.gyro[k] != JsonFloat(o, "gyro", k) || r.acc[k] != JsonFloat(o, "acc", k) ||
                r.mag[k] != JsonFloat(o, "mag", k))
                return false;
        return true;
    }
    case NP_CMD_Q_S1_E_: {
        const Np_Q_s1_e r = NimboHostLink::As<Np_Q_s1_e>(a);
        for (int k = 0; k < 4; ++k)
            if (r.q[k] != JsonFloat(o, "q", k))
                return false;
        return true;
    }
    case NP_CMD_RPY_: {
        const Np_RPY r = NimboHostLink::As<Np_RPY>(a);
        return r.roll == JsonFloat(o, "roll") && r.pitch == JsonFloat(o, "pitch") &&
               r.yaw == JsonFloat(o, "yaw");
    }
    default: return false;
    }
}

// Every streamed record the host got was sent intact; returns how many were checked.
int CheckReceivedAgainstLog(SimBench &b, int from)
{
    const QMap<Key, QJsonObject> sent = SentStream(b.sim);
    int checked = 0;
    for (int i = from; i < b.host.Arrivals().size(); ++i) {
        const NimboHostLink::Arrival &a = b.host.Arrivals()[i];
        if (!Streamed(a.cmd))
            continue;
        const auto it = sent.constFind(Key(a.fromId, a.cmd, TimeStamp(a)));
        if (it == sent.cend() || it->contains("fault") || !SameAsLogged(a, *it)) {
            qWarning() << "received but not sent intact:" << a.cmd << a.fromId << TimeStamp(a)
                       << (it == sent.cend() ? QJsonObject() : *it);
            return -1;
        }
        ++checked;
    }
    return checked;
}

// For the records of one node and type logged between the first and the last one received:
// exactly those without a fault arrived.
void CheckNoneLost(SimBench &b, int node, int cmd, int from, const QString &expectedFault, int *faulty)
{
    QSet<quint32> received;
    quint32 first = 0xFFFFFFFF, last = 0;
    for (int i = from; i < b.host.Arrivals().size(); ++i) {
        const NimboHostLink::Arrival &a = b.host.Arrivals()[i];
        if (a.cmd == cmd && a.fromId == node) {
            received.insert(TimeStamp(a));
            first = qMin(first, TimeStamp(a));
            last = qMax(last, TimeStamp(a));
        }
    }
    QVERIFY(received.size() > 20);
    *faulty = 0;
    for (const QJsonObject &o : SentStream(b.sim)) {
        const quint32 ts = quint32(o.value("timeStamp").toDouble());
        if (o.value("node").toInt() != node || o.value("cmd").toInt() != cmd || ts < first || ts > last)
            continue;
        const QString fault = o.value("fault").toString();
        QVERIFY2(fault.isEmpty() || fault == expectedFault, qPrintable(fault));
        QVERIFY2(received.contains(ts) == fault.isEmpty(), qPrintable(QString("time stamp %1").arg(ts)));
        *faulty += fault.isEmpty() ? 0 : 1;
    }
}

double CpuSeconds(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

SimulatorRunner::Predicate Fault(const QString &fault)
{
    return [fault](const QJsonObject &o) { return o.value("fault").toString() == fault; };
}

} // namespace

class TestNodesimLine : public QObject
{
    Q_OBJECT

private slots:
    void corruptFramesNeverReachASignal();
    void droppedFramesAreTheLoggedOnes();
    void noiseCostsNoFrame();
    void harshNoiseCostsNoIntactFrame();
    void mutedTypesAreNeverSent();
    void latencyDelaysTheAnswer();
    void reopeningGetsNoBacklog();
    void threeNodesAt800Hz();
};

void TestNodesimLine::corruptFramesNeverReachASignal()
{
    SimBench b;
    QVERIFY2(b.Start({"--corrupt", "0.3", "--seed", "1"}), qPrintable(b.sim.ErrorString()));
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 100, 5000));
    QVERIFY(b.host.Protocol().RecvPkgBad() > 10);
    QVERIFY(b.host.Arrivals().size() > 200);
    QVERIFY(CheckReceivedAgainstLog(b, 0) > 200);
    const int corrupted = b.sim.WaitForLog(Fault("corrupt"), 1, 0).size();
    QVERIFY(int(b.host.Protocol().RecvPkgBad()) <= corrupted);
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimLine::droppedFramesAreTheLoggedOnes()
{
    SimBench b;
    QVERIFY2(b.Start({"--drop", "0.5", "--seed", "2"}), qPrintable(b.sim.ErrorString()));
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 60, 5000));
    int dropped = 0;
    CheckNoneLost(b, 32, NP_CMD_RPY_, 0, "drop", &dropped);
    QVERIFY(dropped > 20);
    QCOMPARE(b.host.Protocol().RecvPkgBad(), 0u);
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimLine::noiseCostsNoFrame()
{
    SimBench b;
    QVERIFY2(b.Start({"--noise", "7", "--seed", "3"}), qPrintable(b.sim.ErrorString()));
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 60, 5000));
    int faulty = -1;
    CheckNoneLost(b, 32, NP_CMD_RPY_, 0, QString(), &faulty);
    QCOMPARE(faulty, 0);
    QVERIFY(b.host.Protocol().RecvByteBadHead() >= 7u * 200u);
    QCOMPARE(b.host.Protocol().RecvPkgBad(), 0u);
    QCOMPARE(b.host.Protocol().RecvPkgOmit(), 0u);
    QVERIFY(CheckReceivedAgainstLog(b, 0) > 200);
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimLine::harshNoiseCostsNoIntactFrame()
{
    // Noise with head bytes and false heads, and damaged length bytes: the receiver searches the
    // bytes of every failed frame again, so each frame that left intact arrives.
    SimBench b;
    QVERIFY2(b.Start({"--noise", "6", "--corrupt", "0.2", "--harsh", "--odr", "400", "--seed", "5"}),
             qPrintable(b.sim.ErrorString()));
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 400, 8000));
    int corrupted = 0;
    CheckNoneLost(b, 32, NP_CMD_RPY_, 0, "corrupt", &corrupted);
    CheckNoneLost(b, 32, NP_CMD_Raw_GYRO_ACC_MAG_, 0, "corrupt", &corrupted);
    QVERIFY(corrupted > 50);
    QVERIFY(b.host.Protocol().RecvPkgBad() + b.host.Protocol().RecvPkgOmit() > 0);
    QVERIFY(CheckReceivedAgainstLog(b, 0) > 500);
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimLine::mutedTypesAreNeverSent()
{
    SimBench b;
    QVERIFY2(b.Start({"--mute", "24,13"}), qPrintable(b.sim.ErrorString()));
    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.Request(NP_ID_BROADCAST_, NP_CMD_ID_));
    QVERIFY(b.host.Request(32, NP_CMD_SETTING));
    QVERIFY(b.host.WaitFor(NP_CMD_SETTING, 32, 1, 3000, from));
    Np_Settings s = NimboHostLink::As<Np_Settings>(b.host.Arrivals()[b.host.Find(NP_CMD_SETTING, 32, from)]);
    s.odr = 50;
    QVERIFY(b.host.WriteSettings(32, s));
    QVERIFY(b.Settle(32));
    QCOMPARE(b.host.Count(NP_CMD_ID_, -1, from), 0);
    QCOMPARE(b.host.Count(NP_CMD_ACK_, -1, from), 0);

    // Applied all the same, and the log says what was held back.
    const int again = b.host.Arrivals().size();
    QVERIFY(b.host.Request(32, NP_CMD_SETTING));
    QVERIFY(b.host.WaitFor(NP_CMD_SETTING, 32, 1, 3000, again));
    QCOMPARE(
        int(NimboHostLink::As<Np_Settings>(b.host.Arrivals()[b.host.Find(NP_CMD_SETTING, 32, again)]).odr),
        50);
    const QVector<QJsonObject> muted = b.sim.WaitForLog(Fault("mute"), 2, 2000);
    QCOMPARE(muted.size(), 2);
    QCOMPARE(muted[0].value("cmd").toInt(), int(NP_CMD_ID_));
    QCOMPARE(muted[1].value("cmd").toInt(), int(NP_CMD_ACK_));
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimLine::latencyDelaysTheAnswer()
{
    SimBench b;
    QVERIFY2(b.Start({"--latency-ms", "300"}), qPrintable(b.sim.ErrorString()));
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 1, 3000));
    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.Request(32, NP_CMD_HEARTBEAT_));
    QVERIFY(b.host.WaitFor(NP_CMD_HEARTBEAT_, 32, 1, 5000, from));
    // The stream goes on meanwhile: the delay is the node's handling, not the line.
    QVERIFY(b.host.Count(NP_CMD_RPY_, 32, from) >= 10);

    const QVector<QJsonObject> rx =
        b.sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_REQUEST_, 32), 1, 2000);
    const QVector<QJsonObject> tx =
        b.sim.WaitForLog(SimulatorRunner::Match("tx", NP_CMD_HEARTBEAT_, 32), 1, 2000);
    QCOMPARE(rx.size(), 1);
    QCOMPARE(tx.size(), 1);
    const double delay = tx[0].value("t").toDouble() - rx[0].value("t").toDouble();
    QVERIFY2(delay >= 0.2995, qPrintable(QString::number(delay)));
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimLine::reopeningGetsNoBacklog()
{
    SimBench b;
    QVERIFY2(b.Start(), qPrintable(b.sim.ErrorString()));
    for (int round = 0; round < 10; ++round) {
        const int from = b.host.Arrivals().size();
        QVERIFY(b.host.IsOpen() || b.host.Open(b.sim.PortPath()));
        QVERIFY2(b.host.WaitFor(NP_CMD_RPY_, 32, 1, 3000, from), qPrintable(QString("round %1").arg(round)));
        b.host.Close();
    }

    // A host that stops reading and then closes the port leaves unread frames behind.
    QVERIFY(b.host.Open(b.sim.PortPath()));
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 1, 3000));
    b.host.SetReading(false);
    const int sentBefore = b.sim.WaitForLog(SimulatorRunner::Match("tx", NP_CMD_RPY_, 32), 1, 0).size();
    QVERIFY(b.sim.WaitForLog(SimulatorRunner::Match("tx", NP_CMD_RPY_, 32), sentBefore + 30, 3000).size() >=
            sentBefore + 30);
    b.host.Close();

    // Closed: the stream goes into the void, and waiting for a host costs next to no CPU.
    const int offlineBefore = b.sim.WaitForLog(Fault("offline"), 1, 0).size();
    const double cpuBefore = CpuSeconds(b.sim.ProcessId());
    QElapsedTimer wall;
    wall.start();
    QVERIFY(b.sim.WaitForLog(Fault("offline"), offlineBefore + 400, 5000).size() >= offlineBefore + 400);
    const double cpu = CpuSeconds(b.sim.ProcessId()) - cpuBefore;
    QVERIFY2(cpu >= 0 && cpu < 0.5 * wall.elapsed() / 1000.0,
             qPrintable(QString("%1 s CPU in %2 ms").arg(cpu).arg(wall.elapsed())));

    // Reopened: only records sent from now on, nothing left over from before.
    quint32 stale = 0;
    for (const QJsonObject &o : b.sim.LogRecords())
        if (o.value("dir") == "tx" && o.value("cmd") == NP_CMD_RPY_)
            stale = qMax(stale, quint32(o.value("timeStamp").toDouble()));
    const int from = b.host.Arrivals().size();
    QVERIFY(b.host.Open(b.sim.PortPath()));
    QVERIFY(b.host.WaitFor(NP_CMD_RPY_, 32, 20, 3000, from));
    for (int i = from; i < b.host.Arrivals().size(); ++i)
        if (b.host.Arrivals()[i].cmd == NP_CMD_RPY_)
            QVERIFY2(TimeStamp(b.host.Arrivals()[i]) > stale,
                     qPrintable(QString::number(TimeStamp(b.host.Arrivals()[i]))));
    QVERIFY(b.Settle(32));
    QVERIFY(CheckReceivedAgainstLog(b, from) >= 20);
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

void TestNodesimLine::threeNodesAt800Hz()
{
    SimBench b;
    QVERIFY2(b.Start({"--nodes", "3", "--odr", "800"}), qPrintable(b.sim.ErrorString()));
    const int first = 50, last = 1650; // two seconds of samples after a short settling
    for (int node = 32; node <= 34; ++node)
        QVERIFY(b.host.WaitFor(NP_CMD_RPY_, node, last + 1, 15000));
    for (int node = 32; node <= 34; ++node) {
        QVector<qint64> at;
        for (const NimboHostLink::Arrival &a : b.host.Arrivals())
            if (a.cmd == NP_CMD_RPY_ && a.fromId == node)
                at.append(a.atNs);
        const double rate = (last - first) / (double(at[last] - at[first]) / 1e9);
        QVERIFY2(std::fabs(rate - 800.0) <= 40.0, qPrintable(QString("node %1: %2 Hz").arg(node).arg(rate)));
    }
    // Frames of different nodes never interleave on the line.
    QCOMPARE(b.host.Protocol().RecvPkgBad(), 0u);
    QCOMPARE(b.host.Protocol().RecvByteBadHead(), 0u);
    QVERIFY2(b.sim.Stop(), qPrintable(b.sim.ErrorString()));
}

QTEST_GUILESS_MAIN(TestNodesimLine)
#include "tst_nodesim_line.moc"
