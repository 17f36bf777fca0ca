#ifndef HEADINGCOMPASS_H
#define HEADINGCOMPASS_H

#include <QPixmap>
#include <qwt_compass.h>

// The compass of the attitude window. The heading turns it through its origin, and QwtDial throws its
// whole paint cache away on every origin change: a new pixmap and the round frame stroked again, up to
// 25 times a second per window. This compass keeps the frame in its own cache, which depends only on
// the size, line width, shadow, palette, font and style, and draws the turning rose under it exactly
// as QwtDial does.
class HeadingCompass : public QwtCompass
{
public:
    explicit HeadingCompass(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QPixmap frameCache;
    int cachedLineWidth = -1;
    Shadow cachedShadow = Plain;
};

#endif // HEADINGCOMPASS_H
