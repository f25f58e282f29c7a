#include "zorapplservices.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QFile>
#include <QFileInfo>
#include <QResource>
#include <QStringList>

namespace ZorApplServices {

namespace {

// Compiled-in key of the configuration cipher.
const char kConfigKey[] = "TeakOrchids";
const int kConfigKeyLength = 11;

struct Globals
{
    QMap<QString, QString> map;
    bool loaded = false;
    QStringList registeredResources;
};

Globals &globals()
{
    static Globals g;
    return g;
}

bool registerResourceFile(const QString &path)
{
    if (!QResource::registerResource(path))
        return false;
    globals().registeredResources.append(path);
    return true;
}

} // namespace

QString appVersion() { return QStringLiteral("v1.9.48"); }
QString productResourceFile() { return QStringLiteral("Quorvane.rcc"); }
QString userResourceFile() { return QStringLiteral("Quorvane.user.rcc"); }

bool initAppGlobals()
{
    if (globals().loaded)
        return true;
    return initAppGlobalsFromDir(QCoreApplication::applicationDirPath());
}

bool initAppGlobalsFromDir(const QString &resourceDir)
{
    Globals &g = globals();
    if (g.loaded)
        return true;

    const QString exeDir = QDir::fromNativeSeparators(QCoreApplication::applicationDirPath());
    g.map.insert(QStringLiteral("AppVersion"), appVersion());
    g.map.insert(QStringLiteral("AppExeDir"), exeDir);
    g.map.insert(QStringLiteral("AppExePath"),
                 QDir::fromNativeSeparators(QCoreApplication::applicationFilePath()));

    const QString dir = QDir::fromNativeSeparators(resourceDir) + QLatin1Char('/');
    if (!registerResourceFile(dir + productResourceFile()))
        return false;
    if (!registerResourceFile(dir + userResourceFile()))
        return false;

    bool ok = readSettingsFile(QStringLiteral(":Quorvane.config.enc"), g.map);
    if (ok) {
        ok = readSettingsFile(QStringLiteral(":Quorvane.user.config.enc"), g.map)
             || readSettingsFile(QStringLiteral(":Quorvane.runtime.config.enc"), g.map);
    }
    g.loaded = ok;
    return ok;
}

void resetAppGlobals()
{
    Globals &g = globals();
    // Unregister newest first: a file registered twice is removed once per call.
    while (!g.registeredResources.isEmpty())
        QResource::unregisterResource(g.registeredResources.takeLast());
    g.map.clear();
    g.loaded = false;
}

const QMap<QString, QString> &appGlobals() { return globals().map; }
bool appGlobalsLoaded() { return globals().loaded; }

QString appGlobal(const QString &key)
{
    if (!globals().loaded)
        initAppGlobals();
    return globals().map.value(key);
}

bool appGlobalFlag(const QString &key)
{
    return appGlobal(key).toInt() > 0;
}

bool readSettingsFile(const QString &path, QMap<QString, QString> &map)
{
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return false;
    QString text = latin1Text(file.readAll());
    file.close();
    if (path.endsWith(QLatin1String(".enc")))
        text = decipherConfigText(text);

    QDomDocument doc;
    if (!doc.setContent(text, false))
        return false;
    const QDomNodeList settings = doc.elementsByTagName(QStringLiteral("Setting"));
    for (int i = 0; i < settings.count(); ++i) {
        const QDomElement e = settings.at(i).toElement();
        map.insert(e.attribute(QStringLiteral("name")), e.text());
    }
    return true;
}

QString decipherConfigText(const QString &text)
{
    const QByteArray cipher = QByteArray::fromHex(text.toLatin1());
    QByteArray plain;
    plain.reserve(cipher.size());
    int k = 0;
    unsigned char prev = 0;
    for (int i = 1; i <= cipher.size(); ++i) {
        k = (static_cast<unsigned char>(kConfigKey[k]) + i) % kConfigKeyLength;
        const unsigned char c = static_cast<unsigned char>(cipher.at(i - 1));
        plain.append(static_cast<char>(c ^ static_cast<unsigned char>(kConfigKey[k]) ^ prev));
        prev = c;
    }
    return latin1Text(plain);
}

QString latin1Text(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

QString expandMacros(const QString &text)
{
    QString result = text;
    const QMap<QString, QString> &map = globals().map;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        result.replace(QLatin1String("%%") + it.key() + QLatin1String("%%"), it.value());
    return result;
}

QString readTextFileWithMacros(const QString &path)
{
    if (path.isEmpty())
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QString text = latin1Text(file.readAll());
    file.close();
    return expandMacros(text);
}

} // namespace ZorApplServices
