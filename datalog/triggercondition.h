// TriggerCondition: when a new value of one channel starts a trigger window
// of the data-log module. Its text forms:
//
//   002.6041h.00h          fires on any change of the value
//   001.60ffh.00h > 200    fires when the value rises across 200
//   001.60ffh.00h < 200    fires when the value falls below 200
//
// The channel is a data-object id; several conditions are joined by ";" in
// the data-log property TriggerConfig. A text that does not parse gives a
// condition with an empty name, which matches no channel and never fires.
#pragma once

#include <QString>

class TriggerCondition
{
public:
    enum Kind { Greater = 0, Less = 1, Change = 2 };

    explicit TriggerCondition(const QString &text = QString());

    QString name() const { return m_name; }
    float level() const { return m_level; }
    int kind() const { return m_kind; }
    bool isGreaterThan() const { return m_kind == Greater; }
    bool isLessThan() const { return m_kind == Less; }
    bool isOnChange() const { return m_kind == Change; }

    // True when a sample of value `value` that follows `previous` fires.
    bool fires(float previous, float value) const;

    // The text form; the level with six significant digits.
    QString toString() const;
    // An empty text is valid (an empty table row).
    static bool isValid(const QString &text);
    // The text form of a valid text, an invalid text as it stands.
    static QString normalize(const QString &text);

private:
    QString m_name;
    float m_level = 0;
    int m_kind = Change;
};
