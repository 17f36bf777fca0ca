#include "chartdeck.h"
#include "ui_chartdeck.h"

#include "attitudeindicator.h"
#include "headingcompass.h"
#include "fifobuffer.h"
#include "plot.h"

#include <qwt_compass.h>
#include <qwt_compass_rose.h>
#include <qwt_round_scale_draw.h>
#include <qwt_text.h>

#include <QCloseEvent>

#include <cmath>

namespace {

QString fromLatin1(const std::string &text) { return QString::fromLatin1(text.data(), int(text.size())); }

std::string translated(const char *text) { return ChartDeck::tr(text).toLatin1().toStdString(); }

void prepareInstrument(QwtDial *dial)
{
    dial->setMinimumSize(230, 230);
    dial->setSizePolicy(QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding));
    dial->setReadOnly(true);
    dial->setFocusPolicy(Qt::NoFocus); // an instrument to read, nothing to operate with the keyboard
}

} // namespace

ChartDeck::ChartDeck(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::ChartDeck)
{
    ui->setupUi(this);
    for (QPushButton *button :
         {ui->pushButton_Reset, ui->pushButton_Test, ui->pushButton_Test1, ui->pushButton_Test2}) {
        button->hide();
        button->setEnabled(false);
    }
    ui->horizontalLayout->setSpacing(0);
    ui->horizontalLayout->setContentsMargins(0, 0, 0, 0);
    setAutoFillBackground(true);
    setPalette(colorTheme(QColor(Qt::darkGray).darker(150)));
}

ChartDeck::~ChartDeck()
{
    delete attitudeDial;
    delete compass;
    delete ui;
}

Plot *ChartDeck::findPlot(const std::string &name) const
{
    const auto it = plotRegistry.find(name);
    return it == plotRegistry.end() ? nullptr : it->second;
}

CurveSettings *ChartDeck::findCurve(const std::string &plotName, const std::string &curveName) const
{
    Plot *plot = findPlot(plotName);
    return plot == nullptr ? nullptr : plot->curveSettings(curveName);
}

void ChartDeck::Create_PlotDisplay(const std::string &name, const std::string &title, bool openGL)
{
    if (plotRegistry.count(name) != 0)
        return;

    auto *plot = new Plot(fromLatin1(title), this);
    plot->setObjectName(fromLatin1(name));
    PlotSettings settings;
    settings.gridPen = QPen(Qt::white, 1.0, Qt::DashLine);
    settings.gridPen.setCosmetic(true);
    settings.backingStore = false;
    settings.paintOnScreen = false;
    settings.immediatePaint = true;
    settings.openGL = openGL;
    settings.fullReplot = 0;
    settings.refreshInterval = 20;
    plot->Set_PlotSettings(settings);

    plotRegistry[name] = plot;
    ui->verticalLayout->addWidget(plot, 1); // plots share the height equally
    plotShown[name] = true;
}

void ChartDeck::Delete_PlotDisplay(const std::string &name)
{
    Plot *plot = findPlot(name);
    if (plot == nullptr)
        return;
    ui->verticalLayout->removeWidget(plot);
    delete plot;
    plotRegistry.erase(name);
    plotShown.erase(name);
}

void ChartDeck::Show_PlotDisplay(const std::string &name)
{
    Plot *plot = findPlot(name);
    if (plot == nullptr || plotShown[name])
        return;
    ui->verticalLayout->addWidget(plot, 1);
    plot->show();
    plotShown[name] = true;
}

void ChartDeck::Hide_PlotDisplay(const std::string &name)
{
    Plot *plot = findPlot(name);
    if (plot == nullptr || !plotShown[name])
        return;
    ui->verticalLayout->removeWidget(plot);
    plot->hide();
    plotShown[name] = false;
}

