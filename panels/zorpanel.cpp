#include "zorpanel.h"

#include "pythonruntime.h"
#include "zorabstractdommodel.h"
#include "zorapplservices.h"
#include "zorquestionbox.h"

#include <QAbstractSlider>
#include <QDebug>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QSignalMapper>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextStream>
#include <QTimer>
#include <QVariant>

namespace {

const char *const ProjectPageProperty = "zorProjectPage";
const QString DocsTag = QStringLiteral("docs");
const QString ModuleTag = QStringLiteral("module");

QString nodeText(const QDomNode &node)
{
    QString text;
    QTextStream stream(&text);
    node.save(stream, 0);
    return text;
}

} // namespace

ZorPanel::ZorPanel(QWidget *parent)
    : QWidget(parent)
    , m_propertyMapper(new QSignalMapper(this))
    , m_scrollTimer(new QTimer(this))
{
    connect(m_propertyMapper, &QSignalMapper::mappedString, this, &ZorPanel::propertyEdited);
    m_scrollTimer->setSingleShot(true);
    m_scrollTimer->setInterval(500);
    connect(m_scrollTimer, &QTimer::timeout, this, &ZorPanel::doTheScrollToEnd);
    qDebug() << "ZorPanel created";
}

ZorPanel::~ZorPanel()
{
    // QWidget's destructor still hides the panel, and a line edit that loses
    // the focus then would commit its text to a panel whose members are gone.
    disconnect(m_propertyMapper, nullptr, this, nullptr);
    savePanelVisibility();
    qDebug().noquote() << "ZorPanel" << panelName() << "destroyed";
}

// --- binding and naming

bool ZorPanel::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    m_index = index;
    m_model = model;
    if (!isBound() || !m_model->nodeFromIndex(m_index).isElement()) {
        qDebug().noquote() << "setupZorPanel failed for" << panelName();
        return false;
    }
    sendGuiMsg(ZorMessage(KM_INFOTEXT, KS_REQUEST));
    sendGuiMsg(ZorMessage(KM_STATUS, KS_REQUEST));
    qDebug().noquote() << "setupZorPanel for" << panelName();
    return true;
}

QString ZorPanel::commitPanelSettings()
{
    return QString();
}

bool ZorPanel::usesSlavePort()
{
    return true;
}

QString ZorPanel::panelName()
{
    return m_index.isValid() ? m_index.data(Qt::DisplayRole).toString() : QString();
}

QString ZorPanel::panelUserData()
{
    return m_index.isValid() ? m_index.data(ZorAbstractDomModel::TypeRole).toString() : QString();
}

QString ZorPanel::panelItemText37()
{
    if (!m_index.isValid())
        return QString();
    return m_index.sibling(m_index.row(), 0).data(ZorAbstractDomModel::DescriptionRole).toString();
}

bool ZorPanel::isBound() const
{
    return m_model && m_index.isValid() && m_index.model() == m_model.data();
}

QString ZorPanel::statusStyleSheet(int status)
{
    if (status == 0)
        return QStringLiteral("color:black");
    if (status < 1000)
        return QStringLiteral("background-color: #5EBE37; color:black");
    if (status < 2000)
        return QStringLiteral("background-color: #FEE600; color:black");
    return QStringLiteral("background-color: #FF6052; color:black");
}

bool ZorPanel::noteStatus(int status)
{
    if (m_hasStatus && status == m_lastStatus)
        return false;
    m_hasStatus = true;
    m_lastStatus = status;
    return true;
}

QString ZorPanel::askOpenFileName(const QString &title, const QString &start, const QString &filter)
{
    return QFileDialog::getOpenFileName(this, title, start, filter);
}

QString ZorPanel::askSaveFileName(const QString &title, const QString &start, const QString &filter)
{
    return QFileDialog::getSaveFileName(this, title, start, filter);
}

void ZorPanel::setGuiMode(int mode)
{
    m_guiMode = mode;
    if (layout() && mode > 0)
        layout()->setContentsMargins(0, 0, 0, 0);
}

