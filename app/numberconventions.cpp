#include "numberconventions.h"

#include <QtCore/QLocale>

#include <clocale>

void ApplyNumberConventions()
{
    QLocale dotted = QLocale::c();
    dotted.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    QLocale::setDefault(dotted);
    // printf and strtod, in Qt's plugins and the libraries below too.
    std::setlocale(LC_NUMERIC, "C");
}
