#ifndef MESSAGEBOXCATCHER_H
#define MESSAGEBOXCATCHER_H

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QTimer>
#include <QtCore/QVector>
#include <QtWidgets/QMessageBox>

// Closes every modal dialog that opens while it lives and records what it showed, so that a test can
// drive code that calls QMessageBox::exec() and assert on the texts afterwards.
//
//     MessageBoxCatcher boxes;
//     editButton->click();                         // opens a warning and blocks in exec()
//     QVERIFY(boxes.WaitForBoxes(1));
//     QCOMPARE(boxes.Last().text, QString("Invalid Input. ..."));
//
// Message boxes are answered with the answer set by SetAnswer (default: the escape button, or the
// only button); an item dialog picks the item set by SetItem and a file dialog the file set by
// SetFileName (both are cancelled while none is set); any other modal dialog is rejected. Dialogs
// that are not message boxes are recorded with their window title as text (an item dialog's label
// goes to informativeText).
// While several catchers live, the one created last handles the dialogs.
class MessageBoxCatcher : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString text;
        QString informativeText;
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool isMessageBox = false;
        QPointer<QWidget> parent; // the dialog's parent widget, to tell apart boxes of several owners
    };

    explicit MessageBoxCatcher(QObject *parent = nullptr);
    ~MessageBoxCatcher() override;

    // The button pressed on the following message boxes; NoButton means the escape (or only) button.
    void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
    // The item an item dialog (QInputDialog::getItem) returns; -1 cancels.
    void SetItem(int index) { item_ = index; }
    // The file a file dialog returns; empty cancels.
    void SetFileName(const QString &path) { fileName_ = path; }

    const QVector<Box> &Boxes() const { return boxes_; }
    int Count() const { return boxes_.size(); }
    Box Last() const { return boxes_.isEmpty() ? Box() : boxes_.last(); }
    QStringList Texts() const;
    void Clear() { boxes_.clear(); }

    // Processes events until at least count boxes were caught in total; false on time-out.
    bool WaitForBoxes(int count = 1, int timeoutMs = 5000);

private:
    void Poll();

    QTimer poll_;
    QVector<Box> boxes_;
    QMessageBox::StandardButton answer_ = QMessageBox::NoButton;
    int item_ = -1;
    QString fileName_;
};

#endif // MESSAGEBOXCATCHER_H