void ZorPanel::setUserLevel(int level)
{
    m_userLevel = level;
}

// --- message ports

void ZorPanel::sendGuiMsg(const ZorMessage &msg)
{
    ZorMessage copy(msg);
    copy.setOrigin(QStringLiteral("GUI"));
    emit msgOut(copy);
}

void ZorPanel::msgIn(const ZorMessage &in)
{
    // Messages arrive through queued connections from module threads; work on
    // a copy of our own so the hand-over is one visible step (the copy is
    // what thread checks see as taking the message over).
    const ZorMessage msg(in);
    if (msg.msgType() == KM_GETPROPERTY || msg.msgType() == KM_SETPROPERTY)
        applyPropertyMessage(msg);
    processIn(msg);
}

void ZorPanel::processIn(const ZorMessage &msg)
{
    Q_UNUSED(msg);
}

// --- panel state in the project element

QDomElement ZorPanel::boundElement() const
{
    if (!isBound())
        return QDomElement();
    return m_model->nodeFromIndex(m_index).toElement();
}

void ZorPanel::noteDocumentEdited()
{
    if (m_model)
        m_model->noteDocumentEdited();
}

bool ZorPanel::setElementAttribute(const QString &attribute, const QString &value)
{
    QDomElement element = boundElement();
    if (element.isNull())
        return false;
    if (element.attribute(attribute) != value || !element.hasAttribute(attribute)) {
        element.setAttribute(attribute, value);
        noteDocumentEdited();
    }
    return true;
}

bool ZorPanel::savePanelVisibility()
{
    return setElementAttribute(QStringLiteral("panelVisible"),
                               isVisible() ? QStringLiteral("1") : QStringLiteral("0"));
}

QString ZorPanel::savePanelState()
{
    if (!savePanelVisibility())
        return QString();
    return commitPanelSettings();
}

bool ZorPanel::setDragDropMode(int mode)
{
    setAcceptDrops(mode > 0);
    return setElementAttribute(QStringLiteral("dragDropMode"), QString::number(mode));
}

// --- panel documents

bool ZorPanel::saveDoc(const QDomDocument &doc, const QString &name)
{
    QDomElement element = boundElement();
    if (element.isNull())
        return false;
    QDomDocument project = element.ownerDocument();
    QDomElement docs = element.firstChildElement(DocsTag);
    bool changed = false;
    if (docs.isNull()) {
        docs = element.appendChild(project.createElement(DocsTag)).toElement();
        changed = true;
    }
    const QDomElement old = docs.firstChildElement(name);
    QString oldText;
    if (!old.isNull()) {
        oldText = nodeText(old);
        docs.removeChild(old);
    }
    if (!doc.documentElement().isNull()) {
        QDomElement stored = project.createElement(name);
        stored.appendChild(project.importNode(doc.documentElement(), true));
        docs.appendChild(stored);
        changed = changed || nodeText(stored) != oldText;
    } else {
        changed = changed || !old.isNull();
    }
    if (changed)
        noteDocumentEdited();
    return true;
}

QDomDocument ZorPanel::loadDoc(const QString &name) const
{
    const QDomElement element = boundElement();
    if (element.isNull())
        return QDomDocument();
    const QDomElement docs = element.firstChildElement(DocsTag);
    if (docs.isNull())
        return QDomDocument();
    const QDomElement stored = docs.firstChildElement(name);
    if (stored.isNull())
        return QDomDocument();
    QDomDocument result(name);
    const QDomElement content = stored.firstChildElement();
    if (!content.isNull())
        result.appendChild(result.importNode(content, true));
    return result;
}

bool ZorPanel::loadDocToTextEdit(QTextEdit *edit, const QString &name)
{
    if (!edit)
        return false;
    const QDomDocument doc = loadDoc(name);
    if (doc.isNull())
        return false;
    edit->setHtml(ZorApplServices::expandMacros(doc.toString(1)));
    markAsProjectPage(edit);
    return true;
}

void ZorPanel::markAsProjectPage(QObject *view, bool projectPage)
{
    if (view)
        view->setProperty(ProjectPageProperty, projectPage);
}

