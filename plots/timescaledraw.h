// TimeScaleDraw: the x-axis labels of a time plot. X values are
// milliseconds from the plot window's start; a label is that moment as a
// time of day in the given format.
#pragma once

#include <QDateTime>
#include <QString>
#include <qwt_scale_draw.h>

class TimeScaleDraw : public QwtScaleDraw
{
public:
    TimeScaleDraw(const QDateTime &base, const QString &format);
    ~TimeScaleDraw() override;

    QwtText label(double value) const override;
    QDateTime baseTime() const { return m_base; }
    QString format() const { return m_format; }

private:
    QDateTime m_base;
    QString m_format;
};
