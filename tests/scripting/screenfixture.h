// Fixtures of the operator-screen tests: an object table of a screen built
// from rows given as attribute texts, and QML screens written into a
// temporary folder.
#pragma once

#include "zordynamicuieditmodel.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

namespace ScreenFixture {

// An object table document with one object per entry, each the attribute
// text of a CANopenObject (index, name, formats ...); node 1, objectType 7,
// dataType 7 and accessType rw unless given.
inline QDomDocument objectTable(const QStringList &objects)
{
    QString xml = QStringLiteral("<CANopenObjectList>\n");
    for (const QString &attributes : objects) {
        QString a = attributes;
        if (!a.contains(QLatin1String("nodeId=")))
            a += QStringLiteral(" nodeId=\"1\"");
        if (!a.contains(QLatin1String("objectType=")))
            a += QStringLiteral(" objectType=\"7\"");
        if (!a.contains(QLatin1String("dataType=")))
            a += QStringLiteral(" dataType=\"7\"");
        if (!a.contains(QLatin1String("accessType=")))
            a += QStringLiteral(" accessType=\"rw\"");
        xml += QStringLiteral(" <CANopenObject %1/>\n").arg(a);
    }
    xml += QStringLiteral("</CANopenObjectList>\n");
    QDomDocument doc;
    doc.setContent(xml);
    return doc;
}

// The table of an operator screen over those objects.
inline std::unique_ptr<ZorDynamicUiEditModel> uiTable(const QStringList &objects, bool nodeIdLocked = false)
{
    return std::make_unique<ZorDynamicUiEditModel>(objectTable(objects), nodeIdLocked);
}

// Writes a text file (folders created); false when it cannot.
inline bool writeText(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(text.toUtf8()) == text.toUtf8().size();
}

inline QString readText(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

}