void ChartDeck::setAxis(const std::string &name, int axis, const std::string &axisTitle, double min,
                        double max)
{
    Plot *plot = findPlot(name);
    if (plot == nullptr)
        return;
    plot->setAxisTitle(axis, fromLatin1(axisTitle));
    plot->setAxisScale(axis, min, max);
    // The refresh tick repaints only the canvas; the scales must be redrawn here.
    plot->replot();
}

void ChartDeck::SetAxisX_PlotDisplay(const std::string &name, const std::string &axisTitle, double min,
                                     double max)
{
    setAxis(name, QwtPlot::xBottom, axisTitle, min, max);
}

void ChartDeck::SetAxisY_PlotDisplay(const std::string &name, const std::string &axisTitle, double min,
                                     double max)
{
    setAxis(name, QwtPlot::yLeft, axisTitle, min, max);
}

void ChartDeck::SetRefreshRate_PlotDisplay(const std::string &name, int interval)
{
    Plot *plot = findPlot(name);
    if (plot == nullptr)
        return;
    PlotSettings settings = plot->plotSettings();
    settings.refreshInterval = interval;
    plot->Set_PlotSettings(settings);
}

void ChartDeck::AddCurve_PlotDisplay(const std::string &plotName, const std::string &curveName,
                                     const std::string &curveTitle, unsigned int capacity,
                                     const QColor &color)
{
    if (Plot *plot = findPlot(plotName))
        plot->addCurve(curveName, curveTitle, capacity, color);
}

void ChartDeck::DeleteCurve_PlotDisplay(const std::string &plotName, const std::string &curveName)
{
    if (Plot *plot = findPlot(plotName))
        plot->deleteCurve(curveName);
}

void ChartDeck::SetCurveStyle_PlotDisplay(const std::string &plotName, const std::string &curveName,
                                          const QColor &color, int width)
{
    Plot *plot = findPlot(plotName);
    CurveSettings *record = plot == nullptr ? nullptr : plot->curveSettings(curveName);
    if (record == nullptr)
        return;
    record->pen.setColor(color);
    record->pen.setWidth(qMax(0, width));
    plot->Set_CurveSettings(curveName);
}

void ChartDeck::SetCurveFifoSize_PlogDisplay(const std::string &plotName, const std::string &curveName,
                                             unsigned int size)
{
    Plot *plot = findPlot(plotName);
    CurveSettings *record = plot == nullptr ? nullptr : plot->curveSettings(curveName);
    if (record == nullptr)
        return;
    record->fifoSize = size;
    plot->Set_CurveSettings(curveName);
}

void ChartDeck::SetValue_PlotDisplay(const std::string &plotName, const std::string &curveName, double value,
                                     double time)
{
    if (CurveSettings *record = findCurve(plotName, curveName))
        record->buffer->append(value, time);
}

void ChartDeck::SetTimestamp_PlotDisplay(const std::string &plotName, quint32 timestamp)
{
    if (Plot *plot = findPlot(plotName)) {
        for (auto &entry : plot->curves())
            entry.second.buffer->setBaseTimestamp(timestamp);
    }
}

void ChartDeck::Set_XY_Mode(const std::string &plotName, bool on)
{
    if (Plot *plot = findPlot(plotName)) {
        for (auto &entry : plot->curves())
            entry.second.buffer->setXyMode(on);
    }
}

void ChartDeck::FillCurve_SineWave_PlotDisplay(const std::string &plotName, const std::string &curveName,
                                               double phase)
{
    CurveSettings *record = findCurve(plotName, curveName);
    if (record == nullptr)
        return;
    FifoBuffer *buffer = record->buffer;
    const quint32 capacity = buffer->capacity();
    for (quint32 i = 0; i < capacity; ++i)
        buffer->append(std::sin(phase + (i / 1000.0) * 3.14 * 2.0), -(i / 10.0));
}

void ChartDeck::Set_Title_Font_PlotDisplay(const QFont &font)
{
    for (auto &entry : plotRegistry) {
        QwtText title = entry.second->title();
        title.setFont(font);
        entry.second->setTitle(title);
    }
}

