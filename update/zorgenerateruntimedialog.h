// The runtime generator: packs the open, packed project together with a copy
// of the application folder into one stand-alone executable, made of a
// self-extractor stub, the stub's configuration (UTF-8 with byte-order mark)
// and a 7z archive, joined byte by byte.
//
// The user picks the target file and one runtime resource file
// ("runtime.*.rcc" beside the program), which becomes the copy's
// "Quorvane.user.rcc" and so decides how the runtime behaves. The archive
// holds one folder named after the target's base name: the application
// folder without "Templates", "Projects" and the other runtime resource
// files, with the project saved as "Templates/runtime.zortpl". The stub is
// "quorvane_runtime.sfx" in the 7-Zip tool's folder (built from
// update/runtimestub): run, the runtime unpacks that folder beside itself
// and starts the program in it with the packed project.
//
// Programs and libraries are packed without their debug information where
// the platform has a tool to take it off ("strip"): it is most of their
// size, and packing it made the generation slow.
//
// Everything is built in a work folder below the system temporary folder,
// which goes again whether generation succeeds or fails; the target is
// replaced only by a complete file, so a failed generation leaves an earlier
// one as it was. GUI thread only; the external packer is waited for.
#pragma once

#include "zormessage.h"

#include <QDialog>
#include <QFileInfo>
#include <QMap>
#include <QPointer>
#include <QStringList>

namespace Ui {
class ZorGenerateRuntimeDialog;
}
class ZorSavableProject;

class ZorGenerateRuntimeDialog : public QDialog
{
    Q_OBJECT
public:
    // `project` must also be a QObject (the project class is).
    ZorGenerateRuntimeDialog(QWidget *parent, ZorSavableProject *project);
    ~ZorGenerateRuntimeDialog() override;

    // Runs the dialog modally when a runtime resource file was found;
    // otherwise warns and returns 0.
    int execIfResourcesAvailable();
    // True for a path inside a work folder of the generator
    // ("QuorvaneTemp" and "quorvane_runtime_temp_", any letter case).
    static bool isRuntimeTempPath(const QString &path);

    // The folder that is packed (and searched for runtime resource files)
    // and the program the runtime starts: the running program's unless set
    // here. Empty texts restore them. For tests and packaging.
    static void setApplicationFiles(const QString &folder, const QString &programFileName);
    static QString applicationFolder();
    static QString programFileName();
    // The runtime resource files of the application folder, sorted by name
    // without regard to case.
    static QStringList runtimeResourceFiles();
    // In a build tree (a folder holding CMakeCache.txt) the program shares
    // its folder with the build's own files: adds them to the skip lists of
    // the copy, so that only the program, its resource files and the files
    // it loads at run time are packed. Nothing for any other folder.
    static void addBuildTreeSkips(const QString &folder, QStringList &skipFolders,
                                  QStringList &skipFiles);
    // The program's path inside the archive, as the stub configuration names
    // it: "<target base name>/<program>" in native separators, every
    // backslash doubled.
    static QString configProgramPath(const QString &target, const QString &program);
    // Takes the debug information off every ELF program and library below
    // the folder with the "strip" tool; nothing where there is no such tool
    // (and a file it cannot handle stays as it is).
    static void stripDebugInformation(const QString &folder);

signals:
    void msgOut(const ZorMessage &msg);

public slots:
    void on_toolButtonBrowse_clicked();
    void on_pushButtonStartRuntime_clicked();
    void on_pushButtonGenerate_clicked();
    void on_pushButtonCancel_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    // The checks before a generation; a failing one shows its warning box.
    // `target` becomes the absolute target path.
    bool checkTarget(QString &target);
    bool generate(const QString &target, const QString &resource, QString &errorText);
    bool prepareWorkFolder(const QString &workFolder, const QString &resource);
    void setProgress(int step, const QString &text);
    void setInputsEnabled(bool enabled);
    bool isGenerating() const;
    void warn(const QString &title, const QString &text);

    Ui::ZorGenerateRuntimeDialog *ui;
    ZorSavableProject *m_project;
    QPointer<QObject> m_projectObject;   // guards m_project
    QMap<QString, QFileInfo> m_resources;
};
