#include "timescaledraw.h"

#include <qwt_text.h>

TimeScaleDraw::TimeScaleDraw(const QDateTime &base, const QString &format)
    : m_base(base)
    , m_format(format)
{
}

TimeScaleDraw::~TimeScaleDraw() = default;

QwtText TimeScaleDraw::label(double value) const
{
    return QwtText(m_base.addMSecs(qint64(int(value))).toString(m_format));
}
