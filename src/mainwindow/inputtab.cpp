// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/inputtab.h"

#include "mainwindow/runon.h"
#include "mainwindow/texteditor.h"
#include "ui_mainwindow.h"

#include <QFileInfo>
#include <QScrollBar>

InputTab::InputTab(Ui::MainWindow *ui, Launcher *launcher, QObject *parent)
    : QObject(parent)
    , ui(ui)
    , m_launcher(launcher)
    , m_run_on(new RunOn(ui->comboBoxRunOn, launcher, this))
{
    connect(launcher, &Launcher::deckLoaded, this, &InputTab::showDeck);
    connect(launcher, &Launcher::deckTextChanged, this, &InputTab::showText);
    connect(ui->toolButtonOpenInEditor, &QToolButton::clicked, this, &InputTab::openInEditor);
}

RunChoice InputTab::choice() const
{
    return { ui->lineEditTitle->text(), ui->comboBoxProgram->currentText(),
             ui->spinBoxProcs->value(), m_run_on->where() };
}

void InputTab::showDeck(const DeckShown &deck)
{
    ui->lineEditInputFile->setText(QFileInfo(deck.deck).fileName());
    ui->lineEditTitle->setText(deck.choice.title);
    ui->lineEditWorkDir->setText(deck.workDir);
    // A deck of another kind keeps the program list as it was.
    if (!deck.programs.isEmpty()) {
        ui->comboBoxProgram->clear();
        ui->comboBoxProgram->addItems(deck.programs);
        ui->comboBoxProgram->setCurrentText(deck.choice.program);
    }
    ui->spinBoxProcs->setValue(deck.choice.cores);
    if (!deck.choice.where.isEmpty())
        m_run_on->setWhere(deck.choice.where);
    ui->toolButtonStart->setEnabled(true);
    ui->toolButtonOpenWorkdir->setEnabled(true);
    ui->toolButtonOpenInEditor->setEnabled(true);
    // The imported deck is what there is to see, whichever tab was open.
    if (deck.imported)
        ui->tabWidget->setCurrentWidget(ui->tab);
}

void InputTab::showText(const QString &text)
{
    // The reader keeps their place in a deck that changed.
    const int line = ui->plainTextEditInput->verticalScrollBar()->value();
    ui->plainTextEditInput->setPlainText(text);
    ui->plainTextEditInput->verticalScrollBar()->setValue(line);
}

void InputTab::openInEditor()
{
    const QString deck = m_launcher->loaded().deck();
    TextEditor::open(deck, this, [this, deck](const QString &error) {
        if (!error.isEmpty())
            Q_EMIT failed(tr("Cannot open %1 in an editor: %2.").arg(deck, error));
    });
}
