#include "staleoverlay.h"

#include <QtCore/QEvent>
#include <QtGui/QPainter>

StaleOverlay::StaleOverlay(QWidget *display)
    : QWidget(display)
{
    setObjectName(QStringLiteral("staleOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(display->rect());
    display->installEventFilter(this);
    hide();
}

void StaleOverlay::SetText(const QString &text_i)
{
    text = text_i;
    update();
}

bool StaleOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void StaleOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(20, 20, 20, 150));
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    painter.setFont(big);
    painter.setPen(QColor(255, 106, 80));
    painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, text);
}
