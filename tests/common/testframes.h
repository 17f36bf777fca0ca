#ifndef TESTFRAMES_H
#define TESTFRAMES_H

// Frame building for the tests, written independently of the code under test: a bitwise CRC and
// plain byte appends, so a fault in the framing cannot cancel itself out.

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <cstring>

namespace testframes {

// The record types in the order of the profile's Sig_RX_Data overloads.
inline constexpr const char *kRecordTypesInSignalOrder[] = {"Np_HeartBeat",
                                                            "Np_Request",
                                                            "Np_Ack",
                                                            "Np_Settings",
                                                            "Np_Status",
                                                            "Np_Calib",
                                                            "Np_Id",
                                                            "Np_Id_Ext",
                                                            "Np_NodeCtrl",
                                                            "Np_NSO",
                                                            "Np_Raw_GyroAccMag",
                                                            "Np_Raw_GyroAccMag_Ext",
                                                            "Np_Q_s1_s",
                                                            "Np_Q_s1_e",
                                                            "Np_Euler_s1_s",
                                                            "Np_Euler_s1_e",
                                                            "Np_RPY",
                                                            "Np_Gravity",
                                                            "Np_Combo",
                                                            "Np_Customized"};

inline quint16 BitwiseCrc16(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (char ch : data) {
        crc ^= quint8(ch);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

inline QByteArray Frame(const QByteArray &payload)
{
    QByteArray lengthAndPayload;
    lengthAndPayload.append(char(payload.size()));
    lengthAndPayload.append(payload);
    const quint16 crc = BitwiseCrc16(lengthAndPayload);
    QByteArray frame("\xAA\x55", 2);
    frame.append(lengthAndPayload);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

inline quint32 HeaderWord(int cmd, int fromId, int toId, int res = 0)
{
    return quint32(cmd & 0x7F) | quint32(res & 7) << 7 | quint32(fromId & 0x7FF) << 10 |
           quint32(toId & 0x7FF) << 21;
}

// A payload of the given size: little-endian header, then bytes 4.. filled with a counting pattern.
inline QByteArray Payload(int cmd, int fromId, int toId, int size, int seed = 0, int res = 0)
{
    QByteArray p(size, '\0');
    const quint32 w = HeaderWord(cmd, fromId, toId, res);
    for (int i = 0; i < 4 && i < size; ++i)
        p[i] = char((w >> (8 * i)) & 0xFF);
    for (int i = 4; i < size; ++i)
        p[i] = char((seed + 7 * i) & 0xFF);
    return p;
}

template <typename T>
QByteArray Bytes(const T &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), int(sizeof(T)));
}

template <typename T>
T FromBytes(const QByteArray &bytes)
{
    T record;
    std::memset(&record, 0, sizeof(T));
    std::memcpy(&record, bytes.constData(), qMin(size_t(bytes.size()), sizeof(T)));
    return record;
}

struct GoldenFrame
{
    QString record;
    int cmd;
    int fromId;
    int toId;
    QByteArray payload;
    QByteArray frame;
};

inline QVector<GoldenFrame> LoadGoldenFrames()
{
    QVector<GoldenFrame> frames;
    QFile file(QStringLiteral(GYROVANE_TEST_DATA_DIR "/frames.json"));
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    const QJsonArray array = QJsonDocument::fromJson(file.readAll()).object().value("frames").toArray();
    for (const QJsonValue &v : array) {
        const QJsonObject o = v.toObject();
        frames.append({o.value("record").toString(), o.value("cmd").toInt(), o.value("fromId").toInt(),
                       o.value("toId").toInt(), QByteArray::fromHex(o.value("payload").toString().toLatin1()),
                       QByteArray::fromHex(o.value("frame").toString().toLatin1())});
    }
    return frames;
}


// Kinds of damage on a line, for the framers' long-stream tests.
enum StreamDamage {
    kNoiseWithHeadBytes, // noise between frames in which 0xAA is common
    kNoiseWithWholeHeads, // noise that begins with 0xAA 0x55 and a length
    kDamagedLengthByte,
    kBitFlippedAnywhere,
    kCutOffFrame, // a frame that lost at least its last two bytes
    kStreamDamageKinds
};

// `frames` frames to toId, one in four damaged (or followed by noise) as `damage` says, then the
// 130 bytes of silence that complete any false frame still waiting. The payloads of the frames
// that left intact go to `intact`, in order. Payload sizes 8..40.
inline QByteArray DamagedStream(int damage, int frames, quint32 seed, int toId, QVector<QByteArray> *intact)
{
    quint32 state = seed * 2654435761u + 1u;
    auto next = [&state](quint32 bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    };
    QByteArray stream;
    for (int i = 0; i < frames; ++i) {
        const QByteArray payload = Payload(35 + i % 3, 40, toId, 8 + 4 * (i % 9), i);
        QByteArray frame = Frame(payload);
        QByteArray noise;
        bool hit = false;
        if (next(4) == 0) {
            switch (damage) {
            case kNoiseWithHeadBytes:
                for (int n = 1 + int(next(8)); n > 0; --n)
                    noise.append(next(3) == 0 ? char(0xAA) : char(next(256)));
                break;
            case kNoiseWithWholeHeads:
                noise = QByteArray("\xAA\x55", 2);
                for (int n = 1 + int(next(3)); n > 0; --n)
                    noise.append(char(next(256)));
                break;
            case kDamagedLengthByte: frame[2] = char(frame[2] ^ (1 << next(8))); hit = true; break;
            case kBitFlippedAnywhere: {
                const int bit = int(next(quint32(frame.size() * 8)));
                frame[bit / 8] = char(frame[bit / 8] ^ (1 << (bit % 8)));
                hit = true;
                break;
            }
            default:
                // A frame that lost only its last byte can be completed by the next one's head,
                // and then it arrived intact after all.
                frame = frame.left(1 + int(next(quint32(frame.size() - 2))));
                hit = true;
                break;
            }
        }
        if (!hit)
            intact->append(payload);
        stream += frame + noise;
    }
    return stream + QByteArray(130, '\0');
}

inline const char *StreamDamageName(int damage)
{
    static const char *const kNames[] = {"noise with head bytes", "noise with whole heads", "damaged length bytes",
                                         "a bit flipped anywhere", "cut-off frames"};
    return kNames[damage];
}

} // namespace testframes

#endif // TESTFRAMES_H