void ChartDeck::Set_Axis_TitleFont_PlotDisplay(const QFont &font)
{
    for (auto &entry : plotRegistry) {
        for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
            QwtText title = entry.second->axisTitle(axis);
            title.setFont(font);
            entry.second->setAxisTitle(axis, title);
        }
    }
}

void ChartDeck::Set_Axis_ScaleFont_PlotDisplay(const QFont &font)
{
    for (auto &entry : plotRegistry) {
        entry.second->setAxisFont(QwtPlot::xBottom, font);
        entry.second->setAxisFont(QwtPlot::yLeft, font);
    }
}

void ChartDeck::Set_Canvas_MinimumSize_PlotDisplay(const QSize &size)
{
    for (auto &entry : plotRegistry) {
        entry.second->setSizePolicy(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding));
        entry.second->setMinimumSize(size);
    }
}

QPalette ChartDeck::colorTheme(const QColor &base)
{
    QPalette palette;
    palette.setBrush(QPalette::Base, base);
    palette.setBrush(QPalette::Window, QColor(53, 53, 53));
    palette.setBrush(QPalette::Mid, base.darker(110));
    palette.setBrush(QPalette::Light, base.lighter(170));
    palette.setBrush(QPalette::Dark, base.darker(170));
    palette.setBrush(QPalette::Text, base.darker(200).lighter(800));
    palette.setBrush(QPalette::WindowText, base.darker(200));
    return palette;
}

void ChartDeck::closeEvent(QCloseEvent *event)
{
    emit Sig_Quit();
    event->accept();
}

void ChartDeck::Create_AttitudeDisplay()
{
    if (attitudeDial != nullptr)
        return;
    attitudeDial = new AttitudeIndicator(this);
    attitudeDial->scaleDraw()->setPenWidth(3);
    prepareInstrument(attitudeDial);
    ui->horizontalLayout->addWidget(attitudeDial);
    attitudeShown = true;
}

void ChartDeck::Delete_AttitudeDisplay()
{
    if (attitudeDial == nullptr)
        return;
    Hide_AttitudeDisplay();
    delete attitudeDial;
    attitudeDial = nullptr;
    attitudeShown = false;
}

void ChartDeck::Show_AttitudeDisplay()
{
    if (attitudeShown || attitudeDial == nullptr)
        return;
    ui->horizontalLayout->addWidget(attitudeDial);
    attitudeDial->show();
    attitudeShown = true;
}

void ChartDeck::Hide_AttitudeDisplay()
{
    if (!attitudeShown || attitudeDial == nullptr)
        return;
    ui->horizontalLayout->removeWidget(attitudeDial);
    attitudeDial->hide();
    attitudeShown = false;
}

void ChartDeck::Setvalue_AttitudeDisplay(double roll, double pitch)
{
    if (attitudeDial == nullptr)
        return;
    if (std::isfinite(roll)) {
        // On the 0..360 scale a roll below zero is the same angle from 360 down (-25 shows as 335).
        if (fullCircleRoll) {
            roll = std::fmod(roll, 360.0);
            if (roll < 0.0)
                roll += 360.0;
        }
        attitudeDial->setValue(roll);
    }
    attitudeDial->setGradient(pitch);
}

void ChartDeck::Setmode_AttitudeDisplay(bool fullCircle)
{
    if (attitudeDial == nullptr)
        return;
    fullCircleRoll = fullCircle;
    if (fullCircle)
        attitudeDial->setScale(0.0, 360.0);
    else
        attitudeDial->setScale(-180.0, 179.999999);
}

void ChartDeck::Create_CompassDisplay()
{
    if (compass != nullptr)
        return;
    compass = new HeadingCompass(this);
    compass->setMode(QwtDial::RotateScale);
    compass->setLineWidth(10);
    compass->setFrameShadow(QwtDial::Sunken);
    auto *rose = new QwtSimpleCompassRose(16, 2);
    rose->setWidth(0.1);
    compass->setRose(rose);
    prepareInstrument(compass);
    ui->horizontalLayout->addWidget(compass);
    compassShown = true;
}