bool ZorPanel::isProjectPage(const QObject *view)
{
    return view && view->property(ProjectPageProperty).toBool();
}

// --- project queries

QStringList ZorPanel::moduleLabels() const
{
    QStringList labels;
    for (const auto &pair : moduleLabelsAndTypes())
        labels.append(pair.first);
    return labels;
}

QList<QPair<QString, QString>> ZorPanel::moduleLabelsAndTypes() const
{
    QList<QPair<QString, QString>> result;
    const QDomElement element = boundElement();
    if (element.isNull())
        return result;
    const QDomNodeList modules = element.elementsByTagName(ModuleTag);
    for (int i = 0; i < modules.size(); ++i) {
        const QDomElement module = modules.at(i).toElement();
        result.append(qMakePair(module.attribute(QStringLiteral("label")),
                                module.attribute(QStringLiteral("type"))));
    }
    return result;
}

// --- links

ZorMessage ZorPanel::messageForAnchor(const QUrl &url)
{
    const ZorMessage nothing(KM_UNDEFINED, KS_INFO);
    if (!url.hasFragment())
        return nothing;
    const QString anchor = url.fragment(QUrl::FullyDecoded).trimmed();

    if (anchor.startsWith(QLatin1String("app:"), Qt::CaseInsensitive))
        return ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST,
                          anchor.section(QLatin1Char(':'), 1));

    if (anchor.startsWith(QLatin1String("KM_"))) {
        ZorMessage msg(anchor);
        return msg.msgType() == KM_UNDEFINED ? nothing : msg;
    }

    if (anchor.startsWith(QLatin1String("python:"), Qt::CaseInsensitive)) {
        const QString code = anchor.section(QLatin1Char(':'), 1);
        if (code.endsWith(QLatin1String(".py"), Qt::CaseInsensitive)) {
            // A bare file name is opened relative to the working folder. The
            // module's start request takes a script file by its path and
            // reads it itself (a text after "1," is a path to it, never the
            // script); an unreadable or empty file starts nothing.
            QFile file(code);
            if (!file.open(QIODevice::ReadOnly | QIODevice::Text)
                || PythonRuntime::scriptText(file.readAll()).isEmpty())
                return nothing;
            return ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST,
                              QStringLiteral("1,%1").arg(QFileInfo(file).absoluteFilePath()));
        }
        return ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("1,append:%1").arg(code));
    }
    return nothing;
}

bool ZorPanel::startsProgramOrScript(const ZorMessage &msg)
{
    const QString data = msg.data().toString();
    if (msg.msgType() == KM_APPLICATION_CONTROL)
        return data.section(QLatin1Char(','), 0, 0).trimmed().toLower()
               == QLatin1String("startprocess");
    if (msg.msgType() == KM_SCRIPT_CONTROL)
        return data.section(QLatin1Char(','), 0, 0).trimmed() == QLatin1String("1");
    return false;
}

bool ZorPanel::opensLocalFile(const ZorMessage &msg)
{
    if (msg.msgType() != KM_APPLICATION_CONTROL)
        return false;
    const QString data = msg.data().toString();
    const int comma = data.indexOf(QLatin1Char(','));
    if (comma < 0 || data.left(comma).trimmed().toLower() != QLatin1String("openurl"))
        return false;
    // As the main window reads the command.
    const QString scheme = QUrl(data.mid(comma + 1).trimmed()).scheme();
    return scheme.isEmpty() || scheme.compare(QLatin1String("file"), Qt::CaseInsensitive) == 0;
}

