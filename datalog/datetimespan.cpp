#include "datetimespan.h"

#include "datalogsample.h"

qint64 DateTimeSpan::durationMs() const
{
    // In wall-clock time, like every time of the data log (the recorded
    // texts carry no time zone).
    if (!m_start.isValid() || !m_end.isValid())
        return 0;
    return DataLogSample::toWallMs(m_end) - DataLogSample::toWallMs(m_start);
}
