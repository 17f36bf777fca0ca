#include "margbench.h"
#include "ui_margbench.h"

#include "chartdeck.h"
#include "coveragemap.h"
#include "margcore.h"
#include "marginterface.h"
#include "plotrecipe.h"

#include <QtCore/QTimer>
#include <QtGui/QFont>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QVBoxLayout>

namespace {

const PlotRecipe kPlots[] = {
    {"Accel",
     QT_TRANSLATE_NOOP("MargBench", "Accelerometer X-Y Y-Z X-Z"),
     QT_TRANSLATE_NOOP("MargBench", "X - Y - X"),
     -1.5,
     1.5,
     QT_TRANSLATE_NOOP("MargBench", "Y - Z - Z"),
     -1.5,
     1.5,
     200,
     {{"AccXY", "X-Y"}, {"AccYZ", "Y-Z"}, {"AccXZ", "X-Z"}}},
    {"Mag",
     QT_TRANSLATE_NOOP("MargBench", "Magnet X-Y Y-Z X-Z"),
     QT_TRANSLATE_NOOP("MargBench", "X - Y - X"),
     -1.5,
     1.5,
     QT_TRANSLATE_NOOP("MargBench", "Y - Z - Z"),
     -1.5,
     1.5,
     200,
     {{"MagXY", "X-Y"}, {"MagYZ", "Y-Z"}, {"MagXZ", "X-Z"}}},
};

constexpr unsigned kCurveCapacity = 20000;
// Node ids are 11 bits.
constexpr int kNodeIds = 2048;
// The node list is looked at every second; a node silent for this many looks leaves it (unless
// chosen).
constexpr int kNodeListIntervalMs = 1000;
constexpr int kSilentLooks = 3;
constexpr int kCoverageIntervalMs = 200;

QString Number(float value) { return QStringLiteral("%1").arg(double(value)); }

// Where the sensor lies in each still stage (see the header).
const char *const kStagePlacement[marg::kCalibStages] = {
    QT_TRANSLATE_NOOP("MargBench", "z axis up (level, face up)"),
    QT_TRANSLATE_NOOP("MargBench", "z axis down (upside down)"),
    QT_TRANSLATE_NOOP("MargBench", "x axis up"),
    QT_TRANSLATE_NOOP("MargBench", "x axis down"),
    QT_TRANSLATE_NOOP("MargBench", "y axis up"),
    QT_TRANSLATE_NOOP("MargBench", "y axis down"),
    QT_TRANSLATE_NOOP("MargBench", "check attitude: level, then turned 45 degrees about x so that y rises"),
};

QString AxisName(int axis) { return QString(QChar('x' + axis)); }

QString Percent(double value) { return QString::number(value, 'f', 1); }

} // namespace

MargBench::MargBench(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MargBench)
{
    ui->setupUi(this);
    margInterface = new MargInterface;
    margInterface->Load_CalibData();

    chartWindow = new ChartDeck(this);
    for (const PlotRecipe &plot : kPlots) {
        AddPlotFromRecipe(chartWindow, plot, kCurveCapacity, plot.yMin, plot.yMax, "MargBench");
        chartWindow->Set_XY_Mode(plot.name, true);
    }
    chartWindow->Set_Canvas_MinimumSize_PlotDisplay(QSize(100, 100));
    // Small type: two plots share the lower half of a small window.
    chartWindow->Set_Title_Font_PlotDisplay(QFont(tr("Arial"), 9));
    chartWindow->Set_Axis_TitleFont_PlotDisplay(QFont(tr("Arial"), 8));
    chartWindow->Set_Axis_ScaleFont_PlotDisplay(QFont(tr("Arial"), 8));
    // The Calibration Display: the sweep's coverage and figures above the two plots.
    auto *display = new QWidget;
    display->setObjectName(QStringLiteral("widget_CalibrationDisplay"));
    auto *column = new QVBoxLayout(display);
    column->setContentsMargins(4, 4, 4, 4);
    auto *row = new QHBoxLayout;
    coverageMap = new SphereCoverageMap;
    sweepFigures = new QLabel;
    sweepFigures->setObjectName(QStringLiteral("label_SweepFigures"));
    sweepFigures->setTextFormat(Qt::RichText);
    sweepFigures->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    sweepFigures->setMinimumWidth(sweepFigures->fontMetrics().horizontalAdvance(QStringLiteral("M")) * 17);
    row->addWidget(coverageMap, 3);
    row->addWidget(sweepFigures, 2);
    coverageMap->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    column->addLayout(row, 0);
    column->addWidget(chartWindow, 1);
    ui->tabWidget_ChartDeck->addTab(display, tr("Calibration Display"));
    ui->tabWidget_ChartDeck->setCurrentIndex(0);
    ShowSweepFigures();
    ui->label_CalibMessage->hide();

    rawCount.assign(kNodeIds, 0);
    rawCountSeen.assign(kNodeIds, 0);
    silentLooks.assign(kNodeIds, 0);
    nodeListTimer = new QTimer(this);
    connect(nodeListTimer, &QTimer::timeout, this, &MargBench::On_NodeListTimer);
    nodeListTimer->start(kNodeListIntervalMs);
    coverageTimer = new QTimer(this);
    connect(coverageTimer, &QTimer::timeout, this, &MargBench::On_CoverageTimer);

    connect(margInterface->Core(), SIGNAL(Sig_Update_NewInputs(float, float, float, float, float, float, float, float,
                                                               float, float)),
            this,
            SLOT(On_MargCoreUpdate_NewInputs(float, float, float, float, float, float, float, float, float, float)));
}

