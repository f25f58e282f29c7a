// The runtime generator: packs the open, packed project together with a copy
// of the application folder into one stand-alone executable.
//
// Only its outside is here so far: the dialog the main window runs for a
// packed project, the check for the runtime resource files ("runtime.*.rcc"
// beside the program), the test for paths inside its work folders (kept out
// of the recent-file list), and the message port through which it asks the
// main window for app-control commands. The generation itself comes with the
// update subsystem.
#pragma once

#include "zormessage.h"

#include <QDialog>
#include <QStringList>

class QuorvaneProject;

class ZorGenerateRuntimeDialog : public QDialog
{
    Q_OBJECT
public:
    ZorGenerateRuntimeDialog(QWidget *parent, QuorvaneProject *project);

    // The runtime resource files beside the program, sorted by name
    // without regard to case.
    static QStringList runtimeResourceFiles();
    // Runs the dialog modally when a runtime resource file was found;
    // otherwise warns and returns 0.
    int execIfResourcesAvailable();
    // True for a path inside a work folder of the generator
    // ("QuorvaneTemp" and "quorvane_runtime_temp_", any letter case).
    static bool isRuntimeTempPath(const QString &path);

signals:
    void msgOut(const ZorMessage &msg);

private:
    QuorvaneProject *m_project;   // owned by the main window, which outlives the dialog
};
