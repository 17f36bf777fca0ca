#include "focuschain.h"

#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QWidget>

QString FocusChainFault(QWidget *window, QWidget *first)
{
    QList<QWidget *> reachable;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        auto *radio = qobject_cast<QRadioButton *>(w);
        // Of a group of radio buttons Tab reaches the checked one; the arrow keys move within the group.
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && w->window() == window &&
            !w->focusProxy() && !(radio && !radio->isChecked()))
            reachable << w;
    }
    first->setFocus(Qt::TabFocusReason);
    if (QApplication::focusWidget() != first)
        return first->objectName() + " takes no focus";
    QList<QWidget *> visited{first};
    for (int i = 0; i < reachable.size() + 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *now = QApplication::focusWidget();
        if (!now)
            return "the focus vanished after " + visited.last()->objectName();
        if (now == first)
            break;
        if (visited.contains(now))
            return now->objectName() + " twice";
        visited << now;
    }
    if (QApplication::focusWidget() != first)
        return "Tab never came back to " + first->objectName();
    QStringList missed;
    for (QWidget *w : reachable)
        if (!visited.contains(w))
            missed << w->objectName() + "(" + w->metaObject()->className() + ")";
    if (!missed.isEmpty())
        return "never reached: " + missed.join(", ");
    QTest::keyClick(first, Qt::Key_Backtab);
    if (QApplication::focusWidget() != visited.last())
        return "Shift+Tab from " + first->objectName() + " does not go back";
    return QString();
}
