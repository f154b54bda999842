#ifndef MODALANSWERER_H
#define MODALANSWERER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QTimer>

#include <functional>

class QFileDialog;

// Answers the modal boxes and dialogs that the window opens, in the order they were queued,
// and keeps what every message box showed. A modal widget for which nothing was queued is
// closed and counted, so a test never hangs on a box it did not expect.
class ModalAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Shown
    {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        bool hasDefaultButton = false;
    };
    using Action = std::function<void(QWidget *)>;

    explicit ModalAnswerer(QObject *parent = nullptr);

    void answer(QMessageBox::StandardButton button);
    void chooseFile(const QString &path);
    void act(Action action);

    // Picks a file, or a folder in a folder chooser, as a user typing its name would.
    static void selectInFileDialog(QFileDialog *dialog, const QString &path);

    QList<Shown> shown;
    int unexpected = 0;
    int pending() const { return int(m_actions.size()); }

private:
    void poll();

    QTimer m_timer;
    QQueue<Action> m_actions;
    QList<QPointer<QWidget>> m_handled;
    QPointer<QWidget> m_stuck;
    int m_stuckPolls = 0;
};

#endif
