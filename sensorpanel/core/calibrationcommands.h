#ifndef CALIBRATIONCOMMANDS_H
#define CALIBRATIONCOMMANDS_H

#include "sensorpanelcore_global.h"

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
constexpr uchar kFailed = 2;
constexpr uchar kRevoked = 5;

// The key each calibration's commands carry in calibCode.
constexpr quint16 kThermalCode = 0xAA05;
constexpr quint16 kMagnetometerCode = 0xAA32;
constexpr quint16 kBootCode = 0xAA35;
constexpr quint16 kStaticCode = 0xAA65;

// Control values (calibCmd) of the commands, per calibration type.
constexpr uchar kThermalNewSample = 1;
constexpr uchar kThermalClearAll = 3;
constexpr uchar kThermalSave = 4;
constexpr uchar kCompassRun = 1;         // + 1: and keep the result in flash
constexpr uchar kCompassRevoke = 8;      // + 1: and in flash
constexpr uchar kHeadingFixStart = 10;
constexpr uchar kHeadingFixFinish = 11;
constexpr uchar kHeadingOneClick = 12;
constexpr uchar kBootRun = 2;
constexpr uchar kStaticRevoke = 1;
constexpr uchar kStaticStart = 3;
constexpr uchar kStaticFinish = 4;

// How long the calibration panel waits for the answer to a command; 0: the node reports progress
// while the user moves it, with no total time limit.
SENSORPANELCORE_EXPORT int AnswerWaitMs(uchar calibType, uchar ctrlVal);
// The latest a command may still go out: its answer wait, or for one without a limit the time after
// which a silent node counts as not answering.
SENSORPANELCORE_EXPORT int SendWithinMs(uchar calibType, uchar ctrlVal);
constexpr int kSilentNodeMs = 5000;

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

SENSORPANELCORE_EXPORT Command BootCalibration();
// limitDps: degrees per second; confidence in percent, sent only when set by hand.
SENSORPANELCORE_EXPORT Command StaticStart(double limitDps, bool manualConfidence, int confidence);
SENSORPANELCORE_EXPORT Command StaticFinish();
SENSORPANELCORE_EXPORT Command StaticRevoke();
SENSORPANELCORE_EXPORT Command CompassRun(bool saveToFlash);
SENSORPANELCORE_EXPORT Command CompassRevoke(bool saveToFlash);
SENSORPANELCORE_EXPORT Command HeadingFixStart(bool predictGyroError, bool manualConfidence, int confidence);
SENSORPANELCORE_EXPORT Command HeadingFixFinish();
SENSORPANELCORE_EXPORT Command HeadingOneClick(double headingDeg);
SENSORPANELCORE_EXPORT Command ThermalNewSample();
SENSORPANELCORE_EXPORT Command ThermalClearAll();
SENSORPANELCORE_EXPORT Command ThermalSave();

} // namespace CalibrationCommands

#endif // CALIBRATIONCOMMANDS_H
