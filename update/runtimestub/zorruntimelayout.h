// The parts of a generated runtime file, as the runtime generator joins them:
//
//   the stub program | configuration text | 7z archive
//
// The configuration is UTF-8 text with a byte-order mark, from the line
// ";!@Install@!UTF-8!" to the line ";!@InstallEnd@!", with one setting per
// line: Name="value" (a backslash takes the next character as it is, so a
// doubled backslash is one). "Title" names the runtime in messages,
// "RunProgram" is the program to start, relative to the folder the archive
// unpacks into; its first part is the archive's one top-level folder. The
// archive follows the end line directly (only line ends between).
//
// ZorRuntimeLayout finds these parts in the bytes of a file (the stub reads
// its own file) and says in plain words what is wrong with a damaged one.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class ZorRuntimeLayout
{
public:
    // Reads the layout from the file's bytes (which must outlive it).
    // False with error() set when the file holds no runtime or is damaged.
    bool read(const char *data, qint64 size);

    QString error() const { return m_error; }
    QString title() const { return m_title; }
    // The program to start, with "/" separators: "Line3/Quorvane".
    QString programPath() const { return m_programPath; }
    // The archive's top-level folder: the first part of programPath().
    QString topFolder() const { return m_programPath.section(QLatin1Char('/'), 0, 0); }
    // The program's path below the top-level folder: "Quorvane".
    QString programInFolder() const { return m_programPath.section(QLatin1Char('/'), 1); }

    const char *archiveData() const { return m_archive; }
    qint64 archiveSize() const { return m_archiveSize; }

    // The first line of the configuration, with the byte-order mark before
    // it: where the stub ends. Built when asked, so that the stub's own
    // bytes never hold it.
    static QByteArray configBeginMarker();
    static QByteArray configEndMarker();
    // The value of a setting line "Name="value"" with its escapes undone.
    static QString settingValue(const QString &line, const QString &name);
    // True when a path inside the archive stays inside the folder it is
    // unpacked into: relative, no "..", no empty part.
    static bool isSafeRelativePath(const QString &path);

private:
    bool fail(const QString &text);

    QString m_error;
    QString m_title;
    QString m_programPath;
    const char *m_archive = nullptr;
    qint64 m_archiveSize = 0;
};
