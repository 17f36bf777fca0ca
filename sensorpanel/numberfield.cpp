#include "numberfield.h"

#include <QtCore/QTimer>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QToolTip>

namespace {

const char *const kRefusedStyle = "border: 1px solid #ff6a50;";

// The text without the box's prefix and suffix.
QString Bare(const QString &text, const QString &prefix, const QString &suffix)
{
    QString bare = text.trimmed();
    if (!prefix.isEmpty() && bare.startsWith(prefix, Qt::CaseInsensitive))
        bare.remove(0, prefix.size());
    if (!suffix.isEmpty() && bare.endsWith(suffix))
        bare.chop(suffix.size());
    return bare.trimmed();
}

// Shows why the field refused what was typed, at the field, until a value is accepted.
template <typename Box>
void ShowRefusal(Box *box, const QString &why)
{
    box->setStyleSheet(QString::fromLatin1(kRefusedStyle));
    box->setToolTip(why);
    QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), why, box);
}

template <typename Box>
void ClearRefusal(Box *box, QString *refusal)
{
    if (refusal->isEmpty())
        return;
    refusal->clear();
    box->setStyleSheet(QString());
    box->setToolTip(QString());
}

// A printable key that left the text as it was has been refused by the field.
template <typename Box, typename Base>
void KeyPress(Box *box, QKeyEvent *event, Base base, const QString &range)
{
    const QString before = box->text();
    base(event);
    const QString typed = event->text();
    if (!typed.isEmpty() && typed.at(0).isPrint() && box->text() == before &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())),
                           QSpinBox::tr("\"%1\" cannot be typed here: %2.").arg(typed, range), box);
}

} // namespace

NumberSpinBox::NumberSpinBox(QWidget *parent)
    : QSpinBox(parent)
{
    setKeyboardTracking(false);
    connect(this, QOverload<int>::of(&QSpinBox::valueChanged), this, [this] { ClearRefusal(this, &refusal); });
}

QValidator::State NumberSpinBox::validate(QString &text, int &pos) const
{
    const QValidator::State state = QSpinBox::validate(text, pos);
    if (state != QValidator::Invalid)
        return state;
    // A whole number out of range may stand while it is typed; it is refused when committed.
    bool ok = false;
    Bare(text, prefix(), suffix()).toLongLong(&ok, displayIntegerBase());
    return ok ? QValidator::Intermediate : QValidator::Invalid;
}

void NumberSpinBox::fixup(QString &input) const
{
    const QString bare = Bare(input, prefix(), suffix());
    const QString low = textFromValue(minimum()), high = textFromValue(maximum());
    refusal = bare.isEmpty() ? tr("No number was typed; nothing was sent.")
                             : tr("%1%2 is not a value from %1%3 to %1%4; nothing was sent.")
                                   .arg(prefix(), bare, low, high);
    // The box goes back to its value right after this; the word stays on the field.
    auto *self = const_cast<NumberSpinBox *>(this);
    const QString why = refusal;
    QTimer::singleShot(0, self, [self, why] { ShowRefusal(self, why); });
    QSpinBox::fixup(input);
}

void NumberSpinBox::keyPressEvent(QKeyEvent *event)
{
    KeyPress(this, event, [this](QKeyEvent *e) { QSpinBox::keyPressEvent(e); },
             tr("whole numbers from %1%2 to %1%3").arg(prefix(), textFromValue(minimum()), textFromValue(maximum())));
}

NumberDoubleSpinBox::NumberDoubleSpinBox(QWidget *parent)
    : QDoubleSpinBox(parent)
{
    setKeyboardTracking(false);
    connect(this, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            [this] { ClearRefusal(this, &refusal); });
}

QValidator::State NumberDoubleSpinBox::validate(QString &text, int &pos) const
{
    // A comma is taken as the decimal point, whatever the keyboard's habit.
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    const QValidator::State state = QDoubleSpinBox::validate(text, pos);
    if (state != QValidator::Invalid)
        return state;
    bool ok = false;
    const QString bare = Bare(text, prefix(), suffix());
    bare.toDouble(&ok);
    // Out of range while typed is allowed; too many decimals is not.
    const int point = bare.indexOf(QLatin1Char('.'));
    const bool fitsDecimals = point < 0 || bare.size() - point - 1 <= decimals();
    return ok && fitsDecimals ? QValidator::Intermediate : QValidator::Invalid;
}

double NumberDoubleSpinBox::valueFromText(const QString &text) const
{
    QString dotted = text;
    dotted.replace(QLatin1Char(','), QLatin1Char('.'));
    return QDoubleSpinBox::valueFromText(dotted);
}

void NumberDoubleSpinBox::fixup(QString &input) const
{
    const QString bare = Bare(input, prefix(), suffix());
    refusal = bare.isEmpty() ? tr("No number was typed; nothing was sent.")
                             : tr("%1 is not a value from %2 to %3; nothing was sent.")
                                   .arg(bare, textFromValue(minimum()), textFromValue(maximum()));
    auto *self = const_cast<NumberDoubleSpinBox *>(this);
    const QString why = refusal;
    QTimer::singleShot(0, self, [self, why] { ShowRefusal(self, why); });
    QDoubleSpinBox::fixup(input);
}

void NumberDoubleSpinBox::keyPressEvent(QKeyEvent *event)
{
    KeyPress(this, event, [this](QKeyEvent *e) { QDoubleSpinBox::keyPressEvent(e); },
             tr("numbers from %1 to %2 with at most %3 decimals")
                 .arg(textFromValue(minimum()), textFromValue(maximum()))
                 .arg(decimals()));
}
