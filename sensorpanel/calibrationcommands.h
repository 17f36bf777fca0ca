#ifndef CALIBRATIONCOMMANDS_H
#define CALIBRATIONCOMMANDS_H

#include "sensorpanel_global.h"

#include <QtCore/QtGlobal>

// The calibration commands a node understands, as the calibration panel sends them: an Np_Calib record
// with calibType, calibCmd (the control value), calibCode (a fixed key per calibration) and two values.
namespace CalibrationCommands {

// Calibration types of the commands, and of the node's answers to them.
constexpr uchar kThermal = 2;
constexpr uchar kMagnetometer = 3;
constexpr uchar kBoot = 4;
constexpr uchar kStatic = 5;
constexpr uchar kThermalAnswer = 18;
constexpr uchar kMagnetometerAnswer = 19;
constexpr uchar kBootAnswer = 20;
constexpr uchar kStaticAnswer = 21;

// Results in an answer's calibCmd.
constexpr uchar kInProgress = 0;
constexpr uchar kSuccess = 1;
constexpr uchar kRevoked = 5;

// The heading fix asks the node to predict its gyro error with a confidence it finds itself.
constexpr quint32 kAutomaticConfidence = 10001;

struct Command
{
    uchar calibType;
    uchar ctrlVal;
    quint16 param1;
    quint32 param2;
    quint32 param3;

    bool operator==(const Command &o) const
    {
        return calibType == o.calibType && ctrlVal == o.ctrlVal && param1 == o.param1 && param2 == o.param2 &&
               param3 == o.param3;
    }
};

SENSORPANEL_EXPORT Command BootCalibration();
// limitDps: degrees per second; confidence in percent, sent only when set by hand.
SENSORPANEL_EXPORT Command StaticStart(double limitDps, bool manualConfidence, int confidence);
SENSORPANEL_EXPORT Command StaticFinish();
SENSORPANEL_EXPORT Command StaticRevoke();
SENSORPANEL_EXPORT Command CompassRun(bool saveToFlash);
SENSORPANEL_EXPORT Command CompassRevoke(bool saveToFlash);
SENSORPANEL_EXPORT Command HeadingFixStart(bool predictGyroError, bool manualConfidence, int confidence);
SENSORPANEL_EXPORT Command HeadingFixFinish();
SENSORPANEL_EXPORT Command HeadingOneClick(double headingDeg);
SENSORPANEL_EXPORT Command ThermalNewSample();
SENSORPANEL_EXPORT Command ThermalClearAll();
SENSORPANEL_EXPORT Command ThermalSave();

} // namespace CalibrationCommands

#endif // CALIBRATIONCOMMANDS_H
