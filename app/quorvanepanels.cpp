// The main window's panel hosting: docks in GUI mode 0, tiles and pages of
// the panel stack in the tile layouts, the project tree and its context menu.
#include "quorvane.h"
#include "ui_quorvane.h"

#include "quorvaneproject.h"
#include "zordommodel.h"
#include "zorpanel.h"
#include "zorquestionbox.h"
#include "zorxmlnesting.h"

#include <QChildEvent>
#include <QClipboard>
#include <QDockWidget>
#include <QDomDocument>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTextStream>
#include <QTimer>
#include <QToolBar>

namespace {

QModelIndex firstColumn(const QModelIndex &index)
{
    return index.isValid() ? index.sibling(index.row(), 0) : index;
}

bool isTopElement(const QModelIndex &index)
{
    return index.isValid() && index.row() == 0 && !index.parent().isValid();
}

// Persistent indexes change their order when rows move, so maps keyed by
// them are searched instead of trusting their order.
template<class Map>
typename Map::iterator findElement(Map &map, const QModelIndex &index)
{
    const QModelIndex element = firstColumn(index);
    if (!element.isValid())
        return map.end();
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it.key().isValid() && it.key() == element)
            return it;
    }
    return map.end();
}

} // namespace

QString Quorvane::panelName(const QModelIndex &index)
{
    return QuorvaneProject::displayName(index);
}

void Quorvane::updateProjectTree()
{
    if (!m_project)
        return;
    QItemSelectionModel *oldSelection = ui->treeView->selectionModel();
    ui->treeView->setModel(m_project->model());
    // A view does not delete the selection model it made for its old model.
    if (oldSelection && oldSelection != ui->treeView->selectionModel())
        oldSelection->deleteLater();
    if (ui->treeView->isVisibleTo(this)) {
        ui->treeView->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
        ui->treeView->header()->setSectionResizeMode(1, QHeaderView::Stretch);
        ui->treeView->expandAll();
        fitTreeWidth();
    }
}

void Quorvane::fitTreeWidth()
{
    // Wide enough for the labels and the whole "Status" column, so that
    // neither is cut nor needs a horizontal scroll bar.
    QTreeView *tree = ui->treeView;
    const QAbstractItemView *view = tree;   // the column size hints are public there
    const int least = tree->header()->minimumSectionSize();
    const int labels = qMax(view->sizeHintForColumn(0), least);
    const int status =
        qMax(least, qMax(view->sizeHintForColumn(1), tree->header()->sectionSizeHint(1)));
    const int chrome = 2 * tree->frameWidth()
                       + tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, tree) + 8;
    tree->setMinimumWidth(qMax(MinimumTreeWidth, labels + status + chrome));
}

bool Quorvane::bindHostedPanel(ZorPanel *panel)
{
    if (!panel)
        return false;
    panel->setGuiMode(m_guiMode);
    connect(panel, &ZorPanel::msgOut, this, &Quorvane::appControlIn, Qt::UniqueConnection);
    connect(this, &Quorvane::appControlResponse, panel, &ZorPanel::msgIn, Qt::UniqueConnection);
    return true;
}

// --- docks (GUI mode 0) ---------------------------------------------------------

QDockWidget *Quorvane::dockOf(const QModelIndex &index) const
{
    auto &docks = const_cast<QMap<QPersistentModelIndex, QPointer<QDockWidget>> &>(m_docks);
    const auto it = findElement(docks, index);
    return it == docks.end() ? nullptr : it.value().data();
}

void Quorvane::dropDock(const QModelIndex &index)
{
    const auto it = findElement(m_docks, index);
    if (it != m_docks.end())
        m_docks.erase(it);
}

