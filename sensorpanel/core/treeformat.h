#ifndef TREEFORMAT_H
#define TREEFORMAT_H

#include "sensorpanelcore_global.h"

#include <QtCore/QString>

// The live data tree's rows and how its values read; the tree widget itself is built from these.
namespace TreeFormat {

// Rows with three or four numbers, in tree order.
enum Group { Gyro, Acc, Mag, Q_S1_S, Euler_S1_S, Q_S1_E, Euler_S1_E, RPY, Gravity, GroupCount };
// Rows with one status value, in tree order (above the groups).
enum Status { Uptime, QoS, Rate, Temperature, StatusCount };

struct GroupRow
{
    const char *name;
    const char *value;
    const char *children[4];
    const char *firstChildValue; // the rest start at "0"
    int decimals;
    int shade; // 0 status and raw, 1 sensor frame, 2 Earth frame
};
extern SENSORPANELCORE_EXPORT const GroupRow kGroupRows[GroupCount];

struct StatusRow
{
    const char *name;
    const char *value;
};
extern SENSORPANELCORE_EXPORT const StatusRow kStatusRows[StatusCount];

// Texts are translated in the node window's context.
SENSORPANELCORE_EXPORT QString Tr(const char *text);
SENSORPANELCORE_EXPORT QString UptimeText(double seconds);
SENSORPANELCORE_EXPORT QString QoSText(int qos);
SENSORPANELCORE_EXPORT QString RateText(float hz);
SENSORPANELCORE_EXPORT QString TemperatureText(float degreeC);
SENSORPANELCORE_EXPORT QString ValueText(double value, int decimals);

} // namespace TreeFormat

#endif // TREEFORMAT_H
