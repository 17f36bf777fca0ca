#include "calibrationcommands.h"

#include <algorithm>
#include <cmath>

namespace CalibrationCommands {

namespace {

const int kBootWaitMs = 20000;
const int kShortWaitMs = 700;
const int kRevokeWaitMs = 2000;
// The node's search range for the automatic heading fix, in thousandths of a degree.
constexpr quint32 kHeadingFixRange = 90000;

// The spin boxes hold a few decimals; scaled they must give the whole number the user sees
// (0.29 x 100 is 28.999999999999996 in binary).
quint32 Scaled(double value, double factor) { return quint32(std::max(0.0, std::round(value * factor))); }

} // namespace

Command BootCalibration() { return {kBoot, kBootRun, kBootCode, 0, 0}; }

Command StaticStart(double limitDps, bool manualConfidence, int confidence)
{
    return {kStatic, kStaticStart, kStaticCode, Scaled(limitDps, 100), manualConfidence ? Scaled(confidence, 100) : 0};
}

Command StaticFinish() { return {kStatic, kStaticFinish, kStaticCode, 0, 0}; }

Command StaticRevoke() { return {kStatic, kStaticRevoke, kStaticCode, 0, 0}; }

Command CompassRun(bool saveToFlash)
{
    return {kMagnetometer, uchar(kCompassRun + (saveToFlash ? 1 : 0)), kMagnetometerCode, 0, 0};
}

Command CompassRevoke(bool saveToFlash)
{
    return {kMagnetometer, uchar(kCompassRevoke + (saveToFlash ? 1 : 0)), kMagnetometerCode, 0, 0};
}

Command HeadingFixStart(bool predictGyroError, bool manualConfidence, int confidence)
{
    const quint32 value2 =
        !predictGyroError ? 0 : (manualConfidence ? Scaled(confidence, 100) : kAutomaticConfidence);
    return {kMagnetometer, kHeadingFixStart, kMagnetometerCode, kHeadingFixRange, value2};
}

Command HeadingFixFinish() { return {kMagnetometer, kHeadingFixFinish, kMagnetometerCode, 0, 0}; }

Command HeadingOneClick(double headingDeg)
{
    return {kMagnetometer, kHeadingOneClick, kMagnetometerCode, Scaled(headingDeg, 1000), 0};
}

Command ThermalNewSample() { return {kThermal, kThermalNewSample, kThermalCode, 0, 0}; }

Command ThermalClearAll() { return {kThermal, kThermalClearAll, kThermalCode, 0, 0}; }

Command ThermalSave() { return {kThermal, kThermalSave, kThermalCode, 0, 0}; }

int AnswerWaitMs(uchar calibType, uchar ctrlVal)
{
    switch (calibType) {
    case kBoot: return kBootWaitMs;
    case kStatic: return kShortWaitMs;
    case kMagnetometer:
        switch (ctrlVal) {
        case kCompassRevoke:
        case kCompassRevoke + 1: return kRevokeWaitMs;
        case kHeadingFixFinish:
        case kHeadingOneClick: return kShortWaitMs;
        default: return 0; // a run or a heading fix reports progress while the user turns the sensor
        }
    default: return 0; // thermal steps: the answer only updates the status line
    }
}

int SendWithinMs(uchar calibType, uchar ctrlVal)
{
    const int wait = AnswerWaitMs(calibType, ctrlVal);
    return wait > 0 ? wait : kSilentNodeMs;
}

} // namespace CalibrationCommands
