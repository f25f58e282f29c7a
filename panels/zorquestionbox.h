// The one place where the program asks the user a yes/no style question
// before doing something it cannot take back: leaving a modified project,
// starting a program or running Python code that a project page asks for.
//
// By default a modal message box is shown. A hook can take its place, so that
// tests (and a future unattended mode) answer the question without a window;
// the hook sees exactly what the box would show.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

class ZorQuestionBox
{
public:
    struct Question
    {
        QMessageBox::Icon icon = QMessageBox::Question;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
        QMessageBox::StandardButton defaultButton = QMessageBox::No;
    };
    using Hook = std::function<QMessageBox::StandardButton(const Question &)>;

    // Shows the question (or hands it to the hook) and returns the button
    // chosen; QMessageBox::NoButton when the box was closed without a choice.
    static QMessageBox::StandardButton ask(QWidget *parent, const Question &question);

    // Replaces the box by `hook`; an empty hook brings the box back. GUI
    // thread only. Returns the hook that was installed before.
    static Hook setHook(Hook hook);
};
