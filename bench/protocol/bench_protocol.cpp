// Receive-path throughput of the framing and of the profile on a stream of mixed records, compared
// with the 4 Mbaud line rate. Counts heap allocations inside the measured loops.

#include "allocationcounter.h"
#include "nimboprofile.h"

#include <QCoreApplication>
#include <QtEndian>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

constexpr double kLineBytesPerSecond = 400000.0; // 4 Mbaud, 10 bits per byte

QByteArray Frame(const QByteArray &payload)
{
    QByteArray body;
    body.append(char(payload.size()));
    body.append(payload);
    const quint16 crc = NimboProtocol::Crc16(body.constData(), body.size());
    QByteArray frame("\xAA\x55", 2);
    frame += body;
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

template <typename T>
QByteArray Bytes(T record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), int(sizeof(T)));
}

// Raw, quaternion, RPY and status records of four nodes, as a streaming bus sends them.
QByteArray MixedStream(int targetBytes, int *records)
{
    QByteArray stream;
    *records = 0;
    quint32 t = 0;
    while (stream.size() < targetBytes) {
        for (quint16 node = 32; node < 36; ++node) {
            Np_Raw_GyroAccMag raw{};
            raw.header = Np_Header::Make(NP_CMD_Raw_GYRO_ACC_MAG_, node, NP_ID_HOST_);
            raw.timeStamp = t;
            raw.gyro[0] = 0.01f * float(t % 97);
            Np_Q_s1_e q{};
            q.header = Np_Header::Make(NP_CMD_Q_S1_E_, node, NP_ID_HOST_);
            q.timeStamp = t;
            q.q[0] = 1.0f;
            Np_RPY rpy{};
            rpy.header = Np_Header::Make(NP_CMD_RPY_, node, NP_ID_HOST_);
            rpy.timeStamp = t;
            rpy.yaw = float(t % 360);
            stream += Frame(Bytes(raw)) + Frame(Bytes(q)) + Frame(Bytes(rpy));
            *records += 3;
            if (t % 8 == 0) {
                Np_Status status{};
                status.header = Np_Header::Make(NP_CMD_STATUS_, node, NP_ID_HOST_);
                status.timeStamp = t;
                stream += Frame(Bytes(status));
                ++*records;
            }
        }
        ++t;
    }
    return stream;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

class Receiver : public QObject
{
public:
    long count = 0;
    float sum = 0;
    void OnRaw(const Np_Raw_GyroAccMag &r) { ++count, sum += r.gyro[0]; }
    void OnQ(const Np_Q_s1_e &r) { ++count, sum += r.q[0]; }
    void OnRpy(const Np_RPY &r) { ++count, sum += r.yaw; }
    void OnStatus(const Np_Status &r) { ++count, sum += float(r.timeStamp & 1); }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int records = 0;
    const QByteArray stream = MixedStream(8 * 1024 * 1024, &records);
    const int chunk = 1024; // a typical serial read
    const int rounds = 12;

    // Framing alone, drained the way the link panel drains a chunk.
    {
        NimboProtocol protocol;
        protocol.Init(44, 44);
        long frames = 0;
        const long before = AllocationCount();
        const auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < rounds; ++round) {
            for (int off = 0; off < stream.size(); off += chunk) {
                char *payload;
                int size;
                int r = protocol.AssembleInputPackage(const_cast<char *>(stream.constData()) + off,
                                                      std::min(chunk, stream.size() - off), &payload, &size);
                while (r != NP_QUEUE_EMPTY_) {
                    frames += (r == NP_SUCC_);
                    r = protocol.AssembleInputPackage(nullptr, 0, &payload, &size);
                }
            }
        }
        const double s = Seconds(start);
        const double bytesPerSecond = double(stream.size()) * rounds / s;
        std::printf("framing:  %.1f MB/s through AssembleInputPackage (%.0f x the 4 Mbaud line rate), "
                    "%ld frames, %ld heap allocations\n",
                    bytesPerSecond / 1e6, bytesPerSecond / kLineBytesPerSecond, frames,
                    AllocationCount() - before);
        if (frames != long(records) * rounds || protocol.RecvPkgBad() != 0) {
            std::printf("framing: lost or bad frames\n");
            return 1;
        }
    }

    // The profile with one connected receiver per signalled type of the stream.
    {
        NimboObjectDictionary od;
        NimboProfile profile(&od);
        Receiver receiver;
        QObject::connect(&profile, QOverload<const Np_Raw_GyroAccMag &>::of(&NimboProfile::Sig_RX_Data),
                         &receiver, &Receiver::OnRaw);
        QObject::connect(&profile, QOverload<const Np_Q_s1_e &>::of(&NimboProfile::Sig_RX_Data), &receiver,
                         &Receiver::OnQ);
        QObject::connect(&profile, QOverload<const Np_RPY &>::of(&NimboProfile::Sig_RX_Data), &receiver,
                         &Receiver::OnRpy);
        QObject::connect(&profile, QOverload<const Np_Status &>::of(&NimboProfile::Sig_RX_Data), &receiver,
                         &Receiver::OnStatus);
        int lastResult = 0;
        const long before = AllocationCount();
        const auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < rounds; ++round)
            for (int off = 0; off < stream.size(); off += chunk)
                profile.Drain(stream.constData() + off, std::min(chunk, stream.size() - off),
                              [&](int r, const Np_Header &) { lastResult = r; });
        const double s = Seconds(start);
        const double recordsPerSecond = double(records) * rounds / s;
        const double bytesPerSecond = double(stream.size()) * rounds / s;
        std::printf(
            "profile:  %.2f M records/s through NimboProfile::On_RecvPkg (%.1f MB/s, %.0f x the 4 Mbaud "
            "line rate), %ld heap allocations\n",
            recordsPerSecond / 1e6, bytesPerSecond / 1e6, bytesPerSecond / kLineBytesPerSecond,
            AllocationCount() - before);
        if (receiver.count != long(records) * rounds || lastResult != NP_QUEUE_EMPTY_) {
            std::printf("profile: %ld of %ld records reached the receiver\n", receiver.count,
                        long(records) * rounds);
            return 1;
        }
    }
    std::printf("stream: %d bytes, %d records, average frame %.1f bytes\n", stream.size(), records,
                double(stream.size()) / records);
    return 0;
}
