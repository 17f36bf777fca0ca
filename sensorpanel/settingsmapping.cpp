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

} // namespace SettingsMapping
