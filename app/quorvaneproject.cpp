#include "quorvaneproject.h"

#include "zorapplservices.h"
#include "zordebuglog.h"
#include "zordommodel.h"
#include "zorframegate.h"
#include "zormodule.h"
#include "zormoduleshost.h"
#include "zorpanel.h"
#include "zorquestionbox.h"
#include "zorxmlnesting.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QThread>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const int CreateModules = ZorModulesHost::CreateModules;
const int DeleteModules = ZorModulesHost::DeleteModules;

// Persistent indexes shift when rows are inserted or removed, so an ordered
// map keyed by them can be out of order until its dead entries are dropped:
// lookups walk the map instead of trusting its order.
template<class Map>
typename Map::const_iterator findIndex(const Map &map, const QModelIndex &index)
{
    if (!index.isValid())
        return map.cend();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it.key().isValid() && it.key() == index)
            return it;
    }
    return map.cend();
}

QModelIndex firstColumn(const QModelIndex &index)
{
    return index.isValid() ? index.sibling(index.row(), 0) : index;
}

} // namespace

QuorvaneProject::QuorvaneProject(QObject *parent)
    : QObject(parent)
{
    ZorMessage::registerMetaType();
    if (QSettings().value(QStringLiteral("DebugMode"), 0).toInt() > 1) {
        m_messageLog = new ZorDebugLog(this);
        m_messageLog->open(QStringLiteral("zormessages"));
    }
    registerCreators();
    m_modulesHost = new ZorModulesHost(this, this);
    m_modulesHost->start(QThread::InheritPriority);
    installModel(new ZorDomModel(QDomDocument(), this));
}

QuorvaneProject::~QuorvaneProject()
{
    close();
    delete m_modulesHost.data();
}

void QuorvaneProject::registerCreators()
{
    ZorRegistry::registerAll(m_moduleCreators, m_panelCreators);
}

bool QuorvaneProject::registerModuleCreator(const QString &key,
                                            const ZorRegistry::ModuleCreator &creator)
{
    return ZorRegistry::registerModule(m_moduleCreators, key, creator);
}

bool QuorvaneProject::registerPanelCreator(const QString &key, ZorRegistry::PanelCreator creator)
{
    return ZorRegistry::registerPanel(m_panelCreators, key, creator);
}

ZorDomModel *QuorvaneProject::model() const
{
    return m_model.data();
}

void QuorvaneProject::installModel(ZorDomModel *model)
{
    m_model = model;
    connect(model, &QAbstractItemModel::layoutChanged, this, &QuorvaneProject::layoutChanged);
    connect(model, &ZorDomModel::textDropped, this, &QuorvaneProject::textDropped);
    connect(model, &ZorAbstractDomModel::documentEdited, this, &QuorvaneProject::documentEdited);
}

// --- module tree --------------------------------------------------------------

bool QuorvaneProject::loadDocument(const QDomDocument &document)
{
    auto *loaded = new ZorDomModel(document, this);
    if (!loaded->hasRoot()) {
        delete loaded;
        return false;
    }
    // Modules and panels belong to the tree they were made for.
    if (!m_modules.isEmpty() || !m_openPanels.isEmpty())
        close();
    ZorDomModel *old = m_model.data();
    loaded->setUserLevel(old ? old->userLevel() : 0);
    if (old)
        old->disconnect(this);
    installModel(loaded);
    rebuildModules();
    if (old)
        old->deleteLater();
    setModified(false);
    return true;
}

ZorModulesHost *QuorvaneProject::modulesHost() const
{
    return m_modulesHost.data();
}

QAbstractItemModel *QuorvaneProject::hostModel() const
{
    return m_model.data();
}

// The host writes the module map while it works. An action that outlasts the
// host's time-out is waited for on, so that the map is never read while the
// host still writes it; each further wait is reported.
void QuorvaneProject::performHostAction(int action)
{
    if (!m_modulesHost)
        return;
    while (!m_modulesHost->performAction(action)) {
        if (!m_modulesHost->isRunning())
            return;
        qWarning("QuorvaneProject: the module host has not finished action %d in time; "
                 "waiting for it", action);
    }
}

void QuorvaneProject::rebuildModules()
{
    performHostAction(CreateModules);

    dropDeadPanels();

    m_model->updateModuleDepths(false);
    if (m_messageLog)
        logModuleMessages();
    emit modelChanged();
}

