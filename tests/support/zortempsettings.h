// Points the process's user settings (QSettings) at a temporary folder for
// as long as the object lives, so that tests never read or write the real
// user's settings. Create one in initTestCase and keep it for the test class.
#pragma once

#include <QString>
#include <QTemporaryDir>

namespace ZorTest {

class TempSettings
{
public:
    TempSettings();
    ~TempSettings();
    TempSettings(const TempSettings &) = delete;
    TempSettings &operator=(const TempSettings &) = delete;

    QString path() const { return m_dir.path(); }
    // Writes one user setting (through a fresh QSettings object).
    static void set(const QString &key, const QVariant &value);

private:
    QTemporaryDir m_dir;
    QString m_organization;
    QString m_application;
};

}
