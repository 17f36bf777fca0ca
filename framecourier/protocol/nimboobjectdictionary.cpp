#include "nimboobjectdictionary.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#define NIMBO_STATIC_ENTRY(Type, cmd, size, slot, signalled, routed) {cmd, size},
const NimboObjectDictionary::StaticEntry NimboObjectDictionary::kStaticTable[kEntries] = {
    NIMBO_RECORDS(NIMBO_STATIC_ENTRY)};
#undef NIMBO_STATIC_ENTRY

namespace {

void RegisterRecordTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<Np_Header>("Np_Header");
        qRegisterMetaType<Np_Settings_V318>("Np_Settings_V318");
#define NIMBO_REGISTER(Type, cmd, size, slot, signalled, routed) qRegisterMetaType<Type>(#Type);
        NIMBO_RECORDS(NIMBO_REGISTER)
#undef NIMBO_REGISTER
        return true;
    }();
    Q_UNUSED(registered);
}

template <typename Tuple, std::size_t... I>
void StoragePointers(Tuple &store, char **out, std::index_sequence<I...>)
{
    ((out[I] = reinterpret_cast<char *>(&std::get<I>(store))), ...);
}

} // namespace

NimboObjectDictionary::NimboObjectDictionary(QObject *parent)
    : QObject(parent)
{
    RegisterRecordTypes();

    std::memset(keyOfCmd, -1, sizeof(keyOfCmd));
    std::fill(std::begin(nodeLayout), std::end(nodeLayout), kLayoutUnknown);
    char *records[kEntries] = {};
    StoragePointers(store, records, std::make_index_sequence<kEntries>());
    for (int key = 0; key < kEntries; ++key) {
        sizes[key] = kStaticTable[key].size;
        keyOfCmd[kStaticTable[key].cmd] = qint8(key);
        dynamicTable[key] = {records[key], FLAG_UNLOCKED};
    }
}

int NimboObjectDictionary::NOD_DB_FindKey(quint8 cmd) const { return cmd < 128 ? keyOfCmd[cmd] : -1; }

int NimboObjectDictionary::Get_Size(quint8 cmd) const
{
    const int key = NOD_DB_FindKey(cmd);
    return key < 0 ? -1 : sizes[key];
}

quint8 NimboObjectDictionary::Get_Flags(quint8 cmd) const
{
    const int key = NOD_DB_FindKey(cmd);
    return key < 0 ? 0 : dynamicTable[key].flags;
}

bool NimboObjectDictionary::Busy(int key, quint8 also) const
{
    return dynamicTable[key].flags & (FLAG_LOCKED | also);
}

int NimboObjectDictionary::Write(char *dataIn, int lengthIn, Np_Header *headerOut)
{
    Np_Header header;
    if (Read_Header(dataIn, lengthIn, &header) != NP_SUCC_)
        return NP_FAIL_;
    if (headerOut)
        *headerOut = header;

    const int key = NOD_DB_FindKey(header.cmd());
    if (key < 0)
        return NP_FAIL_;
    if (key == kSettingsKey) {
        // The node on the other end decides the layout: the sender of a received record, the
        // addressee of one the host built.
        const quint16 node = header.fromId() == NP_ID_HOST_ ? header.toId() : header.fromId();
        const int layout = Get_Version(node);
        const int size = layout == kLegacyVersion ? int(sizeof(Np_Settings_V318))
                         : layout == 0            ? int(sizeof(Np_Settings))
                                                  : sizes[key];
        if (lengthIn != size)
            return NP_FAIL_;
        if (Busy(key, FLAG_WRITE_PROTECT | FLAG_READ_PROTECT))
            return NP_MUTEX_LOCKED_;
        SelectSettingsLayout(layout);
    }
    if (lengthIn != sizes[key])
        return NP_FAIL_;
    if (Busy(key, FLAG_WRITE_PROTECT | FLAG_READ_PROTECT))
        return NP_MUTEX_LOCKED_;

    DynamicEntry &entry = dynamicTable[key];
    entry.flags = quint8((entry.flags & ~FLAG_UNLOCKED) | FLAG_LOCKED);
    std::memcpy(entry.record, dataIn, size_t(lengthIn));
    entry.flags = quint8((entry.flags & ~FLAG_LOCKED) | FLAG_UNLOCKED);
    return NP_SUCC_;
}

