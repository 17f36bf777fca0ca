// Arbitrary bytes, in arbitrary chunks, through the profile's receive path and the drain loop, then
// through the send scheduler. With FUZZ_REPAIR_CRC every plausible frame in the input gets a correct
// checksum first, so that the input reaches the dictionary and the dispatch instead of dying in the CRC.

#include "nimboprofile.h"
#include "repairchecksums.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

template <typename T>
void CheckRecord(const T &record, quint8 cmd)
{
    Check(record.header.cmd() == cmd);
    Check(record.header.res() == 0);
    const quint16 to = record.header.toId();
    Check(to == NP_ID_BROADCAST_ || to == NP_ID_HOST_ || to == NP_ID_HOST_NSO_);
}


struct Harness
{
    NimboObjectDictionary od;
    NimboProfile profile{&od};

    Harness()
    {
        using P = NimboProfile;
        QObject::connect(&profile, QOverload<const Np_HeartBeat &>::of(&P::Sig_RX_Data),
                         [](const Np_HeartBeat &r) { CheckRecord(r, NP_CMD_HEARTBEAT_); });
        QObject::connect(&profile, QOverload<const Np_Request &>::of(&P::Sig_RX_Data),
                         [](const Np_Request &r) { CheckRecord(r, NP_CMD_REQUEST_); });
        QObject::connect(&profile, QOverload<const Np_Ack &>::of(&P::Sig_RX_Data),
                         [](const Np_Ack &r) { CheckRecord(r, NP_CMD_ACK_); });
        QObject::connect(&profile, QOverload<const Np_Settings &>::of(&P::Sig_RX_Data),
                         [](const Np_Settings &r) { CheckRecord(r, NP_CMD_SETTING); });
        QObject::connect(&profile, QOverload<const Np_Id &>::of(&P::Sig_RX_Data), [this](const Np_Id &r) {
            CheckRecord(r, NP_CMD_ID_);
            // Answer the way the main window does: ask the node for its settings during dispatch.
            od.Write_Np_Request(r.header.fromId(), NP_CMD_SETTING);
            profile.Queue_SendPkg(r.header.fromId(), NP_CMD_REQUEST_);
        });
        QObject::connect(&profile, QOverload<const Np_NSO &>::of(&P::Sig_RX_Data),
                         [](const Np_NSO &r) { CheckRecord(r, NP_CMD_NSO_); });
        QObject::connect(&profile, QOverload<const Np_Raw_GyroAccMag &>::of(&P::Sig_RX_Data),
                         [](const Np_Raw_GyroAccMag &r) { CheckRecord(r, NP_CMD_Raw_GYRO_ACC_MAG_); });
        QObject::connect(&profile, QOverload<const Np_Raw_GyroAccMag_Ext &>::of(&P::Sig_RX_Data),
                         [](const Np_Raw_GyroAccMag_Ext &) { Check(false); });
        QObject::connect(&profile, QOverload<const Np_Combo &>::of(&P::Sig_RX_Data),
                         [](const Np_Combo &r) { CheckRecord(r, NP_CMD_COMBO_); });
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the chunk sizes, the rest is the stream.
    const int chunkSeed = data[0];
    std::vector<char> stream(reinterpret_cast<const char *>(data) + 1,
                             reinterpret_cast<const char *>(data) + size);
#ifdef FUZZ_REPAIR_CRC
    RepairChecksums(stream);
#endif

    Harness h;
    const quint32 bytesIn = quint32(stream.size());
    size_t offset = 0;
    int step = 0;
    while (offset < stream.size()) {
        size_t chunk = size_t(1 + ((chunkSeed * 31 + step * 17) % 97));
        if (chunkSeed & 0x80)
            chunk = stream.size(); // sometimes everything at once, larger than the framing queue
        chunk = std::min(chunk, stream.size() - offset);
        int last = 0;
        h.profile.Drain(stream.data() + offset, int(chunk), [&](int r, const Np_Header &) { last = r; });
        Check(last == NP_QUEUE_EMPTY_);
        offset += chunk;
        ++step;

        // The scheduler hands out at most every queued record once, as frames that parse back.
        NimboProtocol reader;
        reader.Init(44, 44);
        for (int n = 0;; ++n) {
            Check(n <= NimboProfile::kSlots + 1);
            quint16 toId;
            char *frame = nullptr;
            int frameSize = 0;
            const int r = h.profile.Next_SendPkg(&toId, &frame, &frameSize);
            if (r == NP_NORMAL_EXIT_)
                break;
            if (r != NP_SUCC_)
                continue;
            std::vector<char> copy(frame, frame + frameSize);
            char *payload = nullptr;
            int payloadSize = 0;
            Check(reader.AssembleInputPackage(copy.data(), int(copy.size()), &payload, &payloadSize) ==
                  NP_SUCC_);
            Check(payloadSize == frameSize - 5);
            Check(std::memcmp(payload, frame + 3, size_t(payloadSize)) == 0);
        }
        for (int key = 0; key < NimboObjectDictionary::kEntries; ++key) {
            const quint8 flags = h.od.Get_Flags(NimboObjectDictionary::kStaticTable[key].cmd);
            Check(flags == NimboObjectDictionary::FLAG_UNLOCKED);
        }
    }
    const NimboProtocol *p = h.profile.Protocol();
    Check(quint32(p->GetStatistic_Recv_Byte_Total()) == bytesIn);
    Check(quint32(p->GetStatistic_Recv_Pkg_Total()) == p->RecvPkgGood() + p->RecvPkgBad() + p->RecvPkgOmit());
    Check(p->RecvByteBadHead() + p->RecvByteGoodHead() <= bytesIn);
    return 0;
}
