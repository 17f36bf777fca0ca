#include "plotrecipe.h"

#include "chartdeck.h"

#include <QtCore/QCoreApplication>

namespace {

const QColor kCurveColors[3] = {QColor(250, 110, 190, 210), QColor(150, 220, 80, 210), QColor(0, 210, 255, 210)};

std::string Translated(const char *context, const char *text)
{
    return QCoreApplication::translate(context, text).toLatin1().toStdString();
}

} // namespace

void AddPlotFromRecipe(ChartDeck *deck, const PlotRecipe &plot, unsigned capacity, double yMin, double yMax,
                       const char *context)
{
    const std::string name = plot.name;
    deck->Create_PlotDisplay(name, Translated(context, plot.title), false);
    deck->SetAxisX_PlotDisplay(name, Translated(context, plot.axisX), plot.xMin, plot.xMax);
    deck->SetAxisY_PlotDisplay(name, Translated(context, plot.axisY), yMin, yMax);
    deck->SetRefreshRate_PlotDisplay(name, plot.refreshMs);
    for (const CurveRecipe &curve : plot.curves)
        deck->AddCurve_PlotDisplay(name, curve.name, Translated(context, curve.title), capacity, QColor(Qt::white));
    for (int i = 0; i < 3; ++i)
        deck->SetCurveStyle_PlotDisplay(name, plot.curves[i].name, kCurveColors[i], 2);
}

void FeedPlanes(ChartDeck *deck, const char *plot, const char *const curves[3], float x, float y, float z)
{
    deck->SetValue_PlotDisplay(plot, curves[0], y, x);
    deck->SetValue_PlotDisplay(plot, curves[1], z, y);
    deck->SetValue_PlotDisplay(plot, curves[2], z, x);
}