// Panels of elements that have gone are of no use any more; dropping their
// entries also keeps the map in order (see findIndex).
void QuorvaneProject::dropDeadPanels()
{
    for (auto it = m_openPanels.begin(); it != m_openPanels.end();) {
        if (it.key().isValid() && it.value()) {
            ++it;
            continue;
        }
        if (it.value())
            it.value()->deleteLater();
        it = m_openPanels.erase(it);
    }
}

void QuorvaneProject::logModuleMessages()
{
    // The log is thread-safe: module messages are written by the thread that
    // sends them, in the order they are sent.
    const auto type = Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection);
    for (ZorModule *module : qAsConst(m_modules)) {
        if (!module)
            continue;
        connect(module, &ZorModule::masterOut, m_messageLog.data(), &ZorDebugLog::msgLogger, type);
        connect(module, &ZorModule::slaveOut, m_messageLog.data(), &ZorDebugLog::msgLogger, type);
    }
}

bool QuorvaneProject::addModule(const QString &type, const QString &label,
                                const QString &description, const QModelIndex &parent,
                                const QString &propertiesXml, const QDomElement &templateElement,
                                QString *newLabel)
{
    if (newLabel)
        newLabel->clear();
    QDomElement source = templateElement;
    if (source.isNull())
        source = m_model->templateElement(type);
    if (source.isNull())
        source = m_model->defaultModuleElement(type);
    if (source.isNull())
        return false;

    QDomElement copy = source.cloneNode(true).toElement();
    // Properties text nested beyond the limit is treated like text that is
    // no XML: left out.
    if (!propertiesXml.trimmed().isEmpty()
        && ZorXmlNesting::check(propertiesXml, ZorXmlNesting::MaxModuleDepth - 3)
               == ZorXmlNesting::Allowed) {
        QDomDocument properties;
        properties.setContent(propertiesXml);
        if (!properties.firstChild().isNull())
            copy.appendChild(copy.ownerDocument().importNode(properties.firstChild(), true));
    }

    const QModelIndex target = parent.isValid() ? firstColumn(parent) : m_model->index(0, 0);
    if (!label.isEmpty())
        copy.setAttribute(QStringLiteral("label"), label);
    m_model->makeLabelsUnique(copy, target);
    if (!description.isEmpty())
        copy.setAttribute(QStringLiteral("description"), description);

    if (!m_model->appendModule(copy, target))
        return false;
    rebuildModules();
    if (newLabel)
        *newLabel = copy.attribute(QStringLiteral("label"));
    setModified(true);
    return true;
}

bool QuorvaneProject::removeModule(const QString &label, const QString &type,
                                   const QModelIndex &index)
{
    if (!m_model->removeModules(label, type, index))
        return false;
    rebuildModules();
    setModified(true);
    return true;
}

bool QuorvaneProject::renameModule(const QString &text, const QModelIndex &index, QString *result)
{
    QString given;
    if (!m_model->renameModule(text, index, &given))
        return false;
    if (result)
        *result = given;
    rebuildModules();
    setModified(true);
    return true;
}