MargBench::~MargBench()
{
    delete ui;
    delete margInterface;
}

std::array<float, 4> MargBench::On_NewDataDom9(float t, float wx, float wy, float wz, float ax, float ay, float az,
                                         float mx, float my, float mz)
{
    lastTimeStep = t;
    float q[4] = {1, 0, 0, 0};
    const int status =
        margInterface->Process_Sample(t * timeScale, wx, wy, wz, ax, ay, az, mx, my, mz, q[0], q[1], q[2], q[3]);
    std::copy(q, q + 4, lastQuaternion);

    bool calibrated = false, initialised = false;
    const int stageBefore = stage;
    margInterface->Get_Status(calibrated, stage, initialised);
    QPushButton *button = ui->pushButton_FieldCalib_GoForNexStage;
    if (!calibrated) {
        if (status == marg::kStageDone) {
            button->setText(tr("KB Calibration\nStart Stage %1").arg(stage + 1));
            button->setEnabled(true);
            ShowStageMessage(status);
        } else if (status == marg::kStageFailed) {
            const int failed = stage + 1;
            if (stage == marg::kSweepStage) {
                // The sweep alone is repeated: the accelerometer's stages stand.
                button->setText(tr("KB Calibration Failed at Stage %1!\nRestart Stage %1").arg(failed));
            } else {
                calibrationRunning = false;
                stage = 0;
                button->setText(tr("KB Calibration Failed at Stage %1!\nRestart from Stage 1").arg(failed));
            }
            button->setEnabled(true);
            ui->label_CalibMessage->setText(FailureText(failed));
            ShowSweepFigures();
        } else if (status == marg::kSweepEvaluated) {
            ShowSweepFigures();
            ui->label_CalibMessage->setText(SweepGuidance());
        }
    } else if (calibrationRunning) {
        calibrationRunning = false;
        stage = 0;
        button->setText(tr("KB Calibration Done\nRestart Stage %1").arg(1));
        button->setEnabled(true);
        coverageTimer->stop();
        ShowSweepFigures();
        const marg::SweepQuality &figures = margInterface->SweepFigures();
        if (status == marg::kCalibrationDone)
            ui->label_CalibMessage->setText(
            stageBefore == marg::kSweepStage
                ? tr("Field calibration done: the accelerometer from the seven stages, the magnetometer (hard "
                     "and soft iron) from the sweep, with gaps %1 %, variance %2 %, wobble %3 %, fit error %4 %.")
                      .arg(Percent(figures.gaps), Percent(figures.variance), Percent(figures.wobble),
                           Percent(figures.fitError))
                : tr("Field calibration done: the accelerometer from the seven stages. No magnetometer reads, "
                     "so there was nothing to sweep."));
    }

    ui->label_q1->setText(Number(lastQuaternion[0]));
    ui->label_q2->setText(Number(lastQuaternion[1]));
    ui->label_q3->setText(Number(lastQuaternion[2]));
    ui->label_q4->setText(Number(lastQuaternion[3]));
    ui->label_Euler_psi->setText(Number(margInterface->Psi()));
    ui->label_Euler_theta->setText(Number(margInterface->Theta()));
    ui->label_Euler_phi->setText(Number(margInterface->Phi()));
    ui->label_GravityX->setText(Number(margInterface->Gravity()[0]));
    ui->label_GravityY->setText(Number(margInterface->Gravity()[1]));
    ui->label_GravityZ->setText(Number(margInterface->Gravity()[2]));
    ui->label_RPY_Roll->setText(Number(margInterface->Roll()));
    ui->label_RPY_Pitch->setText(Number(margInterface->Pitch()));
    ui->label_RPY_Yaw->setText(Number(margInterface->Yaw()));
    return {lastQuaternion[0], lastQuaternion[1], lastQuaternion[2], lastQuaternion[3]};
}

