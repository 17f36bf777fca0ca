#ifndef NUMBERFIELD_H
#define NUMBERFIELD_H

#include "sensorpanel_global.h"

#include <QtWidgets/QDoubleSpinBox>
#include <QtWidgets/QSpinBox>

// Spin boxes for values that go to a node. A typed number counts once, when it is committed (Enter,
// or the field losing the focus), not per keystroke; while typing, a number out of range may stand
// in the field, and committing it sends nothing: the field turns red, says why in its tool tip and
// goes back to the value it had. The arrows and the wheel still step through valid values at once.
// NumberDoubleSpinBox also takes a typed "," as the decimal point.
class SENSORPANEL_EXPORT NumberSpinBox : public QSpinBox
{
    Q_OBJECT

public:
    explicit NumberSpinBox(QWidget *parent = nullptr);

    // The last refusal, for the tool tip and the tests; empty once a value was accepted.
    QString Refusal() const { return refusal; }

protected:
    QValidator::State validate(QString &text, int &pos) const override;
    void fixup(QString &input) const override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    mutable QString refusal;
};

class SENSORPANEL_EXPORT NumberDoubleSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit NumberDoubleSpinBox(QWidget *parent = nullptr);

    QString Refusal() const { return refusal; }

    double valueFromText(const QString &text) const override;

protected:
    QValidator::State validate(QString &text, int &pos) const override;
    void fixup(QString &input) const override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    mutable QString refusal;
};

#endif // NUMBERFIELD_H
