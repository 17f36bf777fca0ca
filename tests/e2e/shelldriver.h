#ifndef SHELLDRIVER_H
#define SHELLDRIVER_H

#include "simulatorrunner.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

class FrameCourier;
class Gyrovane;
class QTreeWidget;
class QTreeWidgetItem;
class SensorPanel;
class UnitRoster;

// One simulated node as a test starts it.
struct SimNode
{
    int id;
    const char *name;
    const char *firmware;
    const char *uuid;

    QString Option() const;
};

// Three model generations, as ./run.sh starts them: current (31.8.2.70), the combined-output model
// (51.2.0.11) and a legacy node with the old settings layout (3.1.6.0).
extern const SimNode kBow;
extern const SimNode kMast;
extern const SimNode kStern;

// Drives the real main window over the node simulator the way a user does: waits for the link to
// open the simulated port, scans, and opens and closes nodes from the node list.
//
//     ShellDriver shell(window, runtime.filePath("kinetra-ports"));
//     QVERIFY2(shell.StartSimulator({kBow, kMast}, {"--odr", "50"}), qPrintable(shell.Error()));
//     QVERIFY(shell.Scan({kBow, kMast}));
//     SensorPanel *bow = shell.Open(kBow);
class ShellDriver
{
public:
    ShellDriver(Gyrovane *window, const QString &portDir);
    ~ShellDriver();
    ShellDriver(const ShellDriver &) = delete;
    ShellDriver &operator=(const ShellDriver &) = delete;

    // Starts the simulator with these nodes once the gateway listens, and waits until the link
    // panel has opened its port.
    bool StartSimulator(const QVector<SimNode> &nodes, const QStringList &extra = QStringList());
    bool StopSimulator();
    SimulatorRunner &Simulator() { return sim; }
    QString Error() const { return error; }

    FrameCourier *Courier() const;
    UnitRoster *Roster() const;
    QTreeWidget *Tree() const;

    // Scans until every node is listed, then stops the scan (which puts every node back to normal).
    bool Scan(const QVector<SimNode> &nodes, int timeoutMs = 8000);
    QTreeWidgetItem *Row(const SimNode &node) const;
    // Selects the node's row and presses "Open"; the node's window, or null.
    SensorPanel *Open(const SimNode &node);
    // Selects the node's row and presses "Close".
    bool CloseFromList(const SimNode &node);
    SensorPanel *Window(const SimNode &node) const;

private:
    bool Select(QTreeWidgetItem *row);

    Gyrovane *window;
    QString portDir;
    SimulatorRunner sim;
    QString error;
};

#endif // SHELLDRIVER_H
