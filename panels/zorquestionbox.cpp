#include "zorquestionbox.h"

#include <QWidget>

namespace {

ZorQuestionBox::Hook &installedHook()
{
    static ZorQuestionBox::Hook hook;
    return hook;
}

} // namespace

QMessageBox::StandardButton ZorQuestionBox::ask(QWidget *parent, const Question &question)
{
    if (const Hook &hook = installedHook())
        return hook(question);
    QMessageBox box(question.icon, question.title, question.text, question.buttons, parent);
    box.setDefaultButton(question.defaultButton);
    const int answer = box.exec();
    return static_cast<QMessageBox::StandardButton>(answer);
}

void ZorQuestionBox::warn(QWidget *parent, const QString &title, const QString &text)
{
    Question question;
    question.icon = QMessageBox::Warning;
    question.title = title;
    question.text = text;
    question.buttons = QMessageBox::Ok;
    question.defaultButton = QMessageBox::Ok;
    ask(parent, question);
}

bool ZorQuestionBox::confirm(QWidget *parent, const QString &title, const QString &text,
                             QMessageBox::StandardButton yes)
{
    const bool ok = yes == QMessageBox::Ok;
    Question question;
    question.icon = QMessageBox::Warning;
    question.title = title;
    question.text = text;
    question.buttons = ok ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Yes | QMessageBox::No;
    question.defaultButton = ok ? QMessageBox::Cancel : QMessageBox::No;
    return ask(parent, question) == yes;
}

ZorQuestionBox::Hook ZorQuestionBox::setHook(Hook hook)
{
    Hook previous = installedHook();
    installedHook() = std::move(hook);
    return previous;
}