int NimboObjectDictionary::Read(quint8 cmd, char **dataOut, int *lengthOut)
{
    const int key = NOD_DB_FindKey(cmd);
    if (key < 0 || !dataOut || !lengthOut)
        return NP_FAIL_;
    if (Busy(key, FLAG_READ_PROTECT))
        return NP_MUTEX_LOCKED_;
    dynamicTable[key].flags |= FLAG_READ_PROTECT;
    *dataOut = dynamicTable[key].record;
    *lengthOut = sizes[key];
    return NP_SUCC_;
}

int NimboObjectDictionary::Write_Header(quint8 cmd, Np_Header header)
{
    const int key = NOD_DB_FindKey(cmd);
    if (key < 0)
        return NP_FAIL_;
    if (Busy(key, FLAG_WRITE_PROTECT | FLAG_READ_PROTECT))
        return NP_MUTEX_LOCKED_;
    // A header of another type would make the stored record lie about itself on the wire; an entry
    // that was never stored still has cmd 0 and is refused here, so it is never sent.
    if (header.cmd() != cmd)
        return NP_FAIL_;
    std::memcpy(dynamicTable[key].record, &header, sizeof(header));
    return NP_SUCC_;
}

int NimboObjectDictionary::Write_Header_toId(quint8 cmd, quint16 toId)
{
    Np_Header header;
    const int result = Read_Header(cmd, &header);
    if (result != NP_SUCC_)
        return result;
    header.setToId(toId);
    return Write_Header(cmd, header);
}

int NimboObjectDictionary::Read_Header(quint8 cmd, Np_Header *header)
{
    const int key = NOD_DB_FindKey(cmd);
    if (key < 0 || !header)
        return NP_FAIL_;
    if (Busy(key, FLAG_READ_PROTECT))
        return NP_MUTEX_LOCKED_;
    std::memcpy(header, dynamicTable[key].record, sizeof(*header));
    return NP_SUCC_;
}

int NimboObjectDictionary::Read_Header(char *dataIn, int lengthIn, Np_Header *header)
{
    if (!dataIn || !header || lengthIn < int(sizeof(Np_Header)))
        return NP_FAIL_;
    std::memcpy(header, dataIn, sizeof(*header));
    return NP_SUCC_;
}

int NimboObjectDictionary::NOD_DB_SetWriteProtect(quint8 cmd, bool protect)
{
    const int key = NOD_DB_FindKey(cmd);
    if (key < 0)
        return NP_FAIL_;
    quint8 &flags = dynamicTable[key].flags;
    if (protect) {
        if (flags & FLAG_WRITE_PROTECT)
            return NP_MUTEX_LOCKED_;
        flags |= FLAG_WRITE_PROTECT;
    } else {
        flags &= quint8(~FLAG_WRITE_PROTECT);
    }
    return NP_SUCC_;
}

int NimboObjectDictionary::NOD_DB_SetReadProtect(quint8 cmd, bool protect)
{
    const int key = NOD_DB_FindKey(cmd);
    if (key < 0)
        return NP_FAIL_;
    quint8 &flags = dynamicTable[key].flags;
    if (protect) {
        if (flags & FLAG_READ_PROTECT)
            return NP_MUTEX_LOCKED_;
        flags |= FLAG_READ_PROTECT;
    } else {
        flags &= quint8(~FLAG_READ_PROTECT);
    }
    return NP_SUCC_;
}

int NimboObjectDictionary::Set_Version(int v)
{
    if (Busy(kSettingsKey, FLAG_WRITE_PROTECT | FLAG_READ_PROTECT))
        return NP_MUTEX_LOCKED_;
    version = v;
    SelectSettingsLayout(v);
    return NP_SUCC_;
}

void NimboObjectDictionary::SelectSettingsLayout(int v)
{
    if (v == 0) {
        sizes[kSettingsKey] = int(sizeof(Np_Settings));
        dynamicTable[kSettingsKey].record = reinterpret_cast<char *>(&std::get<Np_Settings>(store));
    } else if (v == kLegacyVersion) {
        sizes[kSettingsKey] = int(sizeof(Np_Settings_V318));
        dynamicTable[kSettingsKey].record = reinterpret_cast<char *>(&legacySettings);
    }
}

int NimboObjectDictionary::Get_Version(quint16 nodeId) const
{
    const qint16 layout = nodeId <= NP_ID_MAX_ ? nodeLayout[nodeId] : kLayoutUnknown;
    return layout == kLayoutUnknown ? version : layout;
}

