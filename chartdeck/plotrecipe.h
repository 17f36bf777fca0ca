#ifndef CHARTDECK_PLOTRECIPE_H
#define CHARTDECK_PLOTRECIPE_H

#include "chartdeck_global.h"

class ChartDeck;

// A plot of three curves described as data, so that windows declare their plots as tables.
struct CurveRecipe
{
    const char *name;
    const char *title;
};

struct PlotRecipe
{
    const char *name;
    const char *title;
    const char *axisX;
    double xMin, xMax;
    const char *axisY;
    double yMin, yMax;
    int refreshMs;
    CurveRecipe curves[3];
};

// Builds one plot on the software canvas with its three curves, first white, then in the three
// curve colours (pink, green, cyan) at width 2. Texts are translated in `context`.
CHARTDECK_EXPORT void AddPlotFromRecipe(ChartDeck *deck, const PlotRecipe &plot, unsigned capacity, double yMin,
                                        double yMax, const char *context);

// One vector on the three coordinate planes of an X-Y plot: curves X-Y, Y-Z and X-Z get the pairs
// (y, x), (z, y) and (z, x), drawn at horizontal = second, vertical = first.
CHARTDECK_EXPORT void FeedPlanes(ChartDeck *deck, const char *plot, const char *const curves[3], float x, float y,
                                 float z);

#endif // CHARTDECK_PLOTRECIPE_H
