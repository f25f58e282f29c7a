// Application services: zip and 7z archives through the external 7za tool,
// and joining files (self-extractor stub, configuration, archive) into one.
//
// The tool is looked for where the program ships it, "Tools/7-zip/7za.exe"
// (or "7za") in the executable's folder, and otherwise on the search path.
// Every call blocks until the tool ends or its time-out passes and reports
// only success or failure; callers word their own messages.
//
// Archives come from users and downloads, so unzipArchive lists an archive
// first and refuses it when any entry would land outside the target folder
// (an absolute path, a ".." step) or is a link.
#pragma once

#include <QString>
#include <QStringList>

namespace ZorApplServices {

// The 7za program that the archive functions start; empty when none is found.
QString archiveToolPath();
// The folder that holds the self-extractor stubs ("Tools/7-zip" beside the
// executable, or the folder of a tool path set below).
QString archiveToolDir();
// Overrides the tool's location (tests, packaging); empty restores the lookup.
void setArchiveToolPath(const QString &path);

// The tool's arguments: x <archive> -y -o<folder>.
QStringList unzipArguments(const QString &archive, const QString &folder);
// The tool's arguments: a -r -ssw -mx7 [-tzip] <archive> <input>.
QStringList zipArguments(const QString &archive, const QString &input, bool sevenZipFormat);

// True when an archive entry path stays inside the folder it is unpacked into.
bool isSafeArchiveEntryPath(const QString &entryPath);
// Lists the archive with the tool and checks every entry; false when the
// archive cannot be listed or an entry is unsafe (its path goes to `badEntry`).
bool checkArchiveEntries(const QString &archive, QString *badEntry = nullptr);

// Extracts the archive into the folder (10 minutes to start and to finish).
bool unzipArchive(const QString &archive, const QString &folder);
// Packs `input` (a path or a wildcard path such as "folder/*") into the
// archive; zip unless sevenZipFormat. `timeoutMs` to start and to finish.
bool zipFiles(const QString &archive, const QString &input, int timeoutMs, bool sevenZipFormat);
// Writes `output` as stub (file `stubName` in archiveToolDir()), then
// `config`, then `archive`, byte for byte. Nothing is written when an input is
// missing, the time-out passes or writing fails.
bool concatenateFiles(const QString &archive, const QString &output, const QString &stubName,
                      const QString &config, int timeoutMs);

} // namespace ZorApplServices
