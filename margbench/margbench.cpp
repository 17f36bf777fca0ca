#include "margbench.h"
#include "ui_margbench.h"

#include "chartdeck.h"
#include "margcore.h"
#include "marginterface.h"
#include "plotrecipe.h"

#include <QtGui/QFont>

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

QString Number(float value) { return QStringLiteral("%1").arg(double(value)); }

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
    ui->tabWidget_ChartDeck->addTab(chartWindow, tr("Calibration Display"));
    ui->tabWidget_ChartDeck->setCurrentIndex(0);

    connect(margInterface->Core(), SIGNAL(Sig_Update_NewInputs(float, float, float, float, float, float, float, float,
                                                               float, float)),
            this,
            SLOT(On_MargCoreUpdate_NewInputs(float, float, float, float, float, float, float, float, float, float)));
}

MargBench::~MargBench()
{
    delete ui;
    delete chartWindow;
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
    margInterface->Get_Status(calibrated, stage, initialised);
    QPushButton *button = ui->pushButton_FieldCalib_GoForNexStage;
    if (!calibrated) {
        if (status == 4) {
            button->setText(tr("KB Calibration\nStart Stage %1").arg(stage + 1));
            button->setEnabled(true);
        } else if (status == -1) {
            const int failed = stage + 1;
            calibrationRunning = false;
            stage = 0;
            button->setText(tr("KB Calibration Failed at Stage %1!\nRestart from Stage 1").arg(failed));
            button->setEnabled(true);
        }
    } else if (calibrationRunning) {
        calibrationRunning = false;
        stage = 0;
        button->setText(tr("KB Calibration Done\nRestart Stage %1").arg(1));
        button->setEnabled(true);
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
    if (shownNode < 0)
        shownNode = node;
    if (node == shownNode)
        return On_NewDataDom9(t, wx, wy, wz, ax, ay, az, mx, my, mz);
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
    if (int(node) == shownNode)
        return margInterface;
    const auto found = nodeFilters.find(node);
    return found == nodeFilters.end() ? nullptr : found->second.get();
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
}

void MargBench::on_pushButton_CalibTest_clicked() {}

void MargBench::on_pushButton_LoadCalibData_clicked() { margInterface->Load_CalibData(); }
