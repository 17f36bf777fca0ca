#include "settingsmapping.h"

namespace SettingsMapping {

using namespace NpSettingsBit;

const CheckBoxBit kCheckBoxBits[] = {
    {enGyro, "checkBox_En_Sensor_Gyro"},
    {enAcc, "checkBox_En_Sensor_Acc"},
    {enMag, "checkBox_En_Sensor_Mag"},
    {gyroErrFilter, "checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter"},
    {magSAFilter, "checkBoxd_Fusion_Param_Mag_Enable_SAFilter"},
    {outStatus, "checkBox_Output_Status"},
    {outRaw, "checkBox_Output_RawData"},
    {outQ_s1_s, "checkBox_Output_Q_S1_S"},
    {outQ_s1_e, "checkBox_Output_Q_S1_E"},
    {outEuler_s1_s, "checkBox_Output_Euler_S1_S"},
    {outEuler_s1_e, "checkBox_Output_Euler_S1_E"},
    {outRPY, "checkBox_Output_RPY"},
    {outGravity, "checkBox_Output_Gravity"},
    {enUART1, "checkBox_En_IF_UART1"},
    {enUART2, "checkBox_En_IF_USB_UART2"},
    {enCAN1, "checkBox_En_IF_CANbus1"},
    {canUartBypass, "checkBox_En_IF_CANbus1_to_UART_ByPass"},
    {applyCalibT, "checkBox_Apply_CalibT"},
    {outCombo, "checkBox_Output_Combo"},
};
const int kCheckBoxBitCount = int(sizeof(kCheckBoxBits) / sizeof(kCheckBoxBits[0]));

namespace {

const struct
{
    quint16 value;
    const char *text;
} kCanRates[] = {
    {625, "62.5 Kbps"}, {1250, "125 Kbps"}, {2500, "250 Kbps"}, {5000, "500 Kbps"}, {10000, "1 Mbps"},
};

const int kOdrValues[] = {1, 5, 10, 25, 50, 100, 200, 300, 400, 800};

} // namespace

int BootMode(quint32 settingsWord)
{
    const quint32 mode = GetField(settingsWord, bootMode, 2);
    return mode == 1 || mode == 2 ? int(mode) : 0;
}

QString ChecksumText(quint32 type)
{
    if (type == 0)
        return QStringLiteral("1 Byte SUM");
    if (type == 1)
        return QStringLiteral("2 Bytes SUM");
    return QStringLiteral("2 Bytes CRC");
}

quint32 ChecksumFromText(const QString &text)
{
    if (text == QLatin1String("1 Byte SUM"))
        return 0;
    if (text == QLatin1String("2 Bytes SUM"))
        return 1;
    return 2;
}

QString Uart2Text(quint16 value) { return QString::number(quint32(value) * 100u); }

quint16 Uart2FromText(const QString &text) { return quint16(text.toUInt() / 100u); }

QString CanText(quint16 value)
{
    for (const auto &rate : kCanRates)
        if (rate.value == value)
            return QString::fromLatin1(rate.text);
    return QStringLiteral("1 Mbps");
}

quint16 CanFromText(const QString &text)
{
    for (const auto &rate : kCanRates)
        if (text == QLatin1String(rate.text))
            return rate.value;
    return 10000;
}

QString OdrText(int odr)
{
    for (int value : kOdrValues)
        if (value == odr)
            return QString::number(odr);
    return QStringLiteral("25");
}

int OdrFromText(const QString &text) { return text.toInt(); }

quint32 WithHostRules(quint32 word)
{
    for (int bit : {saveToFlash, outQ_s1_s, outEuler_s1_s, canUartBypass, 26})
        word = Set(word, bit, false);
    return SetField(word, checksumType, 3, 2);
}

const Scenario kScenarios[] = {
    {QT_TRANSLATE_NOOP("SensorPanel", " ► Ground vehicle:  Car, AGV, Robot"), "AGV"},
    {QT_TRANSLATE_NOOP("SensorPanel", " ► Flying vehicle:  Drone, UAV"), "UAV"},
    {QT_TRANSLATE_NOOP("SensorPanel", " ► Marine application:  Boat, Ferry, UUV"), "MARINE"},
    {QT_TRANSLATE_NOOP("SensorPanel", " ► Other applications:  with strong and continuous vibration"), "VIB"},
    {QT_TRANSLATE_NOOP("SensorPanel", " ► Other applications:  without strong and continuous vibration"),
     "NonVIB"},
    {QT_TRANSLATE_NOOP("SensorPanel",
                       " ► Compatible Mode: Use legacy Firmware V3.x.x configuration (Lower Performance)"),
     "LEGACY"},
};
const int kScenarioCount = int(sizeof(kScenarios) / sizeof(kScenarios[0]));

Np_Settings DefaultSettings(const Np_Settings &current, const ModelProfile &model, const QString &scenario)
{
    Np_Settings s = current;
    // What the defaults leave alone: the link's and the save flags, the thermal calibration, the
    // bits this program does not know.
    const quint32 kept = (1u << reliableWrite) | (1u << saveToFlash) | (1u << applyCalibT) | 0xF0000000u;
    quint32 word = current.settingsWord & kept;
    for (int bit : {enGyro, enAcc, gyroErrFilter, magSAFilter, outRaw, outRPY, binaryFormat, enUART1})
        word = Set(word, bit, true);
    word = SetField(word, checksumType, 3, 2);
    word = SetField(word, bootMode, 2, 0);
    s.uart2Baud = 1152;
    s.can1Bitrate = 10000;
    s.fusionParamAcc = 100;
    s.fusionParamMag = 100;
    s.inhibitTime = 10;
    s.silentTime = 1;
    s.odr = quint16(model.SendsOdr() ? 50 : 0);

    if (model.IsComboModel()) {
        for (int bit : {outRaw, outRPY, outGravity})
            word = Set(word, bit, false);
        word = Set(word, outCombo, true);
    }
    if (model.Family() == 1) {
        if (model.Variant() == 0) {
            s.fusionParamAcc = 400;
        } else if (model.Variant() == 3) {
            s.fusionParamAcc = 300;
            s.fusionParamMag = 300;
            word = Set(word, magSAFilter, false);
        }
    } else if (model.FirmwareVersion() > 46) {
        const struct
        {
            const char *key;
            bool errorFilter;
            quint32 boot;
            quint16 accGain;
        } table[] = {
            {"AGV", true, 1, 208}, {"UAV", true, 2, 290},    {"MARINE", true, 2, 400},
            {"VIB", true, 0, 280}, {"NonVIB", true, 0, 210}, {"LEGACY", false, 0, 100},
        };
        for (const auto &row : table) {
            if (scenario != QLatin1String(row.key))
                continue;
            word = Set(word, gyroErrFilter, row.errorFilter);
            word = SetField(word, bootMode, 2, row.boot);
            s.fusionParamAcc = row.accGain;
            if (scenario == QLatin1String("MARINE") && model.Family() == 0)
                s.fusionParamAcc = 300;
        }
    }
    s.settingsWord = word;
    return s;
}

} // namespace SettingsMapping
