#ifndef NIMBOOBJECTDICTIONARY_H
#define NIMBOOBJECTDICTIONARY_H

#include "framecourier_global.h"
#include "nimbotypes.h"

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QObject>

#include <tuple>

// Holds the latest copy of every record type, checks lengths, guards each entry with lock and
// protect flags, builds the records the host sends and copies received ones out by type.
class FRAMECOURIER_EXPORT NimboObjectDictionary : public QObject
{
    Q_OBJECT

public:
    static constexpr int kEntries = 20;
    static constexpr int kSettingsKey = 3;
    static_assert(NimboRecords::kCount == kEntries && NimboRecords::kTable[kSettingsKey].cmd == NP_CMD_SETTING,
                  "the dictionary's keys are the rows of the record table");
    static constexpr int kLegacyVersion = 318;

    // Flags of a dynamic entry.
    static constexpr quint8 FLAG_LOCKED = 1;
    static constexpr quint8 FLAG_UNLOCKED = 2;
    static constexpr quint8 FLAG_WRITE_PROTECT = 4;
    static constexpr quint8 FLAG_READ_PROTECT = 8;

    struct StaticEntry
    {
        quint8 cmd;
        int size;
    };
    struct DynamicEntry
    {
        char *record;
        quint8 flags;
    };

    // The record types in key order: key = index.
    static const StaticEntry kStaticTable[kEntries];

    explicit NimboObjectDictionary(QObject *parent = nullptr);

    int Write(char *dataIn, int lengthIn, Np_Header *headerOut);
    int Read(quint8 cmd, char **dataOut, int *lengthOut);
    int Write_Header(quint8 cmd, Np_Header header);
    int Write_Header_toId(quint8 cmd, quint16 toId);
    int Read_Header(quint8 cmd, Np_Header *header);
    int Read_Header(char *dataIn, int lengthIn, Np_Header *header);
    int NOD_DB_SetWriteProtect(quint8 cmd, bool protect);
    int NOD_DB_SetReadProtect(quint8 cmd, bool protect);
    int NOD_DB_FindKey(quint8 cmd) const;
    // The link-wide settings layout: the one of the most recent Np_Id of any node.
    int Set_Version(int v);
    int Get_Version() const { return version; }
    // The settings layout of one node: the one its own Np_Id named, else the link-wide one. Received
    // settings are parsed by their sender's layout and host writes built in their addressee's, so
    // that nodes of both layouts can share the bus.
    int Get_Version(quint16 nodeId) const;
    // A node given a new id keeps its settings layout under it (the old id forgets it); the node is
    // known by the UUID of its latest Np_Id.
    void MoveNodeLayout(const QByteArray &uuid, quint16 newId);
    int Get_MaxSize() const { return maxSize; }
    // Size the table gives for cmd (follows the settings layout), or -1.
    int Get_Size(quint8 cmd) const;
    quint8 Get_Flags(quint8 cmd) const;

    int Read_Np_HeartBeat(Np_HeartBeat *out);
    int Read_Np_Request(Np_Request *out);
    int Read_Np_Ack(Np_Ack *out);
    int Read_Np_Settings(Np_Settings *out);
    int Read_Np_Status(Np_Status *out);
    int Read_Np_Calib(Np_Calib *out);
    int Read_Np_Id(Np_Id *out);
    int Read_Np_Id_Ext(Np_Id_Ext *out);
    int Read_Np_NodeCtrl(Np_NodeCtrl *out);
    int Read_Np_NSO(Np_NSO *out);
    int Read_Np_Raw_GyroAccMag(Np_Raw_GyroAccMag *out);
    int Read_Np_Raw_GyroAccMag_Ext(Np_Raw_GyroAccMag_Ext *out);
    int Read_Np_Q_s1_s(Np_Q_s1_s *out);
    int Read_Np_Q_s1_e(Np_Q_s1_e *out);
    int Read_Np_Euler_s1_s(Np_Euler_s1_s *out);
    int Read_Np_Euler_s1_e(Np_Euler_s1_e *out);
    int Read_Np_RPY(Np_RPY *out);
    int Read_Np_Gravity(Np_Gravity *out);
    int Read_Np_Combo(Np_Combo *out);
    int Read_Np_Customized(Np_Customized *out);