std::array<float, 4> MargBench::FuseNode(quint16 node, float t, float wx, float wy, float wz, float ax, float ay,
                                        float az, float mx, float my, float mz)
{
    if (chosenNode < 0)
        NoteRawNode(node);
    if (int(node) == chosenNode) {
        if (restartFilter && !calibrationRunning)
            margInterface->RestartFilter();
        restartFilter = false;
        return On_NewDataDom9(t, wx, wy, wz, ax, ay, az, mx, my, mz);
    }
    std::unique_ptr<MargInterface> &filter = nodeFilters[node];
    if (!filter) {
        filter = std::make_unique<MargInterface>();
        filter->Load_CalibData();
    }
    std::array<float, 4> q{1, 0, 0, 0};
    filter->Process_Sample(t * timeScale, wx, wy, wz, ax, ay, az, mx, my, mz, q[0], q[1], q[2], q[3]);
    return q;
}

const MargInterface *MargBench::NodeInterface(quint16 node) const
{
    if (int(node) == chosenNode)
        return margInterface;
    const auto found = nodeFilters.find(node);
    return found == nodeFilters.end() ? nullptr : found->second.get();
}

void MargBench::NoteRawNode(quint16 node)
{
    if (node >= kNodeIds)
        return;
    if (rawCount[node]++ != 0 || ui->comboBox_MargNode->findData(int(node)) >= 0)
        return;
    // A new node: listed in order of ids. The first becomes the chosen one by itself.
    int at = 0;
    while (at < ui->comboBox_MargNode->count() && ui->comboBox_MargNode->itemData(at).toInt() < int(node))
        ++at;
    ui->comboBox_MargNode->insertItem(at, tr("Node %1").arg(node), int(node));
}

bool MargBench::SwitchedIn() const { return chosenNode >= 0 && ui->checkBox_MargSwitchIn->isChecked(); }

bool MargBench::Filters(quint16 node) const
{
    return int(node) == chosenNode && (isVisible() || ui->checkBox_MargSwitchIn->isChecked());
}

void MargBench::on_comboBox_MargNode_currentIndexChanged(int index)
{
    const int node = index >= 0 ? ui->comboBox_MargNode->itemData(index).toInt() : -1;
    if (node == chosenNode)
        return;
    const int previous = chosenNode;
    chosenNode = node;
    // Another sensor: its own filter from its first sample; a field calibration of the previous
    // one is abandoned, its samples would mix with the new one's.
    if (previous >= 0) {
        margInterface->RestartFilter();
        coverageTimer->stop();
        if (calibrationRunning) {
            calibrationRunning = false;
            stage = 0;
            ui->pushButton_FieldCalib_GoForNexStage->setText(tr("KB Calibration\nStart Stage %1").arg(1));
            ui->pushButton_FieldCalib_GoForNexStage->setEnabled(true);
            ui->label_CalibMessage->setText(
                tr("The field calibration of node %1 was abandoned: another node was chosen.").arg(previous));
            ui->label_CalibMessage->show();
        }
    }
    nodeFilters.erase(quint16(std::max(node, 0)));
}

void MargBench::On_NodeListTimer()
{
    QComboBox *list = ui->comboBox_MargNode;
    for (int i = list->count() - 1; i >= 0; --i) {
        const int node = list->itemData(i).toInt();
        const bool streaming = rawCount[size_t(node)] != rawCountSeen[size_t(node)];
        rawCountSeen[size_t(node)] = rawCount[size_t(node)];
        silentLooks[size_t(node)] = streaming ? 0 : silentLooks[size_t(node)] + 1;
        const bool silent = silentLooks[size_t(node)] >= kSilentLooks;
        if (silent && node != chosenNode) {
            list->removeItem(i);
            rawCount[size_t(node)] = rawCountSeen[size_t(node)] = 0;
            silentLooks[size_t(node)] = 0;
            continue;
        }
        const QString text = silent ? tr("Node %1 (no raw data)").arg(node) : tr("Node %1").arg(node);
        if (list->itemText(i) != text)
            list->setItemText(i, text);
    }
}