void ChartDeck::Delete_CompassDisplay()
{
    if (compass == nullptr)
        return;
    Hide_CompassDisplay();
    delete compass;
    compass = nullptr;
    compassShown = false;
}

void ChartDeck::Show_CompassDisplay()
{
    if (compassShown || compass == nullptr)
        return;
    ui->horizontalLayout->addWidget(compass);
    compass->show();
    compassShown = true;
}

void ChartDeck::Hide_CompassDisplay()
{
    if (!compassShown || compass == nullptr)
        return;
    ui->horizontalLayout->removeWidget(compass);
    compass->hide();
    compassShown = false;
}

void ChartDeck::Setvalue_CompassDisplay(double heading)
{
    if (compass != nullptr && std::isfinite(heading))
        compass->setOrigin(630.0 - heading);
}

void ChartDeck::on_pushButton_Reset_clicked()
{
    const std::string time = translated("Time (ms)");
    const std::string raw = translated("Raw Data");

    Create_AttitudeDisplay();
    Create_CompassDisplay();

    Create_PlotDisplay("Accel", translated("Accelerometer"), true);
    SetAxisX_PlotDisplay("Accel", time, -100.0, 0.0);
    SetAxisY_PlotDisplay("Accel", raw, -1.0, 1.0);
    AddCurve_PlotDisplay("Accel", "AccX", translated("Acc X"), 1000, QColor("green"));
    SetCurveStyle_PlotDisplay("Accel", "AccX", QColor(0, 210, 255), 3);
    SetCurveFifoSize_PlogDisplay("Accel", "AccX", 800);
    FillCurve_SineWave_PlotDisplay("Accel", "AccX", 0.0);

    Create_PlotDisplay("Gyro", translated("Gyroscope"), true);
    SetAxisX_PlotDisplay("Gyro", time, -100.0, 10.0);
    SetAxisY_PlotDisplay("Gyro", raw, -1.0, 2.0);
}

void ChartDeck::on_pushButton_Test_clicked()
{
    Hide_CompassDisplay();
    Setvalue_AttitudeDisplay(10.2, 30.1);
    if (compass != nullptr)
        compass->setOrigin(630.0);
    Hide_AttitudeDisplay();
    Show_AttitudeDisplay();

    for (int i = 0; i < 300; ++i)
        SetValue_PlotDisplay("Accel", "AccX", i * (i / 300.0) / 300.0, -i / 10.0);
    SetCurveFifoSize_PlogDisplay("Accel", "AccX", 20);
    for (int i = 0; i < 300; ++i)
        SetValue_PlotDisplay("Accel", "AccX", i * (i / 300.0) / 300.0 / 2.0, -i / 10.0);

    AddCurve_PlotDisplay("Gyro", "GryoX", translated("Gyro X"), 1000, QColor("green"));
    SetCurveStyle_PlotDisplay("Gyro", "GryoX", QColor(0, 210, 255), 10);
    FillCurve_SineWave_PlotDisplay("Gyro", "GryoX", 1.5707963268);
    AddCurve_PlotDisplay("Gyro", "GryoY", translated("Gyro Y"), 1000, QColor("blue"));
    FillCurve_SineWave_PlotDisplay("Gyro", "GryoY", 0.7853981634);
    AddCurve_PlotDisplay("Accel", "AccY", translated("Acc Y"), 1000, QColor("green"));
    FillCurve_SineWave_PlotDisplay("Accel", "AccY", -0.7853981634);
}

void ChartDeck::on_pushButton_Test1_clicked()
{
    Show_PlotDisplay("Gyro");
    Show_AttitudeDisplay();
    Show_CompassDisplay();
}

void ChartDeck::on_pushButton_Test2_clicked()
{
    Hide_PlotDisplay("Gyro");
    Hide_AttitudeDisplay();
    Hide_CompassDisplay();
}