int NimboObjectDictionary::VersionForFirmware(const quint8 fwVersion[4])
{
    return (fwVersion[0] == 3 && fwVersion[1] != 0) ? kLegacyVersion : 0;
}

quint32 NimboObjectDictionary::LegacyWordFromCurrent(quint32 word)
{
    return (word & 0x7u) | (((word >> 4) & 0x3FFFFFu) << 3);
}

quint32 NimboObjectDictionary::CurrentWordFromLegacy(quint32 word)
{
    return (word & 0x7u) | (((word >> 3) & 0x3FFFFFu) << 4);
}

Np_Settings_V318 NimboObjectDictionary::LegacyFromCurrent(const Np_Settings &current)
{
    Np_Settings_V318 legacy{};
    legacy.header = current.header;
    legacy.settingsWord = LegacyWordFromCurrent(current.settingsWord);
    legacy.reserved0 = current.reserved0;
    legacy.uart2Baud = current.uart2Baud;
    legacy.can1Bitrate = current.can1Bitrate;
    legacy.fusionParamAcc = current.fusionParamAcc;
    legacy.fusionParamMag = current.fusionParamMag;
    legacy.inhibitTime = current.inhibitTime;
    return legacy;
}

Np_Settings NimboObjectDictionary::CurrentFromLegacy(const Np_Settings_V318 &legacy)
{
    Np_Settings current{};
    current.header = legacy.header;
    current.settingsWord = CurrentWordFromLegacy(legacy.settingsWord);
    current.reserved0 = legacy.reserved0;
    current.uart2Baud = legacy.uart2Baud;
    current.can1Bitrate = legacy.can1Bitrate;
    current.fusionParamAcc = legacy.fusionParamAcc;
    current.fusionParamMag = legacy.fusionParamMag;
    current.inhibitTime = legacy.inhibitTime;
    return current;
}

template <typename T>
int NimboObjectDictionary::ReadRecord(quint8 cmd, T *out)
{
    if (!out)
        return NP_FAIL_;
    char *data = nullptr;
    int length = 0;
    int result = Read(cmd, &data, &length);
    if (result != NP_SUCC_)
        return result;
    if (length == int(sizeof(T)))
        std::memcpy(out, data, sizeof(T));
    else
        result = NP_FAIL_;
    NOD_DB_SetReadProtect(cmd, false);
    return result;
}

int NimboObjectDictionary::Read_Np_Settings(Np_Settings *out)
{
    if (!out)
        return NP_FAIL_;
    char *data = nullptr;
    int length = 0;
    int result = Read(NP_CMD_SETTING, &data, &length);
    if (result != NP_SUCC_)
        return result;
    // The stored copy is in the layout of the node it came from or goes to.
    if (length == int(sizeof(Np_Settings_V318))) {
        Np_Settings_V318 legacy;
        std::memcpy(&legacy, data, sizeof(legacy));
        *out = CurrentFromLegacy(legacy);
    } else if (length == int(sizeof(Np_Settings))) {
        std::memcpy(out, data, sizeof(*out));
    } else {
        result = NP_FAIL_;
    }
    NOD_DB_SetReadProtect(NP_CMD_SETTING, false);
    return result;
}

int NimboObjectDictionary::Read_Np_Id(Np_Id *out)
{
    const int result = ReadRecord(NP_CMD_ID_, out);
    if (result == NP_SUCC_) {
        const int layout = VersionForFirmware(out->fwVersion);
        nodeLayout[out->header.fromId()] = qint16(layout);
        nodesByUuid.insert(QByteArray(reinterpret_cast<const char *>(out->uuid), int(sizeof(out->uuid))),
                           {out->header.fromId(), qint16(layout)});
        Set_Version(layout);
    }
    return result;
}

void NimboObjectDictionary::MoveNodeLayout(const QByteArray &uuid, quint16 newId)
{
    const auto known = nodesByUuid.find(uuid);
    if (known == nodesByUuid.end() || newId > NP_ID_MAX_)
        return;
    if (known->id != newId)
        nodeLayout[known->id] = kLayoutUnknown;
    nodeLayout[newId] = known->layout;
    known->id = newId;
}

