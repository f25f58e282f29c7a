#include "zortempsettings.h"

#include <QCoreApplication>
#include <QSettings>

ZorTest::TempSettings::TempSettings()
    : m_organization(QCoreApplication::organizationName())
    , m_application(QCoreApplication::applicationName())
{
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, m_dir.path());
        QSettings::setPath(format, QSettings::SystemScope, m_dir.path());
    }
    QCoreApplication::setOrganizationName(QStringLiteral("QuorvaneTests"));
    QCoreApplication::setApplicationName(QStringLiteral("QuorvaneTests"));
}

ZorTest::TempSettings::~TempSettings()
{
    QSettings().clear();
    QCoreApplication::setOrganizationName(m_organization);
    QCoreApplication::setApplicationName(m_application);
}

void ZorTest::TempSettings::set(const QString &key, const QVariant &value)
{
    QSettings settings;
    settings.setValue(key, value);
    settings.sync();
}
