#include "plot.h"

#include "fifobuffer.h"
#include "glcanvas.h"

#include <qwt_painter.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_layout.h>
#include <qwt_plot_legenditem.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_widget.h>

#include <QMetaObject>
#include <QTimerEvent>

namespace {

QwtPlotCanvas *newSoftwareCanvas()
{
    auto *canvas = new QwtPlotCanvas;
    canvas->setFrameStyle(QFrame::Box | QFrame::Plain);
    canvas->setLineWidth(1);
    return canvas;
}

} // namespace

Plot::Plot(const QString &title, QWidget *parent)
    : QwtPlot(parent)
    , grid(new QwtPlotGrid)
{
    setTitle(title);
    setCanvas(newSoftwareCanvas());
    for (int axis = 0; axis < QwtPlot::axisCnt; ++axis) {
        axisWidget(axis)->setMargin(0);
        axisScaleDraw(axis)->enableComponent(QwtAbstractScaleDraw::Backbone, false);
    }
    plotLayout()->setAlignCanvasToScales(true);
    grid->attach(this);
    setAxisTitle(QwtPlot::xBottom, tr("X"));
    setAxisTitle(QwtPlot::yLeft, tr("Y"));
    setAxisScale(QwtPlot::xBottom, -100.0, 100.0);
    setAxisScale(QwtPlot::yLeft, -100.0, 100.0);
    Set_PlotSettings(PlotSettings());
}

Plot::~Plot()
{
    // Detached first, so that QwtPlot does not delete them a second time.
    for (auto &entry : curveMap) {
        entry.second.curve->detach();
        delete entry.second.curve;
    }
    curveMap.clear();
    grid->detach();
    delete grid;
    if (legend) {
        legend->detach();
        delete legend;
    }
}

void Plot::UpdateLegend()
{
    if (curveMap.size() >= 2 && !legend) {
        legend = new QwtPlotLegendItem;
        legend->setAlignment(Qt::AlignTop | Qt::AlignRight);
        legend->setMaxColumns(3);
        legend->setMargin(2);
        legend->setItemMargin(1);
        legend->setSpacing(6); // between the entries of a row
        legend->setItemSpacing(3);
        legend->setBorderRadius(3);
        legend->setBackgroundBrush(QColor(30, 30, 30, 170));
        legend->setTextPen(QColor(235, 235, 235));
        QFont small = font();
        small.setPointSize(7);
        legend->setFont(small);
        legend->attach(this);
    } else if (curveMap.size() < 2 && legend) {
        legend->detach();
        delete legend;
        legend = nullptr;
    }
}

bool Plot::addCurve(const std::string &curveName, const std::string &curveTitle, quint32 capacity,
                    const QColor &color)
{
    if (curveMap.count(curveName) != 0)
        return false;

    auto *buffer = new FifoBuffer(capacity);
    buffer->setPlaceholdersHidden(true);
    auto *curve = new QwtPlotCurve(QString::fromStdString(curveTitle));
    curve->setData(buffer);
    curve->setPen(color, 0.0, Qt::SolidLine);
    curve->attach(this);

    CurveSettings record;
    record.curve = curve;
    record.pen.setColor(color);
    record.fifoSize = capacity;
    record.title = curveTitle;
    record.buffer = buffer;
    curveMap.emplace(curveName, record);

    Set_CurveSettings(curveName);
    UpdateLegend();
    return true;
}

void Plot::deleteCurve(const std::string &curveName)
{
    const auto it = curveMap.find(curveName);
    if (it == curveMap.end())
        return;
    it->second.curve->detach();
    delete it->second.curve; // the curve owns the buffer
    curveMap.erase(it);
    UpdateLegend();
}

CurveSettings *Plot::curveSettings(const std::string &curveName)
{
    const auto it = curveMap.find(curveName);
    return it == curveMap.end() ? nullptr : &it->second;
}

void Plot::Set_PlotSettings(const PlotSettings &plotSettings)
{
    if (refreshTimerId != -1)
        killTimer(refreshTimerId);
    refreshTimerId = startTimer(plotSettings.refreshInterval, Qt::CoarseTimer);
    if (refreshTimerId == 0) // a negative period: Qt refuses the timer
        refreshTimerId = -1;

    grid->setPen(plotSettings.gridPen);
    grid->setVisible(plotSettings.gridPen.style() != Qt::NoPen);

    if (!plotSettings.openGL) {
        auto *softwareCanvas = qobject_cast<QwtPlotCanvas *>(canvas());
        if (softwareCanvas == nullptr) {
            softwareCanvas = newSoftwareCanvas();
            softwareCanvas->setPalette(QPalette(Qt::white));
            setCanvas(softwareCanvas);
        }
        softwareCanvas->setAttribute(Qt::WA_PaintOnScreen, plotSettings.paintOnScreen);
        softwareCanvas->setPaintAttribute(QwtPlotCanvas::BackingStore, plotSettings.backingStore);
        softwareCanvas->setPaintAttribute(QwtPlotCanvas::ImmediatePaint, plotSettings.immediatePaint);
    } else if (qobject_cast<QwtPlotGLCanvas *>(canvas()) == nullptr) {
        auto *glCanvas = new GLCanvas;
        glCanvas->setContentsMargins(1, 1, 1, 1);
        glCanvas->setPalette(QPalette(QColor(85, 85, 85)));
        setCanvas(glCanvas);
    }

    settings = plotSettings;
}

void Plot::Set_CurveSettings(const std::string &curveName)
{
    CurveSettings *record = curveSettings(curveName);
    if (record == nullptr)
        return;

    // Compared with the capacity, not with the number of samples: after a capacity was lowered the old
    // samples are still there, and raising it back must not be mistaken for "unchanged".
    if (record->fifoSize != record->buffer->capacity())
        record->buffer->setCapacity(record->fifoSize);

    QwtPlotCurve *curve = record->curve;
    curve->setPen(record->pen);
    curve->setBrush(record->brush);
    curve->setPaintAttribute(QwtPlotCurve::ClipPolygons,
                             (record->paintAttributes & CurveSettings::ClipPolygons) != 0);
    curve->setPaintAttribute(QwtPlotCurve::FilterPoints,
                             (record->paintAttributes & CurveSettings::FilterPoints) != 0);
    curve->setRenderHint(QwtPlotItem::RenderAntialiased,
                         (record->renderHints & CurveSettings::Antialiased) != 0);
    QwtPainter::setPolylineSplitting(record->polylineSplitting);
}

void Plot::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != refreshTimerId) {
        QwtPlot::timerEvent(event);
        return;
    }
    if (settings.fullReplot != 0)
        replot();
    else
        QMetaObject::invokeMethod(canvas(), "replot", Qt::DirectConnection);
}