int NimboObjectDictionary::Read_Np_HeartBeat(Np_HeartBeat *out) { return ReadRecord(NP_CMD_HEARTBEAT_, out); }
int NimboObjectDictionary::Read_Np_Request(Np_Request *out) { return ReadRecord(NP_CMD_REQUEST_, out); }
int NimboObjectDictionary::Read_Np_Ack(Np_Ack *out) { return ReadRecord(NP_CMD_ACK_, out); }
int NimboObjectDictionary::Read_Np_Status(Np_Status *out) { return ReadRecord(NP_CMD_STATUS_, out); }
int NimboObjectDictionary::Read_Np_Calib(Np_Calib *out) { return ReadRecord(NP_CMD_CALIB_, out); }
int NimboObjectDictionary::Read_Np_Id_Ext(Np_Id_Ext *out) { return ReadRecord(NP_CMD_ID_EXT_, out); }
int NimboObjectDictionary::Read_Np_NodeCtrl(Np_NodeCtrl *out) { return ReadRecord(NP_CMD_NODECTRL_, out); }
int NimboObjectDictionary::Read_Np_NSO(Np_NSO *out) { return ReadRecord(NP_CMD_NSO_, out); }
int NimboObjectDictionary::Read_Np_Raw_GyroAccMag(Np_Raw_GyroAccMag *out)
{
    return ReadRecord(NP_CMD_Raw_GYRO_ACC_MAG_, out);
}
int NimboObjectDictionary::Read_Np_Raw_GyroAccMag_Ext(Np_Raw_GyroAccMag_Ext *out)
{
    return ReadRecord(NP_CMD_Raw_GYRO_ACC_MAG_EXT_, out);
}
int NimboObjectDictionary::Read_Np_Q_s1_s(Np_Q_s1_s *out) { return ReadRecord(NP_CMD_Q_S1_S_, out); }
int NimboObjectDictionary::Read_Np_Q_s1_e(Np_Q_s1_e *out) { return ReadRecord(NP_CMD_Q_S1_E_, out); }
int NimboObjectDictionary::Read_Np_Euler_s1_s(Np_Euler_s1_s *out)
{
    return ReadRecord(NP_CMD_EULER_S1_S_, out);
}
int NimboObjectDictionary::Read_Np_Euler_s1_e(Np_Euler_s1_e *out)
{
    return ReadRecord(NP_CMD_EULER_S1_E_, out);
}
int NimboObjectDictionary::Read_Np_RPY(Np_RPY *out) { return ReadRecord(NP_CMD_RPY_, out); }
int NimboObjectDictionary::Read_Np_Gravity(Np_Gravity *out) { return ReadRecord(NP_CMD_GRAVITY_, out); }
int NimboObjectDictionary::Read_Np_Combo(Np_Combo *out) { return ReadRecord(NP_CMD_COMBO_, out); }
int NimboObjectDictionary::Read_Np_Customized(Np_Customized *out)
{
    return ReadRecord(NP_CMD_CUSTOMIZED_, out);
}

template <typename T>
int NimboObjectDictionary::StoreBuilt(T record, quint8 cmd, quint16 toId, quint16 fromId)
{
    record.header = Np_Header::Make(cmd, fromId, toId);
    return Write(reinterpret_cast<char *>(&record), int(sizeof(T)), nullptr);
}

int NimboObjectDictionary::Write_Np_HeartBeat(quint16 toId)
{
    return StoreBuilt(Np_HeartBeat{}, NP_CMD_HEARTBEAT_, toId);
}

int NimboObjectDictionary::Write_Np_Request(quint16 toId, quint8 cmdRequest)
{
    Np_Request record{};
    record.cmdRequest = cmdRequest;
    return StoreBuilt(record, NP_CMD_REQUEST_, toId);
}

int NimboObjectDictionary::Write_Np_Ack(quint16 toId, quint8 cmdAck)
{
    Np_Ack record{};
    record.cmdAck = cmdAck;
    return StoreBuilt(record, NP_CMD_ACK_, toId);
}

int NimboObjectDictionary::Write_Np_Settings(quint16 toId, Np_Settings record)
{
    record.header = Np_Header::Make(NP_CMD_SETTING, NP_ID_HOST_, toId);
    if (Get_Version(toId) == kLegacyVersion) {
        Np_Settings_V318 legacy = LegacyFromCurrent(record);
        return Write(reinterpret_cast<char *>(&legacy), int(sizeof(legacy)), nullptr);
    }
    return Write(reinterpret_cast<char *>(&record), int(sizeof(record)), nullptr);
}

int NimboObjectDictionary::Write_Np_Status(quint16 toId, Np_Status record)
{
    return StoreBuilt(record, NP_CMD_STATUS_, toId);
}

