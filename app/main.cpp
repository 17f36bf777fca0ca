#include "darkpalette.h"
#include "gyrovane.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(GyrovaneDarkPalette());

    auto *window = new Gyrovane;
    window->show();
    const int result = app.exec();
    delete window;
    return result;
}