void MargBench::hideEvent(QHideEvent *event)
{
    // Closed, the bench stops filtering (unless switched in); shown again, it starts afresh
    // rather than from an attitude minutes old.
    restartFilter = true;
    QMainWindow::hideEvent(event);
}

void MargBench::On_MargCoreUpdate_NewInputs(float t, float wx, float wy, float wz, float ax, float ay, float az,
                                            float mx, float my, float mz)
{
    Q_UNUSED(t);
    Q_UNUSED(wx);
    Q_UNUSED(wy);
    Q_UNUSED(wz);
    static const char *const kAccCurves[3] = {"AccXY", "AccYZ", "AccXZ"};
    static const char *const kMagCurves[3] = {"MagXY", "MagYZ", "MagXZ"};
    FeedPlanes(chartWindow, "Accel", kAccCurves, ax, ay, az);
    FeedPlanes(chartWindow, "Mag", kMagCurves, mx, my, mz);
}

void MargBench::on_pushButton_FieldCalib_GoForNexStage_clicked()
{
    ui->pushButton_FieldCalib_GoForNexStage->setText(tr("KB Calibration\nStage %1\nSampling Data...").arg(stage + 1));
    ui->pushButton_FieldCalib_GoForNexStage->setEnabled(false);
    if (calibrationRunning) {
        margInterface->FieldCalib_NextStage();
    } else {
        margInterface->FieldCalib_Start();
        calibrationRunning = true;
    }
    ShowStageMessage(marg::kStageSampling);
    if (margInterface->Sweeping()) {
        ShowSweepFigures();
        ui->tabWidget_ChartDeck->setCurrentIndex(1);
        coverageTimer->start(kCoverageIntervalMs);
    }
}

void MargBench::On_CoverageTimer()
{
    coverageMap->SetRegions(margInterface->Sweep().Regions());
    if (margInterface->Sweeping())
        ui->label_CalibMessage->setText(SweepGuidance());
    else
        coverageTimer->stop();
}

void MargBench::ShowStageMessage(int status)
{
    QLabel *message = ui->label_CalibMessage;
    message->show();
    const int shown = stage + 1;
    const bool waiting = status == marg::kStageDone;
    if (stage < marg::kCalibStages) {
        const QString placement = tr(kStagePlacement[stage]);
        message->setText(waiting ? tr("Stage %1 of 8: lay the sensor still with its %2, on a steady surface, then "
                                      "press the button. Keep it still until the button asks for the next stage.")
                                       .arg(shown)
                                       .arg(placement)
                                 : tr("Stage %1 of 8: keep the sensor still with its %2.").arg(shown).arg(placement));
        return;
    }
    message->setText(waiting ? tr("Stage 8 of 8, the magnetometer sweep: press the button, then turn the sensor "
                                  "slowly through every direction, away from iron and magnets, until the "
                                  "Calibration Display shows the sphere covered.")
                             : SweepGuidance());
}

QString MargBench::SweepGuidance() const
{
    const marg::FieldSweep &sweep = margInterface->Sweep();
    const marg::SweepQuality &q = margInterface->SweepFigures();
    const marg::MissingDirection missing = sweep.Missing();
    if (!q.GapsPass() || !q.fitted) {
        QString where = tr("Turn it slowly through every direction.");
        if (q.fitted && missing.axis >= 0) {
            // The axis must point along the field: up or down where the field is steep (by the
            // accelerometer's idea of up), north or south where it is level.
            const double along = sweep.FieldAlongReading() * missing.sign;
            const QString toward = along > 0.5 ? tr("up") : along < -0.5 ? tr("down")
                                                           : missing.sign > 0 ? tr("north") : tr("south");
            where = tr("Turn the sensor so that its %1 axis points %2.").arg(AxisName(missing.axis), toward);
        }
        return tr("Stage 8: %1 of %2 directions covered. %3")
            .arg(sweep.Covered())
            .arg(marg::kCoverageRegions)
            .arg(where);
    }
    QStringList off;
    if (!q.VariancePass())
        off << tr("the field's magnitude varies by %1 % (under %2 % needed)")
                   .arg(Percent(q.variance), Percent(marg::kMaxVariancePercent));
    if (!q.WobblePass())
        off << tr("the wobble is %1 % (under %2 % needed)").arg(Percent(q.wobble), Percent(marg::kMaxWobblePercent));
    if (!q.FitErrorPass())
        off << tr("the fit error is %1 % (under %2 % needed)")
                   .arg(Percent(q.fitError), Percent(marg::kMaxFitErrorPercent));
    return tr("Stage 8: the directions are covered, but %1. Keep turning, slowly, and away from iron and magnets.")
        .arg(off.join(tr(", and ")));
}