bool ZorPanel::handleAnchor(const QUrl &url, bool fromProjectPage)
{
    const ZorMessage msg = messageForAnchor(url);
    if (msg.msgType() == KM_UNDEFINED)
        return false;
    if (fromProjectPage && (startsProgramOrScript(msg) || opensLocalFile(msg))) {
        const QString target = msg.data().toString().section(QLatin1Char(','), 1);
        ZorQuestionBox::Question question;
        question.icon = QMessageBox::Warning;
        question.title = tr("Project page");
        if (msg.msgType() == KM_SCRIPT_CONTROL && target.isEmpty())
            question.text = tr("A page of this project wants to start the Python script of "
                               "its module.\n\nDo you want to start it?");
        else if (msg.msgType() == KM_SCRIPT_CONTROL && !target.startsWith(QLatin1String("append:")))
            question.text = tr("A page of this project wants to run the Python script\n\n%1\n\n"
                               "Do you want to run it?")
                                .arg(target);
        else if (msg.msgType() == KM_SCRIPT_CONTROL)
            question.text = tr("A page of this project wants to run Python code:\n\n%1\n\n"
                               "Do you want to run it?")
                                .arg(target.mid(7).left(500));
        else if (opensLocalFile(msg))
            question.text = tr("A page of this project wants to open a local file:\n\n%1\n\n"
                               "Do you want to open it?")
                                .arg(target.trimmed());
        else
            question.text = tr("A page of this project wants to start a program:\n\n%1\n\n"
                               "Do you want to start it?")
                                .arg(target);
        if (ZorQuestionBox::ask(this, question) != QMessageBox::Yes)
            return false;
    }
    sendGuiMsg(msg);
    return true;
}

void ZorPanel::processAnchorClicked(const QUrl &url)
{
    handleAnchor(url, isProjectPage(sender()));
}

// --- log views

QString ZorPanel::cutLogLines(const QString &text)
{
    if (text.size() <= MaxLogLineChars)
        return text;
    QString cut;
    int start = 0;
    while (start <= text.size()) {
        int end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        const int length = end - start;
        if (length > MaxLogLineChars) {
            cut += text.midRef(start, MaxLogLineChars);
            cut += tr(" [... %n more characters not shown]", nullptr, length - MaxLogLineChars);
        } else {
            cut += text.midRef(start, length);
        }
        if (end < text.size())
            cut += QLatin1Char('\n');
        start = end + 1;
    }
    return cut;
}

void ZorPanel::appendLogText(QPlainTextEdit *view, const QString &text, bool withTime)
{
    if (text.isEmpty() || !view)
        return;
    // A log has nothing to undo; kept, the history would hold every line.
    view->setUndoRedoEnabled(false);
    const QString shown = cutLogLines(text);
    if (withTime)
        view->appendPlainText(ZorApplServices::currentDateTimeText() + QLatin1Char(' ') + shown);
    else
        view->appendPlainText(shown);
    QTextDocument *document = view->document();
    if (document->characterCount() > MaxLogViewChars) {
        // Down to three quarters, from the start of a line: the trimming
        // then runs once per many appended lines.
        const QTextBlock keep = document->findBlock(document->characterCount() - MaxLogViewChars * 3 / 4);
        QTextCursor cursor(document);
        cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    scrollToEndLater(view);
}

void ZorPanel::scrollToEndLater(QPlainTextEdit *view)
{
    if (!view)
        return;
    if (!m_pendingScroll.contains(view))
        m_pendingScroll.append(view);
    if (!m_scrollTimer->isActive())
        m_scrollTimer->start();
}

void ZorPanel::doTheScrollToEnd()
{
    const QList<QPointer<QPlainTextEdit>> pending = m_pendingScroll;
    m_pendingScroll.clear();
    for (const QPointer<QPlainTextEdit> &view : pending) {
        if (!view)
            continue;
        QTextCursor cursor = view->textCursor();
        cursor.movePosition(QTextCursor::End, QTextCursor::MoveAnchor);
        view->setTextCursor(cursor);
    }
}

// --- shortcuts and drops

QShortcut *ZorPanel::addShortcut(const QKeySequence &key, const char *slot)
{
    auto *shortcut = new QShortcut(key, this);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, SIGNAL(activated()), this, slot);
    connect(shortcut, SIGNAL(activatedAmbiguously()), this, slot);
    return shortcut;
}

void ZorPanel::dropEvent(QDropEvent *event)
{
    msgIn(ZorMessage(KM_DROP_DATA, KS_REQUEST, event->mimeData()->text()));
    event->acceptProposedAction();
}
