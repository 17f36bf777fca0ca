#include "darkpalette.h"

#include <QtGui/QColor>

QPalette GyrovaneDarkPalette()
{
    QPalette palette;
    const QColor accent(49, 200, 250, 185);
    // Disabled text: plainly dimmer than enabled text, yet at least 3:1 against the window's grey.
    const QColor dimmed(140, 140, 140, 255);
    palette.setColor(QPalette::Window, QColor(53, 53, 53, 255));
    palette.setColor(QPalette::WindowText, QColor(245, 245, 245, 255));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, dimmed);
    palette.setColor(QPalette::Base, QColor(0, 0, 0, 255));
    palette.setColor(QPalette::AlternateBase, QColor(53, 53, 53, 255));
    palette.setColor(QPalette::ToolTipBase, QColor(245, 245, 245, 255));
    // Dark text on the light tooltip background: light on light would leave every tooltip blank.
    palette.setColor(QPalette::ToolTipText, QColor(25, 25, 25, 255));
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