void QuorvaneProject::stopMovingDrives()
{
    // A drive module that is running or busy (starting, changing mode,
    // going through its stop sequence): operating or in a mode, also while
    // a warning shows, or busy with either (status raised by 1000). The
    // CANopen drives and the linear drive on its own controller, whose
    // power only its stop quits.
    const auto moving = [this] {
        for (ZorModule *m : qAsConst(m_modules)) {
            const QString type = m ? m->type() : QString();
            if (type != QLatin1String("drive_canopen") && type != QLatin1String("drive_ruxa")
                && type != QLatin1String("drive_tamrix") && type != QLatin1String("drive_xenax"))
                continue;
            if (m->status() >= 1 && m->status() < 2000)
                return true;
        }
        return false;
    };
    if (!moving())
        return;
    // The stop sequence needs the modules below each drive (its gateway and
    // CAN interface) for a moment: they go once the drives are stopped, or
    // after a bound for drives that do not answer.
    broadcast(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
    QElapsedTimer clock;
    clock.start();
    while (moving() && clock.elapsed() < 2000)
        QThread::msleep(5);
}

void QuorvaneProject::close()
{
    qDebug() << "QuorvaneProject emits prepareToClose() ";
    emit prepareToClose();

    const PanelMap panels = m_openPanels;
    m_openPanels.clear();
    for (const QPointer<ZorPanel> &panel : panels)
        delete panel.data();

    stopMovingDrives();
    performHostAction(DeleteModules);

    ZorDomModel *old = m_model.data();
    auto *empty = new ZorDomModel(QDomDocument(), this);
    empty->setUserLevel(old ? old->userLevel() : 0);

    if (!m_packedFile.isEmpty()) {
        ZorApplServices::setWorkingDir(QString());
        removeTempFolder(m_projectFile);
    }
    clearPaths();

    if (old)
        old->disconnect(this);
    installModel(empty);
    if (old)
        old->deleteLater();
    setModified(false);
    emit modelChanged();
}

// --- panels -------------------------------------------------------------------

ZorPanel *QuorvaneProject::createPanel(const QModelIndex &index)
{
    const QString type = moduleType(index);
    if (type.isEmpty())
        return nullptr;
    ZorPanel *panel = ZorRegistry::createPanel(m_panelCreators, type, nullptr);
    if (!panel)
        return nullptr;
    if (!bindPanel(panel, index)) {
        delete panel;
        return nullptr;
    }
    panel->setUserLevel(userLevel());
    connect(this, &QuorvaneProject::userLevelChanged, panel, &ZorPanel::setUserLevel);
    return panel;
}

QModelIndex QuorvaneProject::moduleIndexFor(const QModelIndex &index)
{
    const QModelIndex element = firstColumn(index);
    if (!element.isValid() || !element.parent().isValid())
        return QModelIndex();
    if (!element.parent().parent().isValid())
        return element;
    return element.parent();
}

bool QuorvaneProject::bindPanel(ZorPanel *panel, const QModelIndex &index)
{
    if (!panel)
        return false;
    const QModelIndex element = firstColumn(index);
    if (m_messageLog)
        connect(panel, &ZorPanel::msgOut, m_messageLog.data(), &ZorDebugLog::msgLogger,
                Qt::UniqueConnection);

    const auto entry = findIndex(m_modules, moduleIndexFor(element));
    if (entry != m_modules.cend()) {
        ZorModule *module = entry.value();
        if (!module)
            return false;
        qDebug().noquote() << "connecting Panel" << panel->panelName() << "with Module"
                           << module->label();
        const bool slavePort = panel->usesSlavePort();
        if (slavePort)
            connect(panel, &ZorPanel::msgOut, module, &ZorModule::slaveIn);
        else
            connect(panel, &ZorPanel::msgOut, module, &ZorModule::masterIn);
        const auto moduleOut = slavePort ? &ZorModule::slaveOut : &ZorModule::masterOut;
        const int frameLimit = module->frameBacklogLimit();
        if (frameLimit > 0) {
            // The frames of a bus module reach the GUI thread within a bound.
            auto *gate = new ZorFrameGate(module, slavePort ? ZorModule::ToMaster : ZorModule::ToSlaves,
                                          frameLimit);
            gate->moveToThread(module->thread());
            connect(module, moduleOut, gate, &ZorFrameGate::pass);
            connect(gate, &ZorFrameGate::out, panel, &ZorPanel::msgIn);
            connect(panel, &QObject::destroyed, gate, &QObject::deleteLater);
            connect(module, &QObject::destroyed, gate, &QObject::deleteLater);
        } else {
            connect(module, moduleOut, panel, &ZorPanel::msgIn);
        }
    }

    const bool bound = panel->setupZorPanel(QPersistentModelIndex(element), m_model.data());
    dropDeadPanels();
    for (auto it = m_openPanels.begin(); it != m_openPanels.end();) {
        if (it.key() == element)
            it = m_openPanels.erase(it);
        else
            ++it;
    }
    m_openPanels.insert(QPersistentModelIndex(element), panel);
    return bound;
}

QList<QPersistentModelIndex> QuorvaneProject::visiblePanelIndexes(bool all) const
{
    QList<QPersistentModelIndex> result;
    const auto consider = [&](const QModelIndex &index) {
        const QDomElement element = m_model->nodeFromIndex(index).toElement();
        if (all || element.attribute(QStringLiteral("panelVisible")) == QLatin1String("1"))
            result.append(QPersistentModelIndex(index));
    };
    const QModelIndex root = m_model->index(0, 0);
    if (!root.isValid())
        return result;
    consider(root);
    for (int row = 0; row < m_model->rowCount(root); ++row) {
        const QModelIndex child = m_model->index(row, 0, root);
        consider(child);
        for (int sub = 0; sub < m_model->rowCount(child); ++sub)
            consider(m_model->index(sub, 0, child));
    }
    return result;
}

void QuorvaneProject::stopModules()
{
    performHostAction(DeleteModules);
}

bool QuorvaneProject::checkPanelsBeforeSave(QString &errorText)
{
    return prepareSave(errorText, false);
}

QuorvaneProject::ModuleMap QuorvaneProject::modules() const
{
    return m_modules;
}

ZorModule *QuorvaneProject::moduleOf(const QModelIndex &index) const
{
    const auto it = findIndex(m_modules, firstColumn(index));
    return it == m_modules.cend() ? nullptr : it.value();
}

// --- messages -------------------------------------------------------------------

void QuorvaneProject::broadcast(const ZorMessage &msg)
{
    // A module's slots run in the host thread: the message is queued there,
    // in module order, as if it came from each module's master.
    for (ZorModule *module : qAsConst(m_modules)) {
        if (module)
            QMetaObject::invokeMethod(module, "slaveIn", Qt::QueuedConnection,
                                      Q_ARG(ZorMessage, msg));
    }
    if (m_messageLog)
        m_messageLog->write(QStringLiteral("broadcast: %1").arg(msg.toString(4)));
}

void QuorvaneProject::textDropped(const QModelIndex &index, const QString &text)
{
    const auto it = findIndex(m_openPanels, firstColumn(index));
    if (it == m_openPanels.cend() || !it.value())
        return;
    it.value()->msgIn(ZorMessage(KM_DROP_DATA, KS_REQUEST, text));
}

// --- user level and GUI mode ---------------------------------------------------

int QuorvaneProject::userLevel() const
{
    return m_model ? m_model->userLevel() : 0;
}

void QuorvaneProject::setUserLevel(int level)
{
    if (!m_model || m_model->userLevel() == level)
        return;
    m_model->setUserLevel(level);
    emit userLevelChanged(level);
}

void QuorvaneProject::setGuiMode(int mode)
{
    if (m_model && m_model->guiMode() != mode)
        m_model->setGuiMode(mode);
}

bool QuorvaneProject::hasAccess(const QModelIndex &index) const
{
    return userLevel() >= firstColumn(index).data(ZorAbstractDomModel::UserLevelRole).toInt();
}

QString QuorvaneProject::displayName(const QModelIndex &index)
{
    const QModelIndex element = firstColumn(index);
    const QString label = element.data(Qt::DisplayRole).toString();
    const QModelIndex parent = element.parent();
    if (parent.isValid() && parent.parent().isValid())
        return parent.data(Qt::DisplayRole).toString() + QStringLiteral(" - ") + label;
    return label;
}

QString QuorvaneProject::moduleType(const QModelIndex &index)
{
    return firstColumn(index).data(ZorAbstractDomModel::TypeRole).toString();
}

// --- unsaved changes -------------------------------------------------------------

void QuorvaneProject::setModified(bool modified)
{
    if (m_modified == modified)
        return;
    m_modified = modified;
    emit modifiedChanged(modified);
}

void QuorvaneProject::documentEdited()
{
    setModified(true);
}

QString QuorvaneProject::unsavedChangesTitle()
{
    return tr("Quorvane project");
}

QString QuorvaneProject::unsavedChangesText()
{
    return tr("This project has been modified.\nDo you want to save your changes?");
}

bool QuorvaneProject::askSaveChanges(QWidget *parent, const std::function<bool()> &save)
{
    if (!m_modified)
        return true;
    ZorQuestionBox::Question question;
    question.icon = QMessageBox::Warning;
    question.title = unsavedChangesTitle();
    question.text = unsavedChangesText();
    question.buttons = QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel;
    question.defaultButton = QMessageBox::Save;
    switch (ZorQuestionBox::ask(parent, question)) {
    case QMessageBox::Save:
        // A save that fails keeps the project open: going on would lose the
        // changes the user just asked to keep.
        return save && save();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}
