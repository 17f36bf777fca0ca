#include "treeformat.h"

#include <QtCore/QCoreApplication>

namespace TreeFormat {

const GroupRow kGroupRows[GroupCount] = {
    {"Gyroscope", "Raw Data (Unit: rad/s)", {"x", "y", "z"}, "0", 3, 0},
    {"Accelerometer", "Raw Data (Unit: g)", {"x", "y", "z"}, "0", 3, 0},
    {"Magnetometer", "Raw Data (Unit: one Earth's magnetic field)", {"x", "y", "z"}, "0", 3, 0},
    {"Quaternion (S1->S)", "Relative to initial sensor frame", {"q1", "q2", "q3", "q4"}, "1", 3, 1},
    {"Euler (S1->S)", "Relative to initial sensor frame", {"psi", "theta", "phi"}, "0", 1, 1},
    {"Quaternion (S1->E)", "Relative to Earth frame", {"q1", "q2", "q3", "q4"}, "1", 3, 2},
    {"Euler (S1->E)", "Relative to Earth frame", {"psi", "theta", "phi"}, "0", 1, 2},
    {"Aircraft Principal Axes", "Relative to Earth frame", {"roll", "pitch", "yaw"}, "0", 1, 2},
    {"Gravity Direction", "Relative to current sensor frame", {"x", "y", "z"}, "0", 2, 2},
};

const StatusRow kStatusRows[StatusCount] = {
    {"Uptime", "0"},
    {"QoS", " - "},
    {"Sampling Rate", " - "},
    {"Temperature", " - "},
};

namespace {

const char *const kQoSLabels[] = {
    QT_TRANSLATE_NOOP("SensorPanel", " Unavailable"), QT_TRANSLATE_NOOP("SensorPanel", " System Fault"),
    QT_TRANSLATE_NOOP("SensorPanel", " Limited"),     QT_TRANSLATE_NOOP("SensorPanel", " Basic"),
    QT_TRANSLATE_NOOP("SensorPanel", " Fine"),        QT_TRANSLATE_NOOP("SensorPanel", " Very Good"),
};

} // namespace

QString Tr(const char *text) { return QCoreApplication::translate("SensorPanel", text); }

QString UptimeText(double seconds) { return Tr("%1 s").arg(seconds, 15, 'f', 6); }

QString QoSText(int qos)
{
    QString text = Tr("%1 ").arg(qos);
    if (qos >= 0 && qos < int(sizeof(kQoSLabels) / sizeof(kQoSLabels[0])))
        text += Tr(kQoSLabels[qos]);
    return text;
}

QString RateText(float hz) { return Tr("%1 Hz").arg(double(hz), 5, 'f', 1); }

QString TemperatureText(float degreeC) { return Tr("%1 °C").arg(double(degreeC), 5, 'f', 2); }

QString ValueText(double value, int decimals) { return Tr("%1").arg(value, 10, 'f', decimals); }

} // namespace TreeFormat
