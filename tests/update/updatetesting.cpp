#include "updatetesting.h"

#include "zorapplservices.h"
#include "zortestutil.h"

#include <QDir>
#include <QDirIterator>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace UpdateTesting {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray catalogXml(const QList<Package> &packages, const QString &title, const QString &date)
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Catalog>\n"
                                 "  <Title>%1</Title>\n  <Description>Files of %1</Description>\n")
                      .arg(title.toHtmlEscaped());
    if (!date.isEmpty())
        xml += QStringLiteral("  <GenerationDate>%1</GenerationDate>\n").arg(date);
    for (const Package &p : packages) {
        xml += QStringLiteral("  <Package name=\"%1\" category=\"%2\" user=\"all\">\n")
                   .arg(p.name.toHtmlEscaped(), p.category.toHtmlEscaped());
        for (const QString &link : p.links)
            xml += QStringLiteral("    <Link url=\"%1\"/>\n").arg(link.toHtmlEscaped());
        xml += QStringLiteral("  </Package>\n");
    }
    xml += QStringLiteral("</Catalog>\n");
    return xml.toUtf8();
}

namespace {

// The settings of a shipped configuration file, with `changes` applied.
QByteArray settingsFile(const QString &shipped, const QMap<QString, QString> &changes)
{
    QDomDocument doc;
    if (!doc.setContent(readFile(ZorTest::sourcePath(shipped))))
        return QByteArray();
    QMap<QString, QString> left = changes;
    QDomElement root = doc.documentElement();
    for (QDomElement e = root.firstChildElement(QStringLiteral("Setting")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("Setting"))) {
        const QString name = e.attribute(QStringLiteral("name"));
        if (!left.contains(name))
            continue;
        while (e.hasChildNodes())
            e.removeChild(e.firstChild());
        e.appendChild(doc.createTextNode(left.take(name)));
    }
    for (auto it = left.cbegin(); it != left.cend(); ++it) {
        QDomElement e = doc.createElement(QStringLiteral("Setting"));
        e.setAttribute(QStringLiteral("name"), it.key());
        e.appendChild(doc.createTextNode(it.value()));
        root.appendChild(e);
    }
    return doc.toByteArray();
}

bool buildResourceFile(const QString &dir, const QString &rccName, const QString &alias,
                       const QByteArray &settings)
{
    const QString plain = dir + QLatin1Char('/') + alias + QStringLiteral(".xml");
    const QString enc = dir + QLatin1Char('/') + alias;
    if (settings.isEmpty() || !writeFile(plain, settings))
        return false;
    if (QProcess::execute(QStringLiteral(ZOR_SETTINGS_CIPHER), {plain, enc}) != 0)
        return false;
    const QString qrc = dir + QLatin1Char('/') + rccName + QStringLiteral(".qrc");
    const QString text = QStringLiteral("<!DOCTYPE RCC><RCC version=\"1.0\"><qresource prefix=\"/\">\n"
                                        "<file alias=\"%1\">%2</file>\n</qresource></RCC>\n")
                             .arg(alias, enc);
    if (!writeFile(qrc, text.toUtf8()))
        return false;
    return QProcess::execute(QStringLiteral(ZOR_RCC_EXECUTABLE),
                             {QStringLiteral("-binary"), qrc, QStringLiteral("-o"),
                              dir + QLatin1Char('/') + rccName})
           == 0;
}

} // namespace

bool loadConfiguration(const QString &dir, const QMap<QString, QString> &product)
{
    if (!buildResourceFile(dir, QStringLiteral("Quorvane.rcc"), QStringLiteral("Quorvane.config.enc"),
                           settingsFile(QStringLiteral("resources/config/Quorvane.config.xml"), product))
        || !buildResourceFile(dir, QStringLiteral("Quorvane.user.rcc"),
                              QStringLiteral("Quorvane.user.config.enc"),
                              settingsFile(QStringLiteral("resources/config/Quorvane.user.config.xml"), {})))
        return false;
    ZorApplServices::resetAppGlobals();
    return ZorApplServices::initAppGlobalsFromDir(dir);
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext())
        files << base.relativeFilePath(it.next());
    files.sort();
    return files;
}

} // namespace UpdateTesting
