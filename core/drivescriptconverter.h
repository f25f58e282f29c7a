// Rewrites drive-script text between the form the user edits and the form the
// image creator compiles.
//
// The user writes a drive script against a module named "drive"; on the drive
// (and for the image creator) the module is "targetlib". The conversion also
// puts the drive's API names into their one spelling, whatever letter case
// the user typed. Only whole identifiers in code are touched: text inside
// strings and comments, and identifiers that merely contain a name (`model`
// holds `Mode`), stay as they are.
#pragma once

#include <QString>
#include <QStringList>

class DriveScriptConverter
{
public:
    // The user's form: "targetlib" becomes "drive", "import drive" is added
    // at the top when the script lacks it, and API names get their spelling.
    static void toDriveModule(QString &text);
    // The image creator's form: the user's form with the module named
    // "targetlib" and "\n" line ends.
    static void toTargetLib(QString &text);
    // Names the module as the user wrote it in texts that come back from the
    // drive (messages, not code): every whole word "targetlib" becomes "drive".
    static void targetLibToDrive(QString &text);

    // The drive module's API names in their spelling.
    static const QStringList &apiNames();
};
