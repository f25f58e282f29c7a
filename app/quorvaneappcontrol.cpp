// The main window's app-control commands and dialog requests: what modules,
// panels and dialogs ask of the GUI thread.
#include "quorvane.h"

#include "quorvaneproject.h"
#include "zorapplservices.h"
#include "zorbabelfish.h"
#include "zordommodel.h"
#include "zorquestionbox.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QProcess>
#include <QTimer>
#include <QUrl>

void Quorvane::appControlIn(const ZorMessage &msg)
{
    if ((msg.msgType() != KM_APPLICATION_CONTROL && msg.msgType() != KM_DIALOG)
        || msg.msgState() != KS_REQUEST)
        return;
    m_requests.append(msg);
    QTimer::singleShot(10, this, &Quorvane::appControlDelayed);
}

void Quorvane::appControlDelayed()
{
    // A request may open a modal dialog, whose event loop runs the timers of
    // later requests: those are left to the pass already running, so that
    // requests are answered strictly in arrival order.
    if (m_executingRequests)
        return;
    m_executingRequests = true;
    while (!m_requests.isEmpty()) {
        ZorMessage msg = m_requests.takeFirst();
        if (msg.msgType() == KM_DIALOG) {
            showDialogRequest(msg);
        } else {
            QString result;
            const bool done = appControl(msg.data().toString(), result);
            msg.setMsgState(done ? KS_ANSWER : KS_FAIL);
            if (!result.isEmpty())
                msg.setData(result);
        }
        emit appControlResponse(msg);
    }
    m_executingRequests = false;
}

bool Quorvane::appControl(const QString &command)
{
    QString result;
    return appControl(command, result);
}

bool Quorvane::appControl(const QString &command, QString &result)
{
    result.clear();
    const int comma = command.indexOf(QLatin1Char(','));
    const QString verb = (comma < 0 ? command : command.left(comma)).trimmed().toLower();
    const QString args = comma < 0 ? QString() : command.mid(comma + 1).trimmed();
    const auto field = [&args](int i) { return args.section(QLatin1Char(','), i, i); };

    if (verb == QLatin1String("new")) {
        newProject(args);
        return true;
    }
    if (verb == QLatin1String("open"))
        return openProject(args);
    if (verb == QLatin1String("openurl")) {
        QDesktopServices::openUrl(QUrl(args));
        return true;
    }
    if (verb == QLatin1String("addmodule")) {
        if (!m_project)
            return false;
        const QModelIndex parent =
            ZorBabelFish::fromKeyToModelIndex(m_project->model(), field(3));
        const QString properties = args.section(QLatin1Char(','), 4);
        return m_project->addModule(field(0), field(1), field(2), parent, properties,
                                    QDomElement(), &result);
    }
    if (verb == QLatin1String("removemodule")) {
        if (!m_project)
            return false;
        const QModelIndex index = ZorBabelFish::fromKeyToModelIndex(m_project->model(), field(2));
        return m_project->removeModule(field(0), field(1), index);
    }
    if (verb == QLatin1String("save"))
        return saveProject(true);
    if (verb == QLatin1String("saveas"))
        return saveProjectAs(args, true);
    if (verb == QLatin1String("panel")) {
        selectPanel(args);
        return true;
    }
    if (verb == QLatin1String("startprocess"))
        return startProcess(args);
    if (verb == QLatin1String("exit")) {
        close();
        return true;
    }
    return false;
}

// "program,arg1,arg2"; the program and any argument may stand in double
// quotes, which are taken off (a quoted part may hold commas). Empty parts
// are dropped.
QStringList Quorvane::startProcessCommandLine(const QString &arguments)
{
    QStringList parts;
    QString part;
    bool quoted = false;
    for (const QChar c : arguments) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(',') && !quoted) {
            if (!part.isEmpty())
                parts << part;
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.isEmpty())
        parts << part;
    return parts;
}

bool Quorvane::startProcess(const QString &arguments)
{
    QStringList parts = startProcessCommandLine(arguments);
    if (parts.isEmpty())
        return false;
    const QString program = parts.takeFirst();
    return QProcess::startDetached(program, parts);
}

void Quorvane::showDialogRequest(ZorMessage &msg)
{
    const QStringList parts = msg.data().toString().split(QLatin1Char(','));
    const QString kind = parts.value(0).trimmed().toLower();
    const QString text = parts.value(1).trimmed();
    const QString second = parts.value(2).trimmed();
    const QString third = parts.value(3).trimmed();

    if (kind == QLatin1String("i") || kind == QLatin1String("w")) {
        const bool info = kind == QLatin1String("i");
        ZorQuestionBox::Question question;
        question.icon = info ? QMessageBox::Information : QMessageBox::Warning;
        question.title = info ? tr("Quorvane Info") : tr("Quorvane Warning");
        question.text = text;
        question.buttons = QMessageBox::Ok | QMessageBox::Cancel;
        question.defaultButton = info ? QMessageBox::Ok : QMessageBox::Cancel;
        msg.setMsgState(ZorQuestionBox::ask(this, question) == QMessageBox::Ok ? KS_ANSWER
                                                                                : KS_CANCEL);
        return;
    }
    if (kind == QLatin1String("s")) {
        QInputDialog dialog(this, Qt::Dialog | Qt::WindowCloseButtonHint);
        dialog.setWindowTitle(tr("Quorvane User Input"));
        dialog.setLabelText(text);
        dialog.setTextEchoMode(QLineEdit::Normal);
        dialog.setTextValue(second);
        if (dialog.exec() == QDialog::Accepted) {
            msg.setData(dialog.textValue());
            msg.setMsgState(KS_ANSWER);
        } else {
            msg.setMsgState(KS_CANCEL);
        }
        return;
    }
    if (kind == QLatin1String("fo") || kind == QLatin1String("fs")) {
        const bool open = kind == QLatin1String("fo");
        const QString caption = !text.isEmpty() ? text : open ? tr("Open File") : tr("Save File");
        QString folder = second;
        folder.replace(QStringLiteral("%%WorkingDir%%"), ZorApplServices::workingDir());
        if (folder.isEmpty())
            folder = m_lastFolder;
        const QString filter = !third.isEmpty() ? third : tr("All Files (*.*)");
        QString name = open ? QFileDialog::getOpenFileName(this, caption, folder, filter)
                            : QFileDialog::getSaveFileName(this, caption, folder, filter);
        // Colons separate the fields of a message's text form; the
        // requester turns the semicolons back.
        name.replace(QLatin1Char(':'), QLatin1Char(';'));
        msg.setData(name);
        msg.setMsgState(name.isEmpty() ? KS_CANCEL : KS_ANSWER);
        return;
    }
    msg.setMsgState(KS_REJECT);
}
