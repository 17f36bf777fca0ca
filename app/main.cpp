#include "gyrovane.h"

#include <QtGui/QColor>
#include <QtGui/QPalette>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStyleFactory>

namespace {

// The dark look: later entries for the disabled group override the entries for all groups.
QPalette DarkPalette()
{
    QPalette palette;
    const QColor accent(49, 200, 250, 185);
    const QColor dimmed(100, 100, 100, 185);
    palette.setColor(QPalette::Window, QColor(53, 53, 53, 255));
    palette.setColor(QPalette::WindowText, QColor(245, 245, 245, 255));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, dimmed);
    palette.setColor(QPalette::Base, QColor(0, 0, 0, 255));
    palette.setColor(QPalette::AlternateBase, QColor(53, 53, 53, 255));
    palette.setColor(QPalette::ToolTipBase, QColor(245, 245, 245, 255));
    palette.setColor(QPalette::ToolTipText, QColor(245, 245, 245, 255));
    palette.setColor(QPalette::Text, QColor(245, 245, 245, 255));
    palette.setColor(QPalette::Disabled, QPalette::Text, dimmed);
    palette.setColor(QPalette::Button, QColor(53, 53, 53, 255));
    palette.setColor(QPalette::ButtonText, QColor(245, 245, 245, 255));
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Link, QColor(42, 130, 218, 255));
    palette.setColor(QPalette::LinkVisited, QColor(42, 130, 218, 255));
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Disabled, QPalette::Button, QColor(5, 5, 5, 255));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, dimmed);
    palette.setColor(QPalette::Light, accent);
    palette.setColor(QPalette::Midlight, accent);
    palette.setColor(QPalette::Dark, accent);
    palette.setColor(QPalette::Mid, accent);
    palette.setColor(QPalette::Shadow, accent);
    return palette;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(DarkPalette());

    auto *window = new Gyrovane;
    window->show();
    const int result = app.exec();
    delete window;
    return result;
}