int NimboObjectDictionary::Write_Np_Calib(quint16 toId, quint8 calibType, quint8 calibCmd, quint16 calibCode,
                                          quint32 calibValue1, quint32 calibValue2)
{
    Np_Calib record{};
    record.calibType = calibType;
    record.calibCmd = calibCmd;
    record.calibCode = calibCode;
    record.calibValue1 = calibValue1;
    record.calibValue2 = calibValue2;
    return StoreBuilt(record, NP_CMD_CALIB_, toId);
}

int NimboObjectDictionary::Write_Np_Id(quint16 toId, quint8 idCmd, quint16 nodeId, const quint8 *uuid,
                                       int uuidLength, const char *name, int nameLength)
{
    if (!uuid || !name || uuidLength != int(sizeof(Np_Id::uuid)) || nameLength != int(sizeof(Np_Id::name)))
        return NP_FAIL_;
    Np_Id record{};
    std::memcpy(record.uuid, uuid, sizeof(record.uuid));
    std::memcpy(record.name, name, sizeof(record.name));
    record.idCmd = idCmd;
    record.nodeId = nodeId;
    return StoreBuilt(record, NP_CMD_ID_, toId);
}

int NimboObjectDictionary::Write_Np_Id_Ext(quint16 toId, Np_Id_Ext record)
{
    return StoreBuilt(record, NP_CMD_ID_EXT_, toId);
}

int NimboObjectDictionary::Write_Np_NodeCtrl(quint16 toId, const quint8 *uuid, int uuidLength, quint8 ctrl)
{
    if (!uuid || uuidLength != int(sizeof(Np_NodeCtrl::uuid)))
        return NP_FAIL_;
    Np_NodeCtrl record{};
    std::memcpy(record.uuid, uuid, sizeof(record.uuid));
    record.ctrl = ctrl;
    return StoreBuilt(record, NP_CMD_NODECTRL_, toId);
}

int NimboObjectDictionary::Write_Np_NSO(quint16 toId, Np_NSO record)
{
    std::memset(record.padding1, 0, sizeof(record.padding1));
    record.padding0 = 0;
    return StoreBuilt(record, NP_CMD_NSO_, toId, NP_ID_HOST_NSO_);
}

int NimboObjectDictionary::Write_Np_Raw_GyroAccMag(quint16 toId, Np_Raw_GyroAccMag record)
{
    return StoreBuilt(record, NP_CMD_Raw_GYRO_ACC_MAG_, toId);
}

int NimboObjectDictionary::Write_Np_Raw_GyroAccMag_Ext(quint16 toId, Np_Raw_GyroAccMag_Ext record)
{
    return StoreBuilt(record, NP_CMD_Raw_GYRO_ACC_MAG_EXT_, toId);
}

int NimboObjectDictionary::Write_Np_Q_s1_s(quint16 toId, Np_Q_s1_s record)
{
    return StoreBuilt(record, NP_CMD_Q_S1_S_, toId);
}

int NimboObjectDictionary::Write_Np_Q_s1_e(quint16 toId, Np_Q_s1_e record)
{
    return StoreBuilt(record, NP_CMD_Q_S1_E_, toId);
}

int NimboObjectDictionary::Write_Np_Euler_s1_s(quint16 toId, Np_Euler_s1_s record)
{
    return StoreBuilt(record, NP_CMD_EULER_S1_S_, toId);
}

int NimboObjectDictionary::Write_Np_Euler_s1_e(quint16 toId, Np_Euler_s1_e record)
{
    return StoreBuilt(record, NP_CMD_EULER_S1_E_, toId);
}

int NimboObjectDictionary::Write_Np_RPY(quint16 toId, Np_RPY record)
{
    return StoreBuilt(record, NP_CMD_RPY_, toId);
}

int NimboObjectDictionary::Write_Np_Gravity(quint16 toId, Np_Gravity record)
{
    return StoreBuilt(record, NP_CMD_GRAVITY_, toId);
}

int NimboObjectDictionary::Write_Np_Combo(quint16 toId, Np_Combo record)
{
    record.padding0 = 0;
    std::memset(record.padding1, 0, sizeof(record.padding1));
    return StoreBuilt(record, NP_CMD_COMBO_, toId);
}

int NimboObjectDictionary::Write_Np_Customized(quint16 toId, Np_Customized record)
{
    return StoreBuilt(record, NP_CMD_CUSTOMIZED_, toId);
}
