// The update wizard: checks the configured update server for newer
// application files and project templates and installs them.
//
// Only its outside is here so far: whether an update server is configured,
// the dialog the main window runs modally, and the message port through which
// it asks the main window for app-control commands. The wizard's steps
// (login, catalogue, downloads) come with the update subsystem.
#pragma once

#include "zormessage.h"

#include <QDialog>

class ZorUpdateDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ZorUpdateDialog(QWidget *parent = nullptr);

    // True when "UpdateUserPrefix" and "UpdateUrl", each trimmed, are both
    // set; the main window offers its update action only then.
    static bool isUpdateConfigured();

signals:
    void msgOut(const ZorMessage &msg);
};