void Quorvane::newDock(const QModelIndex &index)
{
    if (!m_project)
        return;
    const QModelIndex element = firstColumn(index);
    if (!element.isValid() || !m_project->hasAccess(element))
        return;

    QDockWidget *dock = nullptr;
    const auto existing = findElement(m_docks, element);
    bool hasEntry = existing != m_docks.end();
    if (hasEntry) {
        dock = existing.value().data();
        if (dock && dock->isHidden()) {
            // A dock hidden by a lower user level is made afresh.
            delete dock;
            dock = nullptr;
        }
        if (!dock) {
            m_docks.erase(existing);
            hasEntry = false;
        }
    }

    const QString name = panelName(element);
    // A dock's title bar and its tab read "&" as a shortcut mark: doubled,
    // it shows as itself.
    const QString title = QString(name).replace(QLatin1Char('&'), QLatin1String("&&"));
    QDockWidget *partner = nullptr;
    bool place = true;
    if (!dock) {
        dock = new QDockWidget(this);
        dock->setAllowedAreas(Qt::RightDockWidgetArea | Qt::TopDockWidgetArea
                              | Qt::BottomDockWidgetArea);
        dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable
                          | QDockWidget::DockWidgetFloatable);
        dock->setAttribute(Qt::WA_DeleteOnClose);
        ZorPanel *panel = m_project->createPanel(element);
        if (!panel) {
            m_docks.insert(QPersistentModelIndex(element), dock);
            dock->hide();
            return;
        }
        bindHostedPanel(panel);
        dock->setWindowTitle(title);
        dock->setObjectName(name);
        dock->setWidget(panel);
    } else {
        // An open panel keeps its place among the tabs; raising it below
        // makes it the front tab.
        dock->setWindowTitle(title);
        dock->setObjectName(name);
        place = false;
    }

    if (place) {
        if (!partner) {
            for (auto it = m_docks.cbegin(); it != m_docks.cend(); ++it) {
                QDockWidget *other = it.value().data();
                if (other && other != dock && other->isVisible()
                    && dockWidgetArea(other) == Qt::RightDockWidgetArea)
                    partner = other;
            }
        }
        dock->show();
        addDockWidget(Qt::RightDockWidgetArea, dock);
        if (partner)
            tabifyDockWidget(partner, dock);
        else
            giveFirstDockItsShare(dock);
    }
    dock->raise();
    if (!hasEntry)
        m_docks.insert(QPersistentModelIndex(element), dock);
}

void Quorvane::childEvent(QChildEvent *event)
{
    QMainWindow::childEvent(event);
    // The main window makes the tab bars of tabbed docks as its own children.
    if (event->type() == QEvent::ChildPolished) {
        if (auto *bar = qobject_cast<QTabBar *>(event->child())) {
            bar->setElideMode(Qt::ElideNone);
            bar->setUsesScrollButtons(true);
        }
    }
}

void Quorvane::giveFirstDockItsShare(QDockWidget *dock)
{
    // A dock asks only for its panel's small size hint; the first one in the
    // right area takes the room the project tree does not need.
    const int treeWidth = ui->treeView->isVisible() ? ui->treeView->minimumWidth() : 0;
    const int share = qMax(width() * 3 / 5, width() - treeWidth - 60);
    resizeDocks({dock}, {qMin(share, width() - treeWidth)}, Qt::Horizontal);
}

void Quorvane::widenPanelForAWhile(QWidget *panel)
{
    if (!panel)
        return;
    // Only the first widening counts: its minimum is the one to give back.
    if (!m_widenedPanel) {
        m_widenedPanel = panel;
        m_widenedPanelMinimum = panel->minimumWidth();
    }
    panel->setMinimumWidth(width() * 3 / 4);
    QTimer::singleShot(100, this, &Quorvane::resetTempSizeChange);
}

void Quorvane::resetTempSizeChange()
{
    // The panel widened by the last "panel" command gets its own minimum
    // back, whichever module it belongs to.
    if (m_widenedPanel)
        m_widenedPanel->setMinimumWidth(m_widenedPanelMinimum);
    m_widenedPanel.clear();
}

// --- tiles and pages (GUI modes 1 to 5) --------------------------------------------

void Quorvane::newTileAndPanel(const QModelIndex &index)
{
    if (!m_project)
        return;
    const QModelIndex element = firstColumn(index);
    const QString name = panelName(element);

    ZorPanel *panel = nullptr;
    const QuorvaneProject::PanelMap open = m_project->openPanels();
    for (auto it = open.cbegin(); it != open.cend(); ++it) {
        if (it.key().isValid() && it.key() == element && it.value()) {
            panel = it.value().data();
            break;
        }
    }
    if (!panel) {
        panel = m_project->createPanel(element);
        if (!panel)
            return;
        bindHostedPanel(panel);
    }

    m_pages.insert(ui->stackedWidget->count(), QPersistentModelIndex(element));
    ui->stackedWidget->addWidget(panel);

    if (ui->listWidgetTiles->isVisibleTo(this)) {
        auto *item = new QListWidgetItem(ui->listWidgetTiles);
        QModelIndex tileIndex = element;
        setTile(item, tileIndex, name);
    }
}

