#ifndef LIVETREE_H
#define LIVETREE_H

#include "treeformat.h"

#include <QtCore/QString>
#include <QtCore/QVector>

class QTreeWidget;
class QTreeWidgetItem;

// The rows of the live data tree and the newest value of each. Values arrive at the node's output
// rate (up to 800 per second per record type); Apply() turns the ones that changed into texts, so
// the tree is written at most once per screen frame however fast the node sends.
class LiveTree
{
public:
    using Group = TreeFormat::Group;
    using Status = TreeFormat::Status;
    static constexpr int GroupCount = TreeFormat::GroupCount;
    static constexpr int StatusCount = TreeFormat::StatusCount;

    LiveTree() = default;
    LiveTree(const LiveTree &) = delete;
    LiveTree &operator=(const LiveTree &) = delete;

    // Builds every row in the tree, once.
    void Build(QTreeWidget *tree);

    void SetGroup(Group group, float a, float b, float c, float d = 0.0f);
    void SetUptime(double seconds);
    void SetQoS(int qos);
    void SetRate(float hz);
    void SetTemperature(float degreeC);
    // The node fell silent: the four status rows read " - " until the next status value.
    void BlankStatus();
    // The rows of the outputs a settings word leaves off read " - " until their next value.
    void BlankOutputsOff(quint32 settingsWord);
    // Stale values are drawn grey: the node or the link has gone quiet.
    void SetStale(bool stale);

    bool Pending() const { return dirtyGroups != 0 || dirtyStatus != 0; }
    // Writes the texts of every row whose value changed since the last call.
    void Apply();


private:
    struct Row
    {
        QTreeWidgetItem *item = nullptr;
        QVector<QTreeWidgetItem *> children;
        int decimals = 3;
        float values[4] = {};
    };

    Row groups[GroupCount];
    QTreeWidgetItem *status[StatusCount] = {};
    QTreeWidget *view = nullptr;
    double uptime = 0.0;
    int qos = 0;
    float rate = 0.0f;
    float temperature = 0.0f;
    unsigned dirtyGroups = 0;
    unsigned dirtyStatus = 0;
};

#endif // LIVETREE_H
