#include "darkpalette.h"
#include "gyrovane.h"
#include "numberconventions.h"
#include "settingsapplier.h"

#include <QtCore/QTextStream>
#include <QtCore/QTimer>

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
    // For scripted checks (the package test): the window is shown, then closed as a user would.
    const QStringList arguments = QCoreApplication::arguments();
    const int quitAt = arguments.indexOf(QStringLiteral("--quit-after"));
    if (quitAt > 0 && quitAt + 1 < arguments.size()) {
        bool ok = false;
        const double seconds = arguments[quitAt + 1].toDouble(&ok);
        if (ok && seconds >= 0)
            QTimer::singleShot(int(seconds * 1000), window, &QWidget::close);
    }
    const int result = app.exec();
    delete window;
    return result;
}
