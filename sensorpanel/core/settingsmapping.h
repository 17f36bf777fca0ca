#ifndef SETTINGSMAPPING_H
#define SETTINGSMAPPING_H

#include "sensorpanelcore_global.h"

#include "modelprofile.h"
#include "nimbotypes.h"

#include <QtCore/QString>

// How the settings panel's widgets stand for the fields of Np_Settings: which check box holds which
// bit, and the texts of the combo boxes for the numeric fields.
namespace SettingsMapping {

struct CheckBoxBit
{
    int bit;
    const char *objectName;
};

// Every check box of the panel that is one bit of settingsWord, in bit order.
extern SENSORPANELCORE_EXPORT const CheckBoxBit kCheckBoxBits[];
extern SENSORPANELCORE_EXPORT const int kCheckBoxBitCount;

// Boot mode: 1 static, 2 dynamic, anything else automatic (0).
SENSORPANELCORE_EXPORT int BootMode(quint32 settingsWord);

// Checksum type: "1 Byte SUM" 0, "2 Bytes SUM" 1, "2 Bytes CRC" 2 and everything else.
SENSORPANELCORE_EXPORT QString ChecksumText(quint32 type);
SENSORPANELCORE_EXPORT quint32 ChecksumFromText(const QString &text);

// UART 2 baud rate / 100 as the combo text of the whole rate, and back (0 when not a number).
SENSORPANELCORE_EXPORT QString Uart2Text(quint16 value);
SENSORPANELCORE_EXPORT quint16 Uart2FromText(const QString &text);

// CAN bit rate / 100: 625 "62.5 Kbps" .. 10000 "1 Mbps"; any other value shows and reads as 1 Mbps.
SENSORPANELCORE_EXPORT QString CanText(quint16 value);
SENSORPANELCORE_EXPORT quint16 CanFromText(const QString &text);

// Output data rate: a known rate selects its own text, anything else "25"; a text that is not a
// number reads as 0.
SENSORPANELCORE_EXPORT QString OdrText(int odr);
SENSORPANELCORE_EXPORT int OdrFromText(const QString &text);

// What the form sends with every write whatever the record held: no save to flash (the Save button
// sets it), Q_s1_s, Euler_s1_s and the CAN-to-UART bypass off, the CRC checksum, bit 26 clear.
SENSORPANELCORE_EXPORT quint32 WithHostRules(quint32 settingsWord);

// The application scenarios offered with "Use Default Setting", in the order shown.
struct Scenario
{
    const char *item;
    const char *key;
};
extern SENSORPANELCORE_EXPORT const Scenario kScenarios[];
extern SENSORPANELCORE_EXPORT const int kScenarioCount;

// The default settings for a node's model and, where the model asks for one, an application scenario
// key ("AGV", "UAV", "MARINE", "VIB", "NonVIB" or "LEGACY"). The link's reliable-write flag, the
// save-to-flash flag, the thermal calibration flag, bits 28..31 and reserved0 keep their values.
SENSORPANELCORE_EXPORT Np_Settings DefaultSettings(const Np_Settings &current, const ModelProfile &model,
                                               const QString &scenario);

} // namespace SettingsMapping

#endif // SETTINGSMAPPING_H