void Quorvane::setTile(QListWidgetItem *item, const QModelIndex &index, const QString &name)
{
    if (!item)
        return;
    item->setText(QString(name).replace(QStringLiteral(" - "), QStringLiteral("\n> ")));
    item->setToolTip(index.data(Qt::ToolTipRole).toString());
    item->setWhatsThis(index.data(Qt::WhatsThisRole).toString());
    item->setStatusTip(index.data(Qt::StatusTipRole).toString());
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setSizeHint(QSize(ui->listWidgetTiles->maximumWidth() - 10, m_tileSize));
    updateTile(item, index);
}

void Quorvane::updateTile(QListWidgetItem *item, const QModelIndex &index)
{
    if (!item || !index.isValid() || !m_project)
        return;
    const QModelIndex element = firstColumn(index);
    const int status = element.data(ZorAbstractDomModel::StatusRole).toInt();
    auto known = findElement(m_tileStatus, element);
    if (known != m_tileStatus.end() && known.value() == status)
        return;
    if (known != m_tileStatus.end())
        known.value() = status;
    else
        m_tileStatus.insert(QPersistentModelIndex(element), status);
    const QIcon icon = m_project->model()->moduleIcon(element);
    item->setIcon(QIcon(icon.pixmap(m_tileSize, m_tileSize)));
}

void Quorvane::updateTiles()
{
    if (m_guiMode == 0)
        return;
    for (auto it = m_pages.cbegin(); it != m_pages.cend(); ++it)
        updateTile(ui->listWidgetTiles->item(it.key()), it.value());
}

void Quorvane::changePage(int page)
{
    if (page < 0 || page >= ui->stackedWidget->count())
        return;
    const int previous = ui->stackedWidget->currentIndex();
    if (page != previous && !m_keepHistory) {
        const QPersistentModelIndex left = m_pages.value(previous);
        if (left.isValid()) {
            m_pageHistory.append(left);
            while (m_pageHistory.size() > MaxPageHistory)
                m_pageHistory.removeFirst();
        }
    }
    ui->stackedWidget->setCurrentIndex(page);
    updatePageNavigation();
    if (!ui->listWidgetTiles->isVisibleTo(this))
        return;
    ui->listWidgetTiles->setCurrentRow(page);
    const QModelIndex element = m_pages.value(page);
    ui->labelStackedPanels->setText(QuorvaneProject::displayName(element).replace(
        QStringLiteral(" - "), QStringLiteral(" > ")));
}

// --- page navigation (GUI modes 1 to 5) --------------------------------------------

void Quorvane::buildPageNavigation()
{
    m_actionHome = new QAction(style()->standardIcon(QStyle::SP_DirHomeIcon), tr("Home"), this);
    m_actionHome->setObjectName(QStringLiteral("actionHome"));
    m_actionHome->setShortcut(QKeySequence(QStringLiteral("Alt+Home")));
    m_actionHome->setToolTip(tr("Show the project's home page (Alt+Home)"));
    connect(m_actionHome, &QAction::triggered, this, &Quorvane::goHome);
    m_actionBack = new QAction(style()->standardIcon(QStyle::SP_ArrowBack), tr("Back"), this);
    m_actionBack->setObjectName(QStringLiteral("actionBack"));
    // Backspace goes back only where no editor takes the key for itself.
    m_actionBack->setShortcuts({QKeySequence(QStringLiteral("Alt+Left")), QKeySequence(Qt::Key_Backspace)});
    m_actionBack->setToolTip(tr("Show the page shown before (Alt+Left, Backspace)"));
    connect(m_actionBack, &QAction::triggered, this, &Quorvane::goBack);
    // Window-wide, whatever the menus and tool bars of the mode show.
    addAction(m_actionHome);
    addAction(m_actionBack);

    // Without tiles, a page reached by a link needs a visible way back.
    if (m_guiMode != 4 && m_guiMode != 5)
        return;
    m_navigationBar = new QToolBar(ui->centralWidget);
    m_navigationBar->setObjectName(QStringLiteral("navigationBar"));
    m_navigationBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_navigationBar->setMovable(false);
    m_navigationBar->addAction(m_actionHome);
    m_navigationBar->addAction(m_actionBack);
    m_navigationLabel = new QLabel(m_navigationBar);
    m_navigationLabel->setObjectName(QStringLiteral("labelNavigation"));
    m_navigationLabel->setContentsMargins(12, 0, 0, 0);
    m_navigationBar->addWidget(m_navigationLabel);
    ui->verticalLayoutTiles->insertWidget(0, m_navigationBar);
    m_navigationBar->hide();
}

