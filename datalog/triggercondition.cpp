#include "triggercondition.h"

#include "zorbabelfish.h"

#include <QStringList>

TriggerCondition::TriggerCondition(const QString &text)
{
    const bool greater = text.contains(QLatin1Char('>'));
    if (!greater && !text.contains(QLatin1Char('<'))) {
        m_name = text.trimmed();
        return;
    }
    m_kind = greater ? Greater : Less;
    const QStringList parts = text.trimmed().split(QLatin1Char(greater ? '>' : '<'), Qt::SkipEmptyParts);
    if (parts.size() != 2)
        return;
    m_name = parts.at(0).trimmed();
    bool ok = false;
    const float level = parts.at(1).trimmed().toFloat(&ok);
    m_level = ok ? level : 0;
}

bool TriggerCondition::fires(float previous, float value) const
{
    switch (m_kind) {
    case Greater: return previous <= m_level && m_level < value;
    case Less: return previous >= m_level && value < m_level;
    default: return value != previous;
    }
}

QString TriggerCondition::toString() const
{
    if (m_kind == Change)
        return m_name;
    return m_name + QLatin1String(m_kind == Greater ? " > " : " < ") + QString::number(double(m_level), 'g', 6);
}

bool TriggerCondition::isValid(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return true;
    const int comparisons = trimmed.count(QLatin1Char('<')) + trimmed.count(QLatin1Char('>'));
    if (comparisons == 0)
        return ZorBabelFish::isDataObjectId(trimmed);
    if (comparisons > 1)
        return false;
    const QChar op = trimmed.contains(QLatin1Char('>')) ? QLatin1Char('>') : QLatin1Char('<');
    const QStringList parts = trimmed.split(op, Qt::SkipEmptyParts);
    if (parts.size() != 2 || !ZorBabelFish::isDataObjectId(parts.at(0).trimmed()))
        return false;
    bool ok = false;
    parts.at(1).trimmed().toFloat(&ok);
    return ok;
}

QString TriggerCondition::normalize(const QString &text)
{
    return isValid(text) ? TriggerCondition(text).toString() : text;
}
