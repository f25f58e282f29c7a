// Application services: the working folder, the projects folder, names of
// files and folders, and copying and removing folder trees.
//
// Paths use '/' separators throughout. Functions report failure by their
// result only; removeDirRecursively also writes a warning naming what it could
// not remove. Folder walks never follow symbolic links.
#pragma once

#include <QString>
#include <QStringList>

namespace ZorApplServices {

// --- working folder and relative paths
// The process's current folder as an absolute path.
QString workingDir();
// Makes the folder part of `path` the current folder; the projects folder
// when `path` is empty. A bare file name changes nothing.
void setWorkingDir(const QString &path);
// A path whose folder is the working folder becomes the bare file name; one
// below it becomes relative to it; any other path is left as it is. Folders
// compare without regard to case, unless the other spelling exists as a
// folder of its own.
void makeRelativeToWorkingDir(QString &path);
// A bare file name (or "./name") becomes working folder + "/" + name.
void makeAbsoluteToWorkingDir(QString &path);
// <documents>/<AppTitle>/Projects, created where missing.
QString projectsDir();

// --- names
QString fileName(const QString &path);
QString pathLastPart(const QString &path);
QString pathWithoutLastPart(const QString &path);
// A new UUID, 36 characters, without braces.
QString uniqueId();
// A folder name not yet taken in `parent`: the name, else "name (1)" to
// "name (100)", else "name-" and a new UUID. Creates nothing.
QString uniqueDirName(const QString &parent, const QString &name);
// True when the text holds one of ? * [ ] " < > |.
bool hasInvalidFileNameChars(const QString &text);
// Display form of a path: its first three characters, ".../" when the file
// does not lie directly there, and the file name (shortened beyond 50
// characters to 22 + "..." + 22).
QString shortPathText(const QString &path);
// The user's login name (USERNAME, or USER where USERNAME is not set).
QString userName();
// Name of the folder under the system temporary folder that holds work folders.
QString tempFolderName();
// Local time as "yyyy-MM-dd hh:mm:ss.zzz".
QString currentDateTimeText();

// --- folder trees
// Deletes the folder and everything in it, hidden entries included. Symbolic
// links are removed as links: nothing outside the folder is touched. Stops at
// the first entry that cannot be removed and warns "can't remove '<path>'".
bool removeDirRecursively(const QString &path);
// Appends every file of the tree (absolute paths, native separators) to
// `files`, passing over the folders and files named in the skip lists and any
// symbolic link.
void collectFiles(const QString &folder, QStringList &files,
                  const QStringList &skipFolders = QStringList(),
                  const QStringList &skipFiles = QStringList());
// Copies the tree of `source` into `destination` (created when missing).
// Never overwrites: an existing target file fails the copy.
bool copyDir(const QString &source, const QString &destination,
             const QStringList &skipFolders = QStringList(),
             const QStringList &skipFiles = QStringList());

} // namespace ZorApplServices
