#ifndef PLOT_H
#define PLOT_H

#include "chartdeck_global.h"
#include "curvesettings.h"
#include "plotsettings.h"

#include <qwt_plot.h>

#include <map>
#include <string>

class QColor;
class QwtPlotGrid;
class QwtPlotLegendItem;

// One strip chart: named curves, a grid and its own refresh timer. Samples never trigger painting; the
// timer repaints the canvas at a fixed period whatever the sample rate.
class CHARTDECK_EXPORT Plot : public QwtPlot
{
    Q_OBJECT

public:
    explicit Plot(const QString &title, QWidget *parent = nullptr);
    ~Plot() override;

    // Creates the buffer (full of (0, 0)) and the curve and applies the new record; false when the name
    // is in use, in which case the existing curve is kept as it is.
    bool addCurve(const std::string &curveName, const std::string &curveTitle, quint32 capacity,
                  const QColor &color);
    // Detaches and destroys the curve, and its buffer with it.
    void deleteCurve(const std::string &curveName);
    // The record of a curve, nullptr for an unknown name.
    CurveSettings *curveSettings(const std::string &curveName);
    std::map<std::string, CurveSettings> &curves() { return curveMap; }

    const PlotSettings &plotSettings() const { return settings; }

public slots:
    void Set_PlotSettings(const PlotSettings &plotSettings);
    void Set_CurveSettings(const std::string &curveName);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    // A plot of several curves says which colour is which, in a corner of the canvas.
    void UpdateLegend();

    std::map<std::string, CurveSettings> curveMap;
    QwtPlotGrid *grid;
    QwtPlotLegendItem *legend = nullptr;
    int refreshTimerId = -1;
    PlotSettings settings;
};

#endif // PLOT_H
