#include "darkpalette.h"
#include "gyrovane.h"
#include "numberconventions.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ApplyNumberConventions();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(GyrovaneDarkPalette());

    auto *window = new Gyrovane;
    window->show();
    const int result = app.exec();
    delete window;
    return result;
}
