#include "zortemphome.h"

#include <QDir>

ZorTest::TempHome::TempHome()
{
    const QList<QPair<const char *, QString>> values = {
        {"HOME", homePath()},
        {"XDG_CONFIG_HOME", homePath() + QStringLiteral("/.config")},
        {"TMPDIR", tempPath()}};
    for (const auto &v : values) {
        QDir().mkpath(v.second);
        m_saved.append({v.first, qEnvironmentVariableIsSet(v.first), qgetenv(v.first)});
        qputenv(v.first, QFile::encodeName(v.second));
    }
}

ZorTest::TempHome::~TempHome()
{
    for (const Saved &s : qAsConst(m_saved)) {
        if (s.set)
            qputenv(s.name, s.value);
        else
            qunsetenv(s.name);
    }
}
