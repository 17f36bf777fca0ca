#ifndef NIMBORECORDS_H
#define NIMBORECORDS_H

// Every record type of the Nimbo protocol, once. The codec's dispatch and send slots, the
// dictionary's table and meta-type registration, the link's signals, the shell's routing and the
// simulator's event log are all expanded from this list, so a new record type is added here and
// nowhere else (the moc-declared signal and slot overloads are checked against it by a test).
//
// X(Type, cmd, wire size, send slot, signalled, routed)
//   send slot: the codec's scheduler slot (0 = ahead of the rotation, -1 = never sent by the host)
//   signalled: the codec emits Sig_RX_Data for it
//   routed:    the main window turns it into data signals (has an On_RX_Data overload)
//
// Rows are in the dictionary's key order. The macro names only identifiers that the host's
// nimbotypes.h and the device library's nimbo_types.h both define, so both sides can expand it.
#define NIMBO_RECORDS(X)                                                       \
    X(Np_HeartBeat, NP_CMD_HEARTBEAT_, 4, -1, 1, 1)                           \
    X(Np_Request, NP_CMD_REQUEST_, 8, 13, 1, 0)                               \
    X(Np_Ack, NP_CMD_ACK_, 8, 0, 1, 1)                                        \
    X(Np_Settings, NP_CMD_SETTING, 24, 8, 1, 1)                               \
    X(Np_Status, NP_CMD_STATUS_, 16, 9, 1, 1)                                 \
    X(Np_Calib, NP_CMD_CALIB_, 16, 10, 1, 1)                                  \
    X(Np_Id, NP_CMD_ID_, 44, 11, 1, 1)                                        \
    X(Np_Id_Ext, NP_CMD_ID_EXT_, 16, 15, 1, 0)                                \
    X(Np_NodeCtrl, NP_CMD_NODECTRL_, 28, 12, 1, 0)                            \
    X(Np_NSO, NP_CMD_NSO_, 16, 14, 1, 1)                                      \
    X(Np_Raw_GyroAccMag, NP_CMD_Raw_GYRO_ACC_MAG_, 44, 1, 1, 1)               \
    X(Np_Raw_GyroAccMag_Ext, NP_CMD_Raw_GYRO_ACC_MAG_EXT_, 44, -1, 0, 0)      \
    X(Np_Q_s1_s, NP_CMD_Q_S1_S_, 24, 2, 1, 1)                                 \
    X(Np_Q_s1_e, NP_CMD_Q_S1_E_, 24, 3, 1, 1)                                 \
    X(Np_Euler_s1_s, NP_CMD_EULER_S1_S_, 20, 4, 1, 1)                         \
    X(Np_Euler_s1_e, NP_CMD_EULER_S1_E_, 20, 5, 1, 1)                         \
    X(Np_RPY, NP_CMD_RPY_, 20, 6, 1, 1)                                       \
    X(Np_Gravity, NP_CMD_GRAVITY_, 20, 7, 1, 1)                               \
    X(Np_Combo, NP_CMD_COMBO_, 32, -1, 1, 1)                                  \
    X(Np_Customized, NP_CMD_CUSTOMIZED_, 8, -1, 1, 0)

#endif // NIMBORECORDS_H
