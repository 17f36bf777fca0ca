#ifndef CHILDWIDGET_H
#define CHILDWIDGET_H

#include <QtCore/QObject>
#include <QtCore/QtGlobal>
#include <QtWidgets/QWidget>

// The child of the given object name and type; a test that names a widget the form lacks stops here
// instead of crashing on a null pointer.
template <typename T>
T *Child(QObject *parent, const char *name)
{
    T *child = parent->findChild<T *>(name);
    if (!child)
        qFatal("no child %s", name);
    return child;
}

// Hidden by its window on purpose, as opposed to not shown yet because a container is hidden.
inline bool ExplicitlyHidden(const QWidget *widget)
{
    return widget->isHidden() && widget->testAttribute(Qt::WA_WState_ExplicitShowHide);
}

#endif // CHILDWIDGET_H
