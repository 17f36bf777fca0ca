#ifndef DEVICELIB_C_H
#define DEVICELIB_C_H

// The device-side C library next to the host classes. Its record structures carry the same names
// as the host's, so they live in namespace devc; its macros share names with the host's constants,
// so every host header must come first.

#include "nimboobjectdictionary.h"
#include "nimboprofile.h"
#include "nimboprotocol.h"
#include "nimbotypes.h"
#include "testframes.h"

#include <QByteArray>
#include <QVector>

#include <cstddef>
#include <cstdint>

namespace devc {
#include "nimbo_profile.h"
}

// A C-library node whose frames are collected instead of written to a UART.
struct CNode
{
    devc::NimboProfile link;
    QByteArray sent;
    QVector<QByteArray> received; // wire images handed to the record callback

    explicit CNode(quint16 id, int settingsVersion = NP_SETTINGS_CURRENT_)
    {
        devc::NimboProfile_Init(&link, id, &CNode::Write, &CNode::OnRecord, this);
        devc::NimboProfile_SetSettingsVersion(&link, settingsVersion);
    }
    CNode(const CNode &) = delete;
    CNode &operator=(const CNode &) = delete;

    int Feed(const QByteArray &bytes)
    {
        return devc::NimboProfile_Receive(&link, reinterpret_cast<const uint8_t *>(bytes.constData()),
                                          bytes.size());
    }

    static int Write(void *user, const uint8_t *frame, int size)
    {
        static_cast<CNode *>(user)->sent.append(reinterpret_cast<const char *>(frame), size);
        return NP_SUCC_;
    }
    static void OnRecord(void *user, const devc::Np_Header *, const uint8_t *payload, int size)
    {
        static_cast<CNode *>(user)->received.append(
            QByteArray(reinterpret_cast<const char *>(payload), size));
    }
};

inline QByteArray CFrame(const QByteArray &payload)
{
    devc::NimboProtocol protocol;
    devc::NimboProtocol_Init(&protocol, 44, 44);
    const uint8_t *frame = nullptr;
    int size = 0;
    if (devc::NimboProtocol_CreateOutputPackage(&protocol,
                                                reinterpret_cast<const uint8_t *>(payload.constData()),
                                                payload.size(), &frame, &size) != NP_SUCC_)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(frame), size);
}

// A frame built without the code under test.
inline QByteArray IndependentFrame(const QByteArray &payload) { return testframes::Frame(payload); }

inline QByteArray HeaderBytes(int cmd, int fromId, int toId, int res = 0)
{
    return testframes::Bytes(testframes::HeaderWord(cmd, fromId, toId, res));
}

// A record-sized payload: header, then a counting pattern.
inline QByteArray Payload(int cmd, int fromId, int toId, int size, int res = 0)
{
    QByteArray p = HeaderBytes(cmd, fromId, toId, res);
    for (int i = 4; i < size; ++i)
        p.append(char((7 * i + cmd) & 0xFF));
    return p;
}

using testframes::GoldenFrame;
using testframes::LoadGoldenFrames;

#endif // DEVICELIB_C_H