QString MargBench::FailureText(int failedStage) const
{
    if (failedStage == marg::kSweepStage + 1)
        return tr("Stage 8 ended after %1 s without a good fit. %2 Press the button to sweep again; the seven "
                  "stages before it stand.")
            .arg(int(marg::kSweepTimeLimit))
            .arg(SweepGuidance());
    const SensorCalib &acc = margInterface->AccCalib();
    const SensorCalib &calib = acc.failure != SensorCalib::Failure::None ? acc : margInterface->MagCalib();
    switch (calib.failure) {
    case SensorCalib::Failure::Moved:
        return tr("Stage %1 failed: the sensor moved. Keep it still on a steady surface until the stage ends.")
            .arg(failedStage);
    case SensorCalib::Failure::Repeated:
        return tr("Stage %1 failed: the sensor lay as in stage %2. Lay it with its %3.")
            .arg(failedStage)
            .arg(calib.failureDetail + 1)
            .arg(tr(kStagePlacement[failedStage - 1]));
    case SensorCalib::Failure::CheckAttitude:
        return tr("Stage 7 failed: the sensor was not in the %1.").arg(tr(kStagePlacement[6]));
    case SensorCalib::Failure::AxisUnreached: {
        const QString way = calib.failureSign > 0 ? tr("up") : tr("down");
        return tr("The stages leave the %1 axis undetermined: none had it pointing %2. Turn the sensor so that "
                  "its %1 axis points %2 in one of the stages, and start again.")
            .arg(AxisName(calib.failureDetail), way);
    }
    case SensorCalib::Failure::IllConditioned:
        return tr("The stages do not determine the calibration. Lay the sensor with each axis up and down in "
                  "turn, as the stages ask, and start again.");
    case SensorCalib::Failure::Residual:
        return tr("The stages do not agree with one calibration (one is %1 % off). Repeat them on a steady "
                  "surface, away from vibration.")
            .arg(Percent(100.0 * calib.failureValue));
    case SensorCalib::Failure::None: break;
    }
    return tr("Stage %1 failed: the accelerometer and the magnetometer fell out of step.").arg(failedStage);
}

void MargBench::ShowSweepFigures()
{
    coverageMap->SetRegions(margInterface->Sweep().Regions());
    const marg::SweepQuality &q = margInterface->SweepFigures();
    auto line = [&q](const QString &name, double value, double limit, bool pass) {
        const QString figure = q.fitted || name == tr("Gaps") ? tr("%1 %").arg(Percent(value)) : tr("-");
        const QString mark = !q.fitted && name != tr("Gaps") ? QString()
                             : pass ? QStringLiteral("<span style=\"color:#3cb46e\">&#10003;</span>")
                                    : QStringLiteral("<span style=\"color:#e05050\">&#10007;</span>");
        return QStringLiteral("<tr><td>%1</td><td align=\"right\">&nbsp;%2</td><td>&nbsp;%3</td>"
                              "<td>&nbsp;%4</td></tr>")
            .arg(name, figure, tr("under %1 %").arg(Percent(limit)), mark);
    };
    sweepFigures->setText(QStringLiteral("<b>%1</b><table>%2%3%4%5</table>")
                              .arg(tr("Magnetometer fit"))
                              .arg(line(tr("Gaps"), q.gaps, marg::kMaxGapsPercent, q.GapsPass()))
                              .arg(line(tr("Variance"), q.variance, marg::kMaxVariancePercent, q.VariancePass()))
                              .arg(line(tr("Wobble"), q.wobble, marg::kMaxWobblePercent, q.WobblePass()))
                              .arg(line(tr("Fit error"), q.fitError, marg::kMaxFitErrorPercent, q.FitErrorPass())));
}

void MargBench::on_pushButton_CalibTest_clicked() {}

void MargBench::on_pushButton_LoadCalibData_clicked()
{
    if (calibrationRunning) {
        ui->label_CalibMessage->setText(tr("Field calibration stopped: the built-in calibration is loaded."));
        ui->label_CalibMessage->show();
    }
    margInterface->Load_CalibData();
    coverageTimer->stop();
}
