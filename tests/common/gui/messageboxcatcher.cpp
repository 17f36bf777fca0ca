#include "messageboxcatcher.h"

#include <QtCore/QElapsedTimer>
#include <QtTest/QTest>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QInputDialog>
#include <QtWidgets/QLineEdit>

namespace {

QList<MessageBoxCatcher *> &LiveCatchers()
{
    static QList<MessageBoxCatcher *> catchers;
    return catchers;
}

} // namespace

MessageBoxCatcher::MessageBoxCatcher(QObject *parent)
    : QObject(parent)
{
    // A modal exec() runs its own event loop, in which this timer keeps firing.
    poll_.setInterval(10);
    connect(&poll_, &QTimer::timeout, this, &MessageBoxCatcher::Poll);
    poll_.start();
    LiveCatchers().append(this);
}

MessageBoxCatcher::~MessageBoxCatcher() { LiveCatchers().removeAll(this); }

QStringList MessageBoxCatcher::Texts() const
{
    QStringList texts;
    for (const Box &box : boxes_)
        texts << box.text;
    return texts;
}

bool MessageBoxCatcher::WaitForBoxes(int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (boxes_.size() < count && clock.elapsed() < timeoutMs)
        QTest::qWait(5);
    return boxes_.size() >= count;
}

void MessageBoxCatcher::Poll()
{
    if (LiveCatchers().last() != this)
        return;
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    // Each showing of a dialog is handled once, however long it takes to close.
    static const char *const kSeen = "messageBoxCatcherSeen";
    if (modal->property(kSeen).toBool())
        return;
    modal->setProperty(kSeen, true);
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        connect(dialog, &QDialog::finished, dialog, [dialog] { dialog->setProperty(kSeen, false); });

    Box box;
    box.title = modal->windowTitle();
    box.parent = modal->parentWidget();
    if (auto *message = qobject_cast<QMessageBox *>(modal)) {
        box.isMessageBox = true;
        box.text = message->text();
        box.informativeText = message->informativeText();
        box.icon = message->icon();
        boxes_.append(box);
        QAbstractButton *button = answer_ != QMessageBox::NoButton ? message->button(answer_) : nullptr;
        if (!button)
            button = message->escapeButton();
        if (!button && message->buttons().size() == 1)
            button = message->buttons().first();
        if (button)
            QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(message, "reject", Qt::QueuedConnection);
        return;
    }
    box.text = box.title;
    if (auto *input = qobject_cast<QInputDialog *>(modal)) {
        box.informativeText = input->labelText();
        boxes_.append(box);
        if (item_ >= 0 && item_ < input->comboBoxItems().size()) {
            input->setTextValue(input->comboBoxItems().at(item_));
            QMetaObject::invokeMethod(input, "accept", Qt::QueuedConnection);
        } else {
            QMetaObject::invokeMethod(input, "reject", Qt::QueuedConnection);
        }
        return;
    }
    if (auto *files = qobject_cast<QFileDialog *>(modal)) {
        box.informativeText = files->selectedFiles().value(0);
        boxes_.append(box);
        if (!fileName_.isEmpty()) {
            // Typed into the name field once the dialog has settled: the dialog fills that field with
            // its own proposal while it lists the folder, which would undo an earlier selection.
            const QString name = fileName_;
            QTimer::singleShot(50, files, [files, name] {
                files->selectFile(name);
                if (auto *edit = files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    edit->setText(name);
                QMetaObject::invokeMethod(files, "accept");
            });
        } else {
            QMetaObject::invokeMethod(files, "reject", Qt::QueuedConnection);
        }
        return;
    }
    boxes_.append(box);
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    else
        modal->close();
}
