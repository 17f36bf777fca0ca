#include "glcanvas.h"

#include <qwt_plot.h>

#include <QPaintEvent>
#include <QPainter>

GLCanvas::GLCanvas(QwtPlot *plot)
    : QwtPlotGLCanvas(plot)
{}

void GLCanvas::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setClipRegion(event->region());
    if (auto *plot = qobject_cast<QwtPlot *>(parentWidget()))
        plot->drawCanvas(&painter);
    // Through the pixel centres: the OpenGL engine drops lines that lie exactly on pixel edges.
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1.0));
    painter.drawRect(QRectF(0.5, 0.5, width() - 1, height() - 1));
}