    int Write_Np_HeartBeat(quint16 toId);
    int Write_Np_Request(quint16 toId, quint8 cmdRequest);
    int Write_Np_Ack(quint16 toId, quint8 cmdAck);
    int Write_Np_Settings(quint16 toId, Np_Settings settings);
    int Write_Np_Status(quint16 toId, Np_Status status);
    int Write_Np_Calib(quint16 toId, quint8 calibType, quint8 calibCmd, quint16 calibCode,
                       quint32 calibValue1, quint32 calibValue2);
    int Write_Np_Id(quint16 toId, quint8 idCmd, quint16 nodeId, const quint8 *uuid, int uuidLength,
                    const char *name, int nameLength);
    int Write_Np_Id_Ext(quint16 toId, Np_Id_Ext idExt);
    int Write_Np_NodeCtrl(quint16 toId, const quint8 *uuid, int uuidLength, quint8 ctrl);
    int Write_Np_NSO(quint16 toId, Np_NSO nso);
    int Write_Np_Raw_GyroAccMag(quint16 toId, Np_Raw_GyroAccMag raw);
    int Write_Np_Raw_GyroAccMag_Ext(quint16 toId, Np_Raw_GyroAccMag_Ext rawExt);
    int Write_Np_Q_s1_s(quint16 toId, Np_Q_s1_s q);
    int Write_Np_Q_s1_e(quint16 toId, Np_Q_s1_e q);
    int Write_Np_Euler_s1_s(quint16 toId, Np_Euler_s1_s euler);
    int Write_Np_Euler_s1_e(quint16 toId, Np_Euler_s1_e euler);
    int Write_Np_RPY(quint16 toId, Np_RPY rpy);
    int Write_Np_Gravity(quint16 toId, Np_Gravity gravity);
    int Write_Np_Combo(quint16 toId, Np_Combo combo);
    int Write_Np_Customized(quint16 toId, Np_Customized customized);

    // Conversion between the current and the legacy settings layout.
    static quint32 LegacyWordFromCurrent(quint32 word);
    static quint32 CurrentWordFromLegacy(quint32 word);
    static Np_Settings_V318 LegacyFromCurrent(const Np_Settings &settings);
    static Np_Settings CurrentFromLegacy(const Np_Settings_V318 &legacy);

    // The settings version an Np_Id's firmware bytes select: 318 for 3.x with x not 0, else 0.
    static int VersionForFirmware(const quint8 fwVersion[4]);

private:
    template <typename T>
    int ReadRecord(quint8 cmd, T *out);
    template <typename T>
    int StoreBuilt(T record, quint8 cmd, quint16 toId, quint16 fromId = NP_ID_HOST_);
    bool Busy(int key, quint8 also) const;
    void SelectSettingsLayout(int v);

    static constexpr qint16 kLayoutUnknown = -1;

    int maxSize = 44;
    int version = 0;
    int sizes[kEntries];
    // Key of each cmd, -1 where the cmd has no entry; the 7-bit cmd field indexes it directly.
    qint8 keyOfCmd[128];
    DynamicEntry dynamicTable[kEntries];
    // Settings layout per node id, from that node's Np_Id, and by UUID with the id it last had.
    qint16 nodeLayout[NP_ID_MAX_ + 1];
    struct KnownNode
    {
        quint16 id;
        qint16 layout;
    };
    QMap<QByteArray, KnownNode> nodesByUuid;

    // One stored record per type, in key order, and the legacy settings layout beside them.
#define NIMBO_STORE_TYPE(Type, cmd, size, slot, signalled, routed) Type,
    using Store = std::tuple<NIMBO_RECORDS(NIMBO_STORE_TYPE) Np_Settings_V318>;
#undef NIMBO_STORE_TYPE
    Store store{};
    Np_Settings_V318 &legacySettings = std::get<kEntries>(store);
};

#endif // NIMBOOBJECTDICTIONARY_H
