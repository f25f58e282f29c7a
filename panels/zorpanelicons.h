// The tool-bar pictures of the bus panels (resource prefix /Toolbar/Icons,
// drawn by resources/icons/make_icons.py). The panels library is linked
// statically, so its resources are registered by init(), which every panel
// that uses them calls in its constructor.
#pragma once

#include <QString>

class ZorPanelIcons
{
public:
    static void init();

    static const QString Play;
    static const QString Stop;
    static const QString Pause;
    static const QString FastFwd;
    static const QString FastRev;
    static const QString Record;
    static const QString Zoom;
    static const QString ClipboardCopy;
    static const QString ClipboardPaste;
    static const QString FolderOpen;
    static const QString Remove;
};
