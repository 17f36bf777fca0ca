// A Kinetra-style node on an Arduino Uno, speaking the Nimbo protocol on the serial port (115200 8N1):
// it answers the host's requests for its identity and its settings, takes new settings (and
// acknowledges them when the host asks for it), and streams roll/pitch/yaw records of a slowly
// turning attitude at the output data rate of its settings.
//
// Install the folder libraries/NimboProfile into your sketchbook's libraries folder.

#include <nimboprofile.h>
#include <string.h>

static const uint16_t kNodeId = 32;
static const uint32_t kBaud = 115200;
// Firmware 31.8.2.70: the current generation, whose settings carry an output data rate.
static const uint8_t kFirmware[4] = {31, 8, 2, 70};
static const char kName[] = "Arduino";

static NimboProfile nimbo;
static Np_Settings settings;
static uint32_t nextSampleUs = 0;

static int WriteFrame(void *, const uint8_t *frame, int frameSize)
{
    return Serial.write(frame, size_t(frameSize)) == size_t(frameSize) ? NP_SUCC_ : NP_FAIL_;
}

static void SendIdentity(uint16_t toId)
{
    Np_Id id;
    memset(&id, 0, sizeof(id));
    memcpy(id.fwVersion, kFirmware, sizeof(kFirmware));
    // A fixed UUID: "ARDUINO" and the node id.
    memcpy(id.uuid, "ARDUINO-NIMBO-NODE-", 19);
    id.uuid[19] = uint8_t(kNodeId);
    memcpy(id.name, kName, sizeof(kName) - 1);
    id.nodeId = nimbo.GetNodeId();
    nimbo.SendId(toId, id);
}

static uint16_t OutputRate()
{
    return settings.odr >= 1 && settings.odr <= 200 ? settings.odr : 10;
}

static void OnRecord(void *, const Np_Header &header, const uint8_t *payload, int size)
{
    const uint16_t from = header.fromId;
    if (header.cmd == NP_CMD_REQUEST_) {
        Np_Request request;
        if (NimboObjectDictionary::Decode(payload, size, request) != NP_SUCC_)
            return;
        if (request.cmdRequest == NP_CMD_ID_)
            SendIdentity(from);
        else if (request.cmdRequest == NP_CMD_SETTING)
            nimbo.SendSettings(from, settings);
    } else if (header.cmd == NP_CMD_SETTING) {
        Np_Settings received;
        if (NimboObjectDictionary::Decode(payload, size, received) != NP_SUCC_)
            return;
        const bool acknowledge = (received.settingsWord & NP_SET_RELIABLE_WRITE_) != 0;
        settings = received;
        settings.settingsWord &= ~(NP_SET_RELIABLE_WRITE_ | NP_SET_SAVE_TO_FLASH_);
        if (acknowledge)
            nimbo.SendAck(from, NP_CMD_SETTING);
    }
}

void setup()
{
    Serial.begin(kBaud);
    memset(&settings, 0, sizeof(settings));
    settings.settingsWord = NP_SET_EN_GYRO_ | NP_SET_EN_ACC_ | NP_SET_EN_MAG_ | NP_SET_OUT_RPY_ |
                            NP_SET_BINARY_FORMAT_ | (2ul << NP_SET_CHECKSUM_SHIFT_) | NP_SET_EN_UART1_;
    settings.uart2Baud = uint16_t(kBaud / 100);
    settings.can1Bitrate = 10000;
    settings.fusionParamAcc = 210;
    settings.fusionParamMag = 100;
    settings.inhibitTime = 10;
    settings.silentTime = 1;
    settings.odr = 10;
    nimbo.Init(kNodeId, WriteFrame, OnRecord, 0);
}

void loop()
{
    uint8_t bytes[16];
    int count = 0;
    while (Serial.available() > 0 && count < int(sizeof(bytes)))
        bytes[count++] = uint8_t(Serial.read());
    if (count > 0)
        nimbo.Receive(bytes, count);

    const uint32_t now = micros();
    if ((settings.settingsWord & NP_SET_OUT_RPY_) && int32_t(now - nextSampleUs) >= 0) {
        nextSampleUs = now + 1000000ul / OutputRate();
        // Level, turning slowly: one turn a minute.
        Np_RPY rpy;
        memset(&rpy, 0, sizeof(rpy));
        rpy.timeStamp = now;
        rpy.roll = 0.0f;
        rpy.pitch = 0.0f;
        rpy.yaw = float((now / 1000ul) % 60000ul) * 0.006f;
        nimbo.SendRPY(NP_ID_HOST_, rpy);
    }
}
