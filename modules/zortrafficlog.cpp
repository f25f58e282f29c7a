#include "zortrafficlog.h"

#include "zorapplfiles.h"

void ZorTrafficLog::append(const QString &text)
{
    m_text += ZorApplServices::currentDateTimeText() + QLatin1Char(' ') + text
              + QLatin1Char('\n');
}

QString ZorTrafficLog::takeDue()
{
    if (m_clock.elapsed() <= FlushPeriodMs)
        return QString();
    m_clock.start();
    QString due;
    due.swap(m_text);
    return due;
}
