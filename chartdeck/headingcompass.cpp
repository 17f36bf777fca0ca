#include "headingcompass.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <qwt_painter.h>
#include <qwt_scale_map.h>

HeadingCompass::HeadingCompass(QWidget *parent)
    : QwtCompass(parent)
{
}

void HeadingCompass::paintEvent(QPaintEvent *event)
{
    if (mode() != RotateScale) {
        QwtCompass::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());

    QStyleOption opt;
    opt.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &opt, &painter, this);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    drawContents(&painter);
    painter.restore();

    const QRect r = contentsRect();
    if (frameCache.size() != r.size() || cachedLineWidth != lineWidth() || cachedShadow != frameShadow()) {
        cachedLineWidth = lineWidth();
        cachedShadow = frameShadow();
        frameCache = QwtPainter::backingStore(this, r.size());
        frameCache.fill(Qt::transparent);
        QPainter p(&frameCache);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.translate(-r.topLeft());
        if (lineWidth() > 0)
            drawFrame(&p);
    }
    painter.drawPixmap(r.topLeft(), frameCache);
    // A needle turns with the value, so it is never cached.
    if (needle() && isValid()) {
        const QPalette::ColorGroup group =
            !isEnabled() ? QPalette::Disabled : hasFocus() ? QPalette::Active : QPalette::Inactive;
        const QRectF sr = scaleInnerRect();
        painter.setRenderHint(QPainter::Antialiasing, true);
        drawNeedle(&painter, sr.center(), 0.5 * sr.width(), scaleMap().transform(value()) + 270.0, group);
    }
    if (hasFocus())
        drawFocusIndicator(&painter);
}

void HeadingCompass::changeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::EnabledChange:
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
    case QEvent::LanguageChange:
    case QEvent::LocaleChange: frameCache = QPixmap(); break;
    default: break;
    }
    QwtCompass::changeEvent(event);
}
