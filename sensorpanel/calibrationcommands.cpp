#include "calibrationcommands.h"

#include <algorithm>
#include <cmath>

namespace CalibrationCommands {

namespace {

// The key each calibration's commands carry in calibCode.
constexpr quint16 kThermalCode = 0xAA05;
constexpr quint16 kMagnetometerCode = 0xAA32;
constexpr quint16 kBootCode = 0xAA35;
constexpr quint16 kStaticCode = 0xAA65;

// Magnetometer control values.
constexpr uchar kCompassRun = 1;
constexpr uchar kCompassRevoke = 8;
constexpr uchar kHeadingFixStart = 10;
constexpr uchar kHeadingFixFinish = 11;
constexpr uchar kHeadingOneClick = 12;
// The node's search range for the automatic heading fix, in thousandths of a degree.
constexpr quint32 kHeadingFixRange = 90000;

// The spin boxes hold a few decimals; scaled they must give the whole number the user sees
// (0.29 x 100 is 28.999999999999996 in binary).
quint32 Scaled(double value, double factor) { return quint32(std::max(0.0, std::round(value * factor))); }

} // namespace

Command BootCalibration() { return {kBoot, 2, kBootCode, 0, 0}; }

Command StaticStart(double limitDps, bool manualConfidence, int confidence)
{
    return {kStatic, 3, kStaticCode, Scaled(limitDps, 100), manualConfidence ? Scaled(confidence, 100) : 0};
}

Command StaticFinish() { return {kStatic, 4, kStaticCode, 0, 0}; }

Command StaticRevoke() { return {kStatic, 1, kStaticCode, 0, 0}; }

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

Command ThermalNewSample() { return {kThermal, 1, kThermalCode, 0, 0}; }

Command ThermalClearAll() { return {kThermal, 3, kThermalCode, 0, 0}; }

Command ThermalSave() { return {kThermal, 4, kThermalCode, 0, 0}; }

} // namespace CalibrationCommands