int Quorvane::homePage() const
{
    // The page the project opened on (its home page, or in the operator
    // modes its first operator screen); failing that the project module's.
    for (const QPersistentModelIndex &home : {m_homeElement, QPersistentModelIndex()}) {
        for (auto it = m_pages.cbegin(); it != m_pages.cend(); ++it) {
            const QPersistentModelIndex &element = it.value();
            if (element.isValid() && (home.isValid() ? element == home : !element.parent().isValid()))
                return it.key();
        }
    }
    return ui->stackedWidget->count() > 0 ? 0 : -1;
}

void Quorvane::updatePageNavigation()
{
    if (!m_actionHome)
        return;
    const int current = ui->stackedWidget->currentIndex();
    const int home = homePage();
    m_actionHome->setEnabled(home >= 0 && current != home);
    m_actionBack->setEnabled(!m_pageHistory.isEmpty());
    if (!m_navigationBar)
        return;
    m_navigationBar->setVisible(home >= 0 && current != home);
    m_navigationLabel->setText(QuorvaneProject::displayName(m_pages.value(current))
                                   .replace(QStringLiteral(" - "), QStringLiteral(" > ")));
}

void Quorvane::goHome()
{
    const int home = homePage();
    if (home >= 0 && home != ui->stackedWidget->currentIndex())
        changePage(home);
}

void Quorvane::goBack()
{
    while (!m_pageHistory.isEmpty()) {
        const QPersistentModelIndex element = m_pageHistory.takeLast();
        for (auto it = m_pages.cbegin(); it != m_pages.cend(); ++it) {
            if (element.isValid() && it.value() == element) {
                m_keepHistory = true;
                changePage(it.key());
                m_keepHistory = false;
                return;
            }
        }
    }
    updatePageNavigation();
}

void Quorvane::clearTilesAndPanelStack(bool unused)
{
    Q_UNUSED(unused);
    while (ui->stackedWidget->count() > 0) {
        const int page = ui->stackedWidget->count() - 1;
        QWidget *widget = ui->stackedWidget->widget(page);
        ui->stackedWidget->removeWidget(widget);
        // Pages of modules that still exist belong to the project's open
        // panels; only the others go.
        const QPersistentModelIndex element = m_pages.value(page);
        if (!element.isValid()) {
            widget->hide();
            widget->deleteLater();
        }
    }
    // The tile list must not report a row change into a stack being rebuilt.
    const QSignalBlocker block(ui->listWidgetTiles);
    ui->listWidgetTiles->clear();
    m_pages.clear();
    m_tileStatus.clear();
}

void Quorvane::clearTilesAndPanelStack()
{
    clearTilesAndPanelStack(false);
}

// --- following the project -------------------------------------------------------

void Quorvane::updatePanelVisibility()
{
    if (!m_project)
        return;
    if (m_guiMode == 0) {
        for (auto it = m_docks.begin(); it != m_docks.end();) {
            QDockWidget *dock = it.value().data();
            if (!dock) {
                it = m_docks.erase(it);
            } else if (!it.key().isValid()) {
                delete dock;
                it = m_docks.erase(it);
            } else {
                if (!m_project->hasAccess(it.key()))
                    dock->hide();
                ++it;
            }
        }
        ui->treeView->setContextMenuPolicy(m_project->userLevel() >= 2 ? Qt::CustomContextMenu
                                                                       : Qt::NoContextMenu);
        return;
    }

    const QPersistentModelIndex shown = m_pages.value(ui->stackedWidget->currentIndex());
    clearTilesAndPanelStack(false);
    const QList<QPersistentModelIndex> elements = m_project->visiblePanelIndexes(true);
    for (const QPersistentModelIndex &element : elements) {
        const bool deep = element.parent().isValid() && element.parent().parent().isValid();
        const int required = deep ? element.data(ZorAbstractDomModel::UserLevelRole).toInt() : 0;
        if (m_project->userLevel() >= required)
            newTileAndPanel(element);
    }
    m_project->dropDeadPanels();

    // The page shown before stays shown when its module still exists (the
    // stack was rebuilt: this is no step of the user's).
    for (auto it = m_pages.cbegin(); it != m_pages.cend(); ++it) {
        if (shown.isValid() && it.value() == shown) {
            m_keepHistory = true;
            changePage(it.key());
            m_keepHistory = false;
            return;
        }
    }
    updatePageNavigation();
    if (!ui->listWidgetTiles->isVisibleTo(this))
        return;
    selectPanel(QString());
}

