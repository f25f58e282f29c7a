#include "valuerangespec.h"

#include <QStringList>
#include <cmath>

namespace {

bool readNumber(const QString &text, double &value)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

// "key = number", split at "=" into exactly two parts.
bool readPair(const QString &text, const QString &key, double &value)
{
    const QStringList parts = text.split(QLatin1Char('='));
    return parts.size() == 2 && parts.at(0).trimmed() == key && readNumber(parts.at(1), value);
}

double twoDecimals(double value)
{
    return QString::number(value, 'f', 2).toDouble();
}

}

bool ValueRangeSpec::isValid() const
{
    switch (m_mode) {
    case Automatic: return true;
    case MinMax: return m_second > m_first;
    case PerDivision: return m_first > 0;
    default: return false;
    }
}

QString ValueRangeSpec::formatNumber(double value)
{
    if (value == std::floor(value))
        return QString::number(value, 'g', 6);
    return QString::number(value, 'f', 2);
}

QString ValueRangeSpec::toString(bool compact) const
{
    if (!isValid())
        return QString();
    switch (m_mode) {
    case Automatic:
        return compact ? QStringLiteral("a") : QStringLiteral("automatic");
    case MinMax:
        return (compact ? QStringLiteral("%1m%2") : QStringLiteral("min=%1 max=%2"))
            .arg(formatNumber(m_first), formatNumber(m_second));
    default:
        if (m_second == 0)
            return compact ? formatNumber(m_first) : formatNumber(m_first) + QStringLiteral("/div");
        return (compact ? QStringLiteral("%1o%2") : QStringLiteral("%1/div offset=%2"))
            .arg(formatNumber(m_first), formatNumber(m_second));
    }
}

void ValueRangeSpec::fromString(const QString &text)
{
    m_mode = NoRange;
    m_first = 0;
    m_second = 0;
    const QString t = text.trimmed().toLower();
    double a = 0;
    double b = 0;
    bool done = false;

    if (t == QLatin1String("automatic") || t == QLatin1String("auto") || t == QLatin1String("a")) {
        m_mode = Automatic;
        done = true;
    } else if (readNumber(t, a)) {
        *this = ValueRangeSpec(PerDivision, a, 0);
        done = true;
    }

    // "2.5/div offset=-10"
    const int div = t.indexOf(QLatin1String("div"));
    if (!done && div >= 0 && t.lastIndexOf(QLatin1Char('/'), div) >= 0) {
        QString head = t;
        double offset = 0;
        bool ok = true;
        const int off = t.indexOf(QLatin1String("offset"));
        if (off >= 0) {
            ok = off > div && readPair(t.mid(off), QStringLiteral("offset"), offset);
            head = t.left(off - 1);
        }
        const QStringList parts = head.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (ok && parts.size() == 2 && parts.at(1).trimmed() == QLatin1String("div")
            && readNumber(parts.at(0), a) && a > 0) {
            *this = ValueRangeSpec(PerDivision, a, offset);
            done = true;
        }
    }
    // "10o3"
    if (!done) {
        const QStringList parts = t.split(QLatin1Char('o'), Qt::SkipEmptyParts);
        if (parts.size() == 2 && readNumber(parts.at(0), a) && a > 0 && readNumber(parts.at(1), b)) {
            *this = ValueRangeSpec(PerDivision, a, b);
            done = true;
        }
    }
    // "min=0 max=100"
    const int min = t.indexOf(QLatin1String("min"));
    const int max = t.indexOf(QLatin1String("max"));
    if (!done && min >= 0 && max > min && readPair(t.mid(max), QStringLiteral("max"), b)
        && readPair(t.left(max - 1), QStringLiteral("min"), a) && a < b) {
        *this = ValueRangeSpec(MinMax, a, b);
        done = true;
    }
    // "0m100"
    if (!done) {
        const QStringList parts = t.split(QLatin1Char('m'), Qt::SkipEmptyParts);
        if (parts.size() == 2 && readNumber(parts.at(0), a) && readNumber(parts.at(1), b) && b > a)
            *this = ValueRangeSpec(MinMax, a, b);
    }
    m_first = twoDecimals(m_first);
    m_second = twoDecimals(m_second);
}
