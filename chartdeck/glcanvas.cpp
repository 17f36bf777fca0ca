#include "glcanvas.h"

#include <qwt_plot.h>

#include <QPaintEvent>
#include <QPainter>

GLCanvas::GLCanvas(QwtPlot *plot)
    : QwtPlotGLCanvas(plot)
{
}

void GLCanvas::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setClipRegion(event->region());
    if (auto *plot = qobject_cast<QwtPlot *>(parentWidget()))
        plot->drawCanvas(&painter);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(0, 0, width() - 1, height() - 1);
}
