// What the command line and the application configuration choose at start:
// GUI mode, user level, debug mode, minimized window and the project file.
//
// Switches are recognised by their exact prefixes, without regard to case:
// "/uimode=", "/userlevel=", "/debugmode=" and "/minimized". Every other
// argument is a file: it becomes the project file when it ends in ".zorpro",
// ".zorzip" or ".zortpl" and is ignored otherwise, so an absolute path such as
// "/home/me/line.zorpro" is never taken for a switch.
#pragma once

#include <QString>
#include <QStringList>

class ZorStartupOptions
{
public:
    // The configuration values start-up reads.
    struct Config
    {
        QString defaultUiMode;   // "DefaultUiMode"
        QString userLevelNames;  // "UserLevelNames"
        bool allowCmdLineArgs = false;     // "AllowCmdLineArgs"
        bool allowDifferentUiMode = false; // "AllowDifferentUiMode"

        // Read from the application globals.
        static Config fromAppGlobals();
    };

    int guiMode = 0;
    int highestUserLevel = 0;
    int userLevel = 1;
    int debugMode = 0;
    bool minimized = false;
    QString projectFile;

    // `arguments` as the process received them: the first (the program) is
    // skipped. Bad switch values read as 0; unknown arguments are ignored.
    static ZorStartupOptions parse(const QStringList &arguments, const Config &config);

    // The first app-control command: "open," and the project file, or "new".
    QString firstCommand() const;

    static bool isProjectFile(const QString &argument);
};
