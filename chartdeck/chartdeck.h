#ifndef CHARTDECK_H
#define CHARTDECK_H

#include "chartdeck_global.h"

#include <QMainWindow>
#include <QPalette>

#include <map>
#include <string>

class AttitudeIndicator;
class Plot;
class QwtCompass;
struct CurveSettings;

namespace Ui {
class ChartDeck;
}

// Window of named strip-chart plots, stacked vertically, with an attitude dial and a compass below them.
// Callers address plots and curves by name only; an unknown name makes any operation a silent no-op.
// Titles are Latin-1 text.
class CHARTDECK_EXPORT ChartDeck : public QMainWindow
{
    Q_OBJECT

public:
    explicit ChartDeck(QWidget *parent = nullptr);
    ~ChartDeck() override;

    // A name in use keeps its plot and settings.
    void Create_PlotDisplay(const std::string &name, const std::string &title, bool openGL);
    void Delete_PlotDisplay(const std::string &name);
    // Showing puts the plot at the bottom of the stack.
    void Show_PlotDisplay(const std::string &name);
    void Hide_PlotDisplay(const std::string &name);
    void SetAxisX_PlotDisplay(const std::string &name, const std::string &axisTitle, double min, double max);
    void SetAxisY_PlotDisplay(const std::string &name, const std::string &axisTitle, double min, double max);
    // Refresh period in milliseconds.
    void SetRefreshRate_PlotDisplay(const std::string &name, int interval);

    // The new curve starts full: capacity samples at value 0.
    void AddCurve_PlotDisplay(const std::string &plotName, const std::string &curveName,
                              const std::string &curveTitle, unsigned int capacity, const QColor &color);
    void DeleteCurve_PlotDisplay(const std::string &plotName, const std::string &curveName);
    void SetCurveStyle_PlotDisplay(const std::string &plotName, const std::string &curveName,
                                   const QColor &color, int width);
    void SetCurveFifoSize_PlogDisplay(const std::string &plotName, const std::string &curveName,
                                      unsigned int size);
    // Y-t mode: value over time (microseconds); XY mode: value vertical, time horizontal.
    void SetValue_PlotDisplay(const std::string &plotName, const std::string &curveName, double value,
                              double time);
    // Time origin (microseconds) of the curves that exist now.
    void SetTimestamp_PlotDisplay(const std::string &plotName, quint32 timestamp);
    void Set_XY_Mode(const std::string &plotName, bool on);
    void FillCurve_SineWave_PlotDisplay(const std::string &plotName, const std::string &curveName,
                                        double phase);

    // These act on the plots that exist when they are called.
    void Set_Title_Font_PlotDisplay(const QFont &font);
    void Set_Axis_TitleFont_PlotDisplay(const QFont &font);
    void Set_Axis_ScaleFont_PlotDisplay(const QFont &font);
    void Set_Canvas_MinimumSize_PlotDisplay(const QSize &size);

    static QPalette colorTheme(const QColor &base);

    void Create_AttitudeDisplay();
    void Delete_AttitudeDisplay();
    void Show_AttitudeDisplay();
    void Hide_AttitudeDisplay();
    // Roll and pitch in degrees.
    void Setvalue_AttitudeDisplay(double roll, double pitch);
    // true: roll scale 0 .. 360; false: -180 .. 180.
    void Setmode_AttitudeDisplay(bool fullCircle);

    void Create_CompassDisplay();
    void Delete_CompassDisplay();
    void Show_CompassDisplay();
    void Hide_CompassDisplay();
    // Heading in degrees; the rose turns so that the heading is at the top.
    void Setvalue_CompassDisplay(double heading);

signals:
    void Sig_Quit();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    // A fixed self-demonstration; the buttons are hidden and disabled.
    void on_pushButton_Reset_clicked();
    void on_pushButton_Test_clicked();
    void on_pushButton_Test1_clicked();
    void on_pushButton_Test2_clicked();

private:
    Plot *findPlot(const std::string &name) const;
    CurveSettings *findCurve(const std::string &plotName, const std::string &curveName) const;
    void setAxis(const std::string &name, int axis, const std::string &axisTitle, double min, double max);

    Ui::ChartDeck *ui;
    AttitudeIndicator *attitudeDial = nullptr;
    bool fullCircleRoll = false; // the roll scale runs 0 .. 360
    bool attitudeShown = false;
    QwtCompass *compass = nullptr;
    bool compassShown = false;
    std::map<std::string, Plot *> plotRegistry;
    std::map<std::string, bool> plotShown;
};

#endif // CHARTDECK_H
