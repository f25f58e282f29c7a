// Application services: the process-wide application globals and the product
// configuration they are loaded from.
//
// The configuration ships as two binary resource files beside the executable,
// "Quorvane.rcc" and "Quorvane.user.rcc". Each holds a settings file (XML whose
// "Setting" elements carry the entries, keyed by their "name" attribute),
// enciphered and written as hexadecimal text. main() loads the globals once,
// in the GUI thread, before any other thread exists; afterwards they are only
// read, so lookups need no lock.
//
// The file, folder and archive services of the same namespace are declared in
// zorapplfiles.h and zorapplarchives.h, included here so that callers need only
// this header.
#pragma once

#include <QMap>
#include <QString>

#include "zorapplarchives.h"
#include "zorapplfiles.h"

namespace ZorApplServices {

// The program's version, the default of the global "AppVersion".
QString appVersion();

// Resource file names, looked for in the executable's folder.
QString productResourceFile();  // "Quorvane.rcc"
QString userResourceFile();     // "Quorvane.user.rcc"

// Loads the globals once: the fixed entries "AppVersion", "AppExeDir" and
// "AppExePath", then the product configuration and the user configuration
// (or, when the latter cannot be read, the runtime configuration). Returns
// true at once when already loaded; false when a resource file cannot be
// registered or the configuration cannot be read (the fixed entries and
// whatever was read stay in the map, and the next lookup tries again).
bool initAppGlobals();
// The same load with the resource files taken from `resourceDir` in place of
// the executable's folder ("AppExeDir" still names the executable's folder).
bool initAppGlobalsFromDir(const QString &resourceDir);
// Forgets the globals and unregisters the resource files registered by the
// loader, so that a test can load another configuration into the process.
void resetAppGlobals();

// The loaded map (ordered by key) and whether the last load succeeded.
const QMap<QString, QString> &appGlobals();
bool appGlobalsLoaded();

// Value of a global, loading the globals first when needed; empty when absent.
QString appGlobal(const QString &key);
// The global read as a decimal integer: true when greater than 0.
bool appGlobalFlag(const QString &key);

// Reads one settings file (plain, or enciphered when the path ends in ".enc")
// into `globals`. False when the file cannot be opened or does not parse.
bool readSettingsFile(const QString &path, QMap<QString, QString> &globals);
// Deciphers the hexadecimal text of an enciphered settings file.
QString decipherConfigText(const QString &text);

// Bytes as text, one character per byte, NUL bytes included (the QByteArray
// overload of QString::fromLatin1 stops at the first NUL).
QString latin1Text(const QByteArray &bytes);

// Replaces every "%%key%%" of a loaded global by its value, key by key in key
// order. Does not load the globals.
QString expandMacros(const QString &text);
// A text file read one byte per character, with its macros expanded; empty
// when the path is empty or the file cannot be opened.
QString readTextFileWithMacros(const QString &path);

} // namespace ZorApplServices