void Quorvane::closePanels()
{
    m_pageHistory.clear();
    const auto docks = m_docks;
    m_docks.clear();
    for (const QPointer<QDockWidget> &dock : docks)
        delete dock.data();
    ui->labelStackedPanels->setText(QString());
    clearTilesAndPanelStack(true);
}

void Quorvane::selectPanel()
{
    selectPanel(QString());
}

void Quorvane::selectPanel(const QString &name)
{
    if (!m_project)
        return;
    QString key = name.trimmed().toLower().replace(QStringLiteral(" > "), QStringLiteral(" - "));
    const auto typeMatches = [&key](const QModelIndex &index) {
        const QString type = QuorvaneProject::moduleType(index);
        return type == key || (key == QLatin1String("uipanel") && type == QLatin1String("uipanel_node"));
    };
    const auto nameMatches = [&key](const QModelIndex &index) {
        return panelName(index).trimmed().toLower() == key;
    };

    if (m_guiMode == 0) {
        if (key.isEmpty())
            return;
        const QList<QPersistentModelIndex> all = m_project->visiblePanelIndexes(true);
        QModelIndex match;
        for (const QPersistentModelIndex &index : all) {
            if (nameMatches(index)) {
                match = index;
                break;
            }
        }
        if (!match.isValid()) {
            for (const QPersistentModelIndex &index : all) {
                if (typeMatches(index)) {
                    match = index;
                    break;
                }
            }
        }
        if (!match.isValid())
            return;
        newDock(match);
        if (m_docks.size() == 1) {
            // The first dock opens wide; the user may narrow it again.
            QDockWidget *dock = m_docks.first().data();
            if (dock)
                widenPanelForAWhile(dock->widget());
        }
        return;
    }

    if (key.isEmpty()) {
        if (m_guiMode <= 3) {
            changePage(0);
            return;
        }
        key = QStringLiteral("uipanel");
    }
    for (auto it = m_pages.cbegin(); it != m_pages.cend(); ++it) {
        if (nameMatches(it.value())) {
            changePage(it.key());
            return;
        }
    }
    for (auto it = m_pages.cbegin(); it != m_pages.cend(); ++it) {
        if (typeMatches(it.value())) {
            changePage(it.key());
            return;
        }
    }
}

// --- the project tree's context menu and edit commands ----------------------------------

namespace {

// The "module" element held by the clipboard text, or a null element.
QDomElement clipboardModule(QDomDocument &document)
{
    // A pasted module lands at depth 1 or 2 below the project module: the
    // project must stay within the nesting limit to be opened again.
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty()
        || ZorXmlNesting::check(text, ZorXmlNesting::MaxModuleDepth - 2) != ZorXmlNesting::Allowed
        || !document.setContent(text, false))
        return QDomElement();
    const QDomElement element = document.firstChild().toElement();
    if (element.isNull() || element.tagName().compare(QLatin1String("module"), Qt::CaseInsensitive) != 0)
        return QDomElement();
    return element;
}

bool isDepthOne(const QModelIndex &index)
{
    return index.isValid() && index.parent().isValid() && !index.parent().parent().isValid();
}

} // namespace

