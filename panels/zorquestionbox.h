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

    // A warning with only an OK button.
    static void warn(QWidget *parent, const QString &title, const QString &text);

    // A warning that asks before going on: with `yes` QMessageBox::Yes the
    // buttons are Yes and No, with QMessageBox::Ok they are OK and Cancel; the
    // other one is the default. True when `yes` is chosen.
    static bool confirm(QWidget *parent, const QString &title, const QString &text,
                        QMessageBox::StandardButton yes = QMessageBox::Yes);

    // Replaces the box by `hook`; an empty hook brings the box back. GUI
    // thread only. Returns the hook that was installed before.
    static Hook setHook(Hook hook);
};
