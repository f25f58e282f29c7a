// Helpers of the update tests: files, catalogues and a configuration of the
// test's own (an update server on loopback) loaded as the application's.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace UpdateTesting {

bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// One "Package" of a catalogue.
struct Package
{
    QString name;
    QString category;
    QStringList links;
};

// A catalogue file's text; `date` empty leaves out "GenerationDate".
QByteArray catalogXml(const QList<Package> &packages, const QString &title = QStringLiteral("Quorvane"),
                      const QString &date = QStringLiteral("2024-05-06 07:08:09.010"));

// Builds Quorvane.rcc and Quorvane.user.rcc in `dir` from the shipped
// configuration with `product` entries added or replaced, and loads them as
// the application globals. False when a tool fails.
bool loadConfiguration(const QString &dir, const QMap<QString, QString> &product);

// Paths of the files below `folder`, relative to it, sorted.
QStringList filesBelow(const QString &folder);

} // namespace UpdateTesting
