#ifndef MARGBENCH_MARGBENCH_H
#define MARGBENCH_MARGBENCH_H

// The MARG bench: a software attitude estimator that can stand in for a node's own fusion, with a
// staged field calibration ("KB Calibration") of the accelerometer and magnetometer.
//
// The bench filters one node at a time, chosen in its node list among the nodes that stream raw
// data, while the bench is shown or its attitude is switched in for that node.
//
// The field calibration takes seven still stages and a sweep. For each still stage, place the
// sensor still on a steady surface in the stated attitude, press the button, and leave it until the
// button asks for the next stage (a little over 5000 samples: about 6 s at 800 Hz). Stage by stage
// the sensor lies with
//   1  z axis up (level, face up)           4  x axis down
//   2  z axis down (upside down)            5  y axis up
//   3  x axis up                            6  y axis down
//   7  the check attitude: level, then turned 45 degrees about x so that y rises (y and z both
//      read about 0.7 g), within 20 degrees.
// The stages need not be exact: an ellipsoid is fitted to the seven means. A stage fails when the
// sensor moved, when its attitude repeats an earlier stage, or when the seventh is far from the
// check attitude or the set leaves an axis undetermined; the calibration then starts again from
// stage 1. Stage 8 is the magnetometer sweep (fieldsweep.h): turn the sensor slowly through every
// direction while the Calibration Display shows the directions covered; it ends by itself once the
// fit is good, or fails after two minutes, and may then be repeated alone.

#include "margbench_global.h"

#include <array>
#include <map>
#include <memory>
#include <vector>
#include <QtWidgets/QMainWindow>

class ChartDeck;
class MargInterface;
class QLabel;
class QTimer;
class SphereCoverageMap;

namespace Ui {
class MargBench;
}

class MARGBENCH_EXPORT MargBench : public QMainWindow
{
    Q_OBJECT

public:
    explicit MargBench(QWidget *parent = nullptr);
    ~MargBench() override;

    // What the last sample produced (roll, pitch, yaw and the rest), for the bench's owner.
    const MargInterface *Interface() const { return margInterface; }
    // The time step (microseconds) of the last sample.
    float LastTimeStep() const { return lastTimeStep; }

    // One fusion step of one node's sensor: every node has its own filter, so that two sensors never
    // mix. The chosen node's is the one the bench shows (On_NewDataDom9); t in microseconds.
    std::array<float, 4> FuseNode(quint16 node, float t, float wx, float wy, float wz, float ax, float ay, float az,
                                  float mx, float my, float mz);
    // The filter of a node after its latest sample, or null before its first.
    const MargInterface *NodeInterface(quint16 node) const;

    // A raw record of `node` arrived: it is listed for choosing. Cheap: called for every record.
    void NoteRawNode(quint16 node);
    // The node chosen in the list, or -1 while none streams raw data.
    int ChosenNode() const { return chosenNode; }
    // Whether the chosen node's windows show the bench's attitude in place of the node's own.
    bool SwitchedIn() const;
    // Whether the bench filters this node's raw data now: the chosen node, while the bench is shown
    // or switched in.
    bool Filters(quint16 node) const;

public slots:
    // One fusion step; t in microseconds since the previous sample. Returns q0..q3.
    std::array<float, 4> On_NewDataDom9(float t, float wx, float wy, float wz, float ax, float ay, float az, float mx,
                                  float my, float mz);
    void On_MargCoreUpdate_NewInputs(float t, float wx, float wy, float wz, float ax, float ay, float az, float mx,
                                     float my, float mz);
    void on_pushButton_FieldCalib_GoForNexStage_clicked();
    void on_pushButton_CalibTest_clicked();
    void on_pushButton_LoadCalibData_clicked();

private slots:
    void on_comboBox_MargNode_currentIndexChanged(int index);
    void On_NodeListTimer();
    void On_CoverageTimer();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void ShowStageMessage(int status);
    void ShowSweepFigures();
    QString SweepGuidance() const;
    QString FailureText(int failedStage) const;

    Ui::MargBench *ui;
    MargInterface *margInterface;
    int stage = 0;
    float timeScale = 0.000001f;
    ChartDeck *chartWindow;
    float lastQuaternion[4] = {1, 0, 0, 0};
    bool calibrationRunning = false;
    float lastTimeStep = 0;
    int chosenNode = -1;
    bool restartFilter = false; // the chosen node's filter was paused: start it afresh
    std::map<quint16, std::unique_ptr<MargInterface>> nodeFilters;
    // Raw records per node id, and as counted at the last look: who still streams.
    std::vector<quint32> rawCount;
    std::vector<quint32> rawCountSeen;
    std::vector<int> silentLooks;
    QTimer *nodeListTimer;
    QTimer *coverageTimer;
    SphereCoverageMap *coverageMap;
    QLabel *sweepFigures;
};

#endif // MARGBENCH_MARGBENCH_H
