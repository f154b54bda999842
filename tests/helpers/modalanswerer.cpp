#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>

ModalAnswerer::ModalAnswerer(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start(10);
}

void ModalAnswerer::answer(QMessageBox::StandardButton button)
{
    act([this, button](QWidget *widget) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        QAbstractButton *target = box ? box->button(button) : nullptr;
        if (target) {
            target->click();
        } else {
            ++unexpected;
            if (auto *dialog = qobject_cast<QDialog *>(widget))
                dialog->reject();
        }
    });
}

void ModalAnswerer::chooseFile(const QString &path)
{
    act([this, path](QWidget *widget) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        if (!dialog) {
            ++unexpected;
            if (auto *other = qobject_cast<QDialog *>(widget))
                other->reject();
            return;
        }
        selectInFileDialog(dialog, path);
    });
}

void ModalAnswerer::selectInFileDialog(QFileDialog *dialog, const QString &path)
{
    const QFileInfo info(path);
    auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (info.isDir()) {
        dialog->setDirectory(info.absoluteFilePath());
        nameEdit->clear();
    } else {
        dialog->setDirectory(info.absolutePath());
        nameEdit->setText(info.fileName());
    }
    static_cast<QDialog *>(dialog)->accept();
}

void ModalAnswerer::act(Action action)
{
    m_actions.enqueue(std::move(action));
}

void ModalAnswerer::poll()
{
    QWidget *widget = QApplication::activeModalWidget();
    // The main window is itself application-modal; only what opens over it is answered.
    if (!widget || qobject_cast<QMainWindow *>(widget))
        return;
    if (m_handled.contains(widget)) {
        // An answer that did not close its dialog must not hang the test.
        m_stuckPolls = widget == m_stuck ? m_stuckPolls + 1 : 0;
        m_stuck = widget;
        if (m_stuckPolls == 300) {
            ++unexpected;
            if (auto *dialog = qobject_cast<QDialog *>(widget))
                dialog->reject();
        }
        return;
    }
    m_handled.removeAll(nullptr);
    m_handled.append(widget);
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        shown.append({ box->icon(), box->windowTitle(), box->text(), box->standardButtons(),
                       box->defaultButton() != nullptr });
    }
    if (m_actions.isEmpty()) {
        ++unexpected;
        if (auto *dialog = qobject_cast<QDialog *>(widget))
            QTimer::singleShot(0, dialog, &QDialog::reject);
        else
            widget->close();
        return;
    }
    // Run from the event loop, so that a dialog the action opens is answered in turn.
    const Action action = m_actions.dequeue();
    QPointer<QWidget> target = widget;
    QTimer::singleShot(0, this, [action, target] {
        if (target)
            action(target);
    });
}
