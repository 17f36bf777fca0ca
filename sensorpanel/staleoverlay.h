#ifndef STALEOVERLAY_H
#define STALEOVERLAY_H

#include <QtWidgets/QWidget>

// A veil over a display whose values have stopped being live: the last picture stays visible, dimmed,
// with a word in the middle. It follows its display's size.
class StaleOverlay : public QWidget
{
    Q_OBJECT

public:
    explicit StaleOverlay(QWidget *display);

    void SetText(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QString text;
};

#endif // STALEOVERLAY_H
