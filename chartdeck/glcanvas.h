#ifndef GLCANVAS_H
#define GLCANVAS_H

#include "chartdeck_global.h"

#include <qwt_plot_glcanvas.h>

// OpenGL canvas that draws only the plot items and a one-pixel border.
class CHARTDECK_EXPORT GLCanvas : public QwtPlotGLCanvas
{
    Q_OBJECT

public:
    explicit GLCanvas(QwtPlot *plot = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

#endif // GLCANVAS_H
