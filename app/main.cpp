#include "darkpalette.h"
#include "gyrovane.h"
#include "numberconventions.h"
#include "settingsapplier.h"

#include <QtCore/QTextStream>

#include <QtWidgets/QApplication>
#include <QtWidgets/QStyleFactory>

int main(int argc, char *argv[])
{
    // The command-line forms need no screen.
    if (SettingsApplier::Wanted(argc, argv)) {
        QCoreApplication app(argc, argv);
        ApplyNumberConventions();
        QTextStream out(stdout);
        QTextStream err(stderr);
        return SettingsApplier::Run(QCoreApplication::arguments(), out, err);
    }

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