void Quorvane::enableTreeActions(const QModelIndex &index)
{
    const bool hit = index.isValid();
    const bool movable = hit && !isTopElement(index);
    ui->actionProjectTreeCut->setEnabled(movable);
    ui->actionProjectTreeCopy->setEnabled(movable);
    ui->actionProjectTreeDelete->setEnabled(movable);
    ui->actionProjectTreeRename->setEnabled(hit);

    QDomDocument clip;
    const QDomElement module = clipboardModule(clip);
    bool paste = !module.isNull();
    if (paste) {
        const int depth = module.attribute(QStringLiteral("moduleDepth")).toInt();
        if (depth == 2)
            paste = hit && !isTopElement(index);
        else if (depth == 1)
            paste = !(hit && !isTopElement(index) && index.parent().isValid()
                      && index.parent().parent().isValid());
    }
    ui->actionProjectTreePaste->setEnabled(paste);
}

void Quorvane::showTreeContextMenu(const QPoint &pos)
{
    const QModelIndex index = ui->treeView->indexAt(pos);
    if (index.isValid() && index.column() != 0)
        return;
    m_contextIndex = index;
    enableTreeActions(index);
    m_treeMenu->popup(ui->treeView->viewport()->mapToGlobal(pos));
}

bool Quorvane::copyModuleToClipboard()
{
    if (!m_project)
        return false;
    QString objections;
    if (!m_project->checkPanelsBeforeSave(objections))
        return false;
    const QModelIndex element = m_contextIndex;
    if (!element.isValid() || isTopElement(element))
        return false;
    const QDomNode node = m_project->model()->nodeFromIndex(element);
    if (node.isNull())
        return false;
    QString text;
    QTextStream stream(&text);
    node.save(stream, 4);
    QGuiApplication::clipboard()->setText(text);
    return true;
}

void Quorvane::on_actionProjectTreeCopy_triggered()
{
    copyModuleToClipboard();
}

void Quorvane::on_actionProjectTreeCut_triggered()
{
    if (copyModuleToClipboard())
        m_project->removeModule(QString(), QString(), m_contextIndex);
}

void Quorvane::on_actionProjectTreePaste_triggered()
{
    if (!m_project)
        return;
    const QModelIndex context = m_contextIndex;
    const bool valid = context.isValid();
    const bool top = isTopElement(context);
    const bool depthOne = isDepthOne(context);
    const bool deep = valid && !top && !depthOne;

    QDomDocument clip;
    QDomElement module = clipboardModule(clip);
    if (module.isNull())
        return;
    const int depth = module.attribute(QStringLiteral("moduleDepth")).toInt();
    if ((depth == 2 && (!valid || top)) || (depth == 1 && deep))
        return;

    QModelIndex parent;
    if (depth == 1)
        parent = m_project->model()->index(0, 0);
    else if (depthOne)
        parent = context;
    else if (deep)
        parent = context.parent();
    // The project makes the labels unique under the target parent.
    m_project->addModule(QString(), QString(), QString(), parent, QString(), module);
}

void Quorvane::on_actionProjectTreeDelete_triggered()
{
    if (!m_project || !m_contextIndex.isValid())
        return;
    ZorQuestionBox::Question question;
    question.icon = QMessageBox::Warning;
    question.title = tr("Delete Module");
    const bool children = m_project->model()->rowCount(m_contextIndex) > 0;
    question.text = tr("Are you sure you want to delete this module%1from the project?")
                        .arg(children ? tr(" and its children ") : QStringLiteral(" "));
    question.buttons = QMessageBox::Yes | QMessageBox::No;
    question.defaultButton = QMessageBox::No;
    if (ZorQuestionBox::ask(this, question) != QMessageBox::No)
        m_project->removeModule(QString(), QString(), m_contextIndex);
}

void Quorvane::on_actionProjectTreeRename_triggered()
{
    if (!m_project || !m_contextIndex.isValid())
        return;
    const QDomElement element = m_project->model()->nodeFromIndex(m_contextIndex).toElement();
    if (element.isNull())
        return;
    const QString old = element.attribute(QStringLiteral("label"));
    QString text = old;
    for (;;) {
        QInputDialog dialog(this, Qt::Dialog | Qt::WindowCloseButtonHint);
        dialog.setWindowTitle(tr("Rename Module"));
        dialog.setLabelText(tr("Enter a new name for this module"));
        dialog.setTextEchoMode(QLineEdit::Normal);
        dialog.setTextValue(text);
        if (dialog.exec() != QDialog::Accepted)
            return;
        text = dialog.textValue();
        if (!text.trimmed().isEmpty())
            break;
    }
    if (text != old)
        m_project->renameModule(text, m_contextIndex);
}
