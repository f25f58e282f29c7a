#include "zorpanelicons.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initPanelIconResources()
{
    Q_INIT_RESOURCE(zorpanelicons);
}

void ZorPanelIcons::init()
{
    static std::once_flag once;
    std::call_once(once, initPanelIconResources);
}

const QString ZorPanelIcons::Play = QStringLiteral(":/Toolbar/Icons/player_play_32x32.png");
const QString ZorPanelIcons::Stop = QStringLiteral(":/Toolbar/Icons/player_stop_32x32.png");
const QString ZorPanelIcons::Pause = QStringLiteral(":/Toolbar/Icons/player_pause_32x32.png");
const QString ZorPanelIcons::FastFwd = QStringLiteral(":/Toolbar/Icons/player_fastfwd_32x32.png");
const QString ZorPanelIcons::FastRev = QStringLiteral(":/Toolbar/Icons/player_fastrev_32x32.png");
const QString ZorPanelIcons::Record = QStringLiteral(":/Toolbar/Icons/toolbar_record_32x32.png");
const QString ZorPanelIcons::Zoom = QStringLiteral(":/Toolbar/Icons/toolbar_zoom_32x32.png");
const QString ZorPanelIcons::ClipboardCopy = QStringLiteral(":/Toolbar/Icons/Clipboard Copy.png");
const QString ZorPanelIcons::ClipboardPaste = QStringLiteral(":/Toolbar/Icons/Clipboard Paste.png");
const QString ZorPanelIcons::FolderOpen = QStringLiteral(":/Toolbar/Icons/Folder Open.png");
const QString ZorPanelIcons::Remove = QStringLiteral(":/Toolbar/Icons/toolbar_32x32_Remove.png");
