#include "nimboprofile.h"

#include <cstring>

namespace {

struct SlotTable
{
    quint8 cmd[NimboProfile::kSlots + 1];
};

constexpr SlotTable MakeSlotTable()
{
    SlotTable table{};
    for (const NimboRecords::Entry &e : NimboRecords::kTable)
        if (e.sendSlot >= 0)
            table.cmd[e.sendSlot] = e.cmd;
    return table;
}

constexpr SlotTable kSlotTable = MakeSlotTable();

} // namespace

const quint8 (&NimboProfile::kSlotCmd)[kSlots + 1] = kSlotTable.cmd;

NimboProfile::NimboProfile(NimboObjectDictionary *nOD_i, QObject *parent)
    : QObject(parent)
    , nOD(nOD_i)
    , nP(new NimboProtocol)
{
    const int maxSize = nOD ? nOD->Get_MaxSize() : 0;
    nP->Init(maxSize, maxSize);
}

NimboProfile::~NimboProfile() { delete nP; }

int NimboProfile::SlotOf(quint8 cmd)
{
    if (cmd == 0)
        return -1;
    for (int slot = 0; slot <= kSlots; ++slot)
        if (kSlotCmd[slot] == cmd)
            return slot;
    return -1;
}

bool NimboProfile::IsQueued(quint8 cmd) const
{
    const int slot = SlotOf(cmd);
    return slot >= 0 && (onceFlags & (1u << slot));
}

int NimboProfile::On_RecvPkg(char *data, int dataSize, Np_Header *header)
{
    char *payload = nullptr;
    int payloadSize = 0;
    const int framed = nP->AssembleInputPackage(data, dataSize, &payload, &payloadSize);
    if (framed != NP_SUCC_)
        return framed;
    if (!nOD)
        return NP_FAIL_;

    Np_Header incoming;
    if (nOD->Read_Header(payload, payloadSize, &incoming) != NP_SUCC_)
        return NP_NORMAL_EXIT_;
    const quint16 toId = incoming.toId();
    if (incoming.res() != 0 || !(toId == NP_ID_BROADCAST_ || toId == NP_ID_HOST_ || toId == NP_ID_HOST_NSO_))
        return NP_NORMAL_EXIT_;

    Np_Header stored;
    const int written = nOD->Write(payload, payloadSize, &stored);
    if (header)
        *header = stored;
    if (written != NP_SUCC_)
        return written;
    return Dispatch(stored.cmd());
}

template <typename T, typename Reader>
void NimboProfile::ReadAndEmit(Reader read)
{
    T record;
    if ((nOD->*read)(&record) == NP_SUCC_) {
        emit Sig_RX_Data(record);
        Signalled(record);
    }
}

void NimboProfile::Signalled(const Np_Request &request)
{
    const quint16 toId = request.header.toId();
    // Answered from the store; a type the host does not hold or cannot queue is ignored.
    if (toId == NP_ID_BROADCAST_ || toId == NP_ID_HOST_)
        Queue_SendPkg(request.header.fromId(), request.cmdRequest);
}

int NimboProfile::Dispatch(quint8 cmd)
{
    using D = NimboObjectDictionary;
    switch (cmd) {
#define NIMBO_DISPATCH(Type, cmdId, size, slot, signalled, routed) \
    case cmdId:                                                     \
        if (!(signalled))                                           \
            return NP_FAIL_;                                        \
        ReadAndEmit<Type>(&D::Read_##Type);                         \
        break;
        NIMBO_RECORDS(NIMBO_DISPATCH)
#undef NIMBO_DISPATCH
    default:
        // A cmd the dictionary stored without a record type to signal it by.
        return NP_FAIL_;
    }
    return NP_SUCC_;
}

int NimboProfile::Queue_SendPkg(quint16 toId, quint8 cmd)
{
    // A type without a scheduler slot would stay write-protected forever: nothing would send it.
    const int slot = SlotOf(cmd);
    if (slot < 0 || !nOD)
        return NP_FAIL_;
    int result = nOD->Write_Header_toId(cmd, toId);
    if (result != NP_SUCC_)
        return result;
    result = nOD->NOD_DB_SetWriteProtect(cmd, true);
    if (result != NP_SUCC_)
        return result;
    onceFlags |= 1u << slot;
    return NP_SUCC_;
}

int NimboProfile::Next_SendPkg(quint16 *toId, char **pkgData, int *pkgSize)
{
    if (onceFlags & 1u) {
        onceFlags &= ~1u;
        lastSentCmd = NP_CMD_ACK_;
        return On_SendPkg(NP_CMD_ACK_, toId, pkgData, pkgSize);
    }
    for (int i = 0; i < kSlots; ++i) {
        const int slot = (onceIndex - 1 + i) % kSlots + 1;
        if (onceFlags & (1u << slot)) {
            onceFlags &= ~(1u << slot);
            onceIndex = slot % kSlots + 1;
            lastSentCmd = kSlotCmd[slot];
            return On_SendPkg(kSlotCmd[slot], toId, pkgData, pkgSize);
        }
    }
    return NP_NORMAL_EXIT_;
}

int NimboProfile::On_SendPkg(quint8 cmd, quint16 *toId, char **pkgData, int *pkgSize)
{
    if (!nOD)
        return NP_FAIL_;
    char *record = nullptr;
    int length = 0;
    int result = nOD->Read(cmd, &record, &length);
    if (result == NP_SUCC_) {
        Np_Header header;
        std::memcpy(&header, record, sizeof(header));
        if (toId)
            *toId = header.toId();
        result = nP->CreateOutputPackage(record, length, pkgData, pkgSize);
    }
    // Released whatever the outcome, so a record that could not be framed leaves the queue.
    nOD->NOD_DB_SetWriteProtect(cmd, false);
    nOD->NOD_DB_SetReadProtect(cmd, false);
    return result;
}
