// How an axis of values is scaled: automatically, between a fixed minimum
// and maximum, or by a number of units per grid division with an offset.
//
// Two text forms: the long one shown to people ("automatic", "min=0 max=100",
// "2.50/div offset=-10") and the compact one stored in plot configurations
// ("a", "0m100", "2.50o-10"). fromString reads both, in any letter case, with
// a point as decimal separator whatever the locale; a text that is no range
// leaves mode 3 (not valid). Values are kept to two decimals.
#pragma once

#include <QString>

class ValueRangeSpec
{
public:
    enum Mode { Automatic = 0, MinMax = 1, PerDivision = 2, NoRange = 3 };

    ValueRangeSpec() = default;
    ValueRangeSpec(int mode, double first, double second)
        : m_mode(mode), m_first(first), m_second(second)
    {
    }

    int mode() const { return m_mode; }
    // MinMax: the minimum and maximum; PerDivision: units per division and
    // the offset.
    double first() const { return m_first; }
    double second() const { return m_second; }

    bool isValid() const;
    QString toString(bool compact) const;
    void fromString(const QString &text);

    // Whole numbers in 'g' format with 6 digits (1e+06), others with two
    // decimals (0.50).
    static QString formatNumber(double value);

private:
    int m_mode = Automatic;
    double m_first = 0;
    double m_second = 0;
};
