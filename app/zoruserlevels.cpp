// The main window's user levels: the menu "&User Level", the tool button and
// the password question before a level is raised.
//
// The levels are named by the configuration value "UserLevelNames" (level 0
// first); raising to level N asks for entry N of "UserLevelPasswords" when
// it is not empty (compared trimmed and in any letter case). Lowering never
// asks. The project holds the current level and announces it; docks, tiles
// and the tree's context menu follow it (updatePanelVisibility).
#include "quorvane.h"
#include "ui_quorvane.h"

#include "quorvaneproject.h"
#include "zorapplservices.h"
#include "zorquestionbox.h"

#include <QActionGroup>
#include <QInputDialog>
#include <QMenu>
#include <QSignalMapper>
#include <QToolBar>
#include <QToolButton>

namespace {

const int MaxUserLevel = 10;

QStringList configuredLevelNames()
{
    return ZorApplServices::appGlobal(QStringLiteral("UserLevelNames"))
        .split(QLatin1Char(','), Qt::SkipEmptyParts);
}

} // namespace

QString Quorvane::userLevelPassword(int level)
{
    return ZorApplServices::appGlobal(QStringLiteral("UserLevelPasswords"))
        .section(QLatin1Char(','), level, level);
}

void Quorvane::buildUserLevelControls()
{
    m_userLevelNames = configuredLevelNames();
    m_highestUserLevel = MaxUserLevel;
    if (m_userLevelNames.isEmpty())
        return;
    m_highestUserLevel = qMin(m_userLevelNames.size() - 1, MaxUserLevel);

    const QIcon userIcon(QStringLiteral(":/Toolbar/Icons/User.png"));
    auto *group = new QActionGroup(this);
    group->setExclusive(true);
    auto *mapper = new QSignalMapper(this);
    m_userLevelMenu = new QMenu(tr("&User Level"), this);
    m_userLevelMenu->setIcon(userIcon);
    for (int level = 0; level <= m_highestUserLevel; ++level) {
        auto *action = new QAction(
            userIcon, QStringLiteral("&%1 - %2").arg(level).arg(m_userLevelNames.at(level)), this);
        action->setCheckable(true);
        group->addAction(action);
        m_userLevelMenu->addAction(action);
        connect(action, &QAction::triggered, mapper, qOverload<>(&QSignalMapper::map));
        mapper->setMapping(action, level);
        m_userLevelActions << action;
    }
    connect(mapper, &QSignalMapper::mappedInt, this, &Quorvane::askNewUserLevel);

    ui->menuFile->insertMenu(ui->actionStopDrives, m_userLevelMenu);
    if (m_guiMode == 2) {
        ui->mainToolBar->insertActions(ui->actionStopDrives, m_userLevelActions);
        return;
    }
    m_userLevelButton = new QToolButton(this);
    m_userLevelButton->setObjectName(QStringLiteral("toolButtonUserLevel"));
    m_userLevelButton->setText(tr("&User Level"));
    m_userLevelButton->setIcon(userIcon);
    m_userLevelButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_userLevelButton->setMenu(m_userLevelMenu);
    m_userLevelButton->setPopupMode(QToolButton::MenuButtonPopup);
    m_userLevelButton->setToolTip(tr("Use arrow to select user level, click to go to next available"));
    ui->mainToolBar->insertWidget(ui->actionStopDrives, m_userLevelButton);
    connect(m_userLevelButton, &QToolButton::clicked, this, &Quorvane::userLevelToolButtonClicked);
}

void Quorvane::changeUserLevel(int level)
{
    if (!m_project)
        return;
    level = qBound(0, level, m_highestUserLevel);
    if (level != m_project->userLevel())
        m_project->setUserLevel(level);
    if (m_userLevelNames.isEmpty())
        return;
    if (level < m_userLevelActions.size())
        m_userLevelActions.at(level)->setChecked(true);
    m_currentUserLevelName = m_userLevelNames.value(level);
    updateWindowTitle();
}

void Quorvane::askNewUserLevel(int level)
{
    if (!m_project || level == m_project->userLevel())
        return;
    if (level < m_project->userLevel()) {
        changeUserLevel(level);
        return;
    }
    const QString password = userLevelPassword(level);
    if (password.isEmpty()) {
        changeUserLevel(level);
        return;
    }
    const QString levelText = level < m_userLevelActions.size() ? m_userLevelActions.at(level)->text()
                                                                : QString::number(level);
    for (;;) {
        QInputDialog dialog(this, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        dialog.setWindowTitle(tr("New User Access Level"));
        dialog.setLabelText(tr("Please enter required password for access level '%1'").arg(levelText));
        dialog.setTextEchoMode(QLineEdit::Password);
        if (dialog.exec() != QDialog::Accepted) {
            // The menu has checked the chosen level already: back to the
            // current one.
            changeUserLevel(m_project->userLevel());
            return;
        }
        const QString entry = dialog.textValue().trimmed();
        if (entry.isEmpty())
            continue;
        if (entry.toLower() == password.toLower().trimmed()) {
            changeUserLevel(level);
            return;
        }
        ZorQuestionBox::Question wrong;
        wrong.icon = QMessageBox::Warning;
        wrong.title = tr("New User Access Level");
        wrong.text = tr("Incorrect password. Please see the manual (use Help button or F1) about "
                        "User Levels.");
        wrong.buttons = QMessageBox::Ok;
        wrong.defaultButton = QMessageBox::Ok;
        ZorQuestionBox::ask(this, wrong);
    }
}

void Quorvane::userLevelToolButtonClicked()
{
    if (m_project && m_project->userLevel() < m_highestUserLevel)
        askNewUserLevel(m_project->userLevel() + 1);
}
