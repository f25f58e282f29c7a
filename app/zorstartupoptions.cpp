#include "zorstartupoptions.h"

#include "zorapplservices.h"

namespace {

// The value of "/switch=value": the text between the first "=" and the next
// one (or the end), trimmed, as a decimal integer; 0 when it is no number.
int switchValue(const QString &argument)
{
    return argument.section(QLatin1Char('='), 1, 1).trimmed().toInt();
}

bool hasPrefix(const QString &argument, const char *prefix)
{
    return argument.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}

} // namespace

ZorStartupOptions::Config ZorStartupOptions::Config::fromAppGlobals()
{
    using namespace ZorApplServices;
    Config c;
    c.defaultUiMode = appGlobal(QStringLiteral("DefaultUiMode"));
    c.userLevelNames = appGlobal(QStringLiteral("UserLevelNames"));
    c.allowCmdLineArgs = appGlobalFlag(QStringLiteral("AllowCmdLineArgs"));
    c.allowDifferentUiMode = appGlobalFlag(QStringLiteral("AllowDifferentUiMode"));
    return c;
}

bool ZorStartupOptions::isProjectFile(const QString &argument)
{
    for (const char *suffix : {".zorpro", ".zorzip", ".zortpl"}) {
        if (argument.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

ZorStartupOptions ZorStartupOptions::parse(const QStringList &arguments, const Config &config)
{
    ZorStartupOptions o;
    o.guiMode = config.defaultUiMode.trimmed().toInt();
    if (o.guiMode < 0 || o.guiMode > 5)
        o.guiMode = 0;
    const int names = config.userLevelNames.split(QLatin1Char(','), Qt::SkipEmptyParts).size();
    o.highestUserLevel = names > 0 ? names - 1 : 0;

    if (!config.allowCmdLineArgs)
        return o;

    for (int i = 1; i < arguments.size(); ++i) {
        QString arg = arguments.at(i).trimmed();
        if (arg.size() >= 2 && arg.startsWith(QLatin1Char('"')) && arg.endsWith(QLatin1Char('"')))
            arg = arg.mid(1, arg.size() - 2);

        if (isProjectFile(arg))
            o.projectFile = arg;
        if (hasPrefix(arg, "/uimode=") && config.allowDifferentUiMode) {
            const int mode = switchValue(arg);
            if (mode >= 0 && mode <= 5)
                o.guiMode = mode;
        }
        if (hasPrefix(arg, "/userlevel="))
            o.userLevel = qBound(0, switchValue(arg), o.highestUserLevel);
        if (hasPrefix(arg, "/debugmode="))
            o.debugMode = switchValue(arg);
        if (hasPrefix(arg, "/minimized"))
            o.minimized = true;
    }
    return o;
}

QString ZorStartupOptions::firstCommand() const
{
    return projectFile.isEmpty() ? QStringLiteral("new") : QStringLiteral("open,") + projectFile;
}
