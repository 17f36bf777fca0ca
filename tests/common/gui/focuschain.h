#ifndef FOCUSCHAIN_H
#define FOCUSCHAIN_H

#include <QtCore/QString>

class QWidget;

// Presses Tab from `first` until the focus comes back to it: every visible, enabled control of
// `window` that takes the focus by Tab must be visited exactly once (of a group of radio buttons the
// checked one), and Shift+Tab from `first` must go back to the last one. Empty when so; else what
// went wrong (the focus vanished, a control twice, the controls never reached).
QString FocusChainFault(QWidget *window, QWidget *first);

#endif // FOCUSCHAIN_H
