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

ZorQuestionBox::Hook ZorQuestionBox::setHook(Hook hook)
{
    Hook previous = installedHook();
    installedHook() = std::move(hook);
    return previous;
}
