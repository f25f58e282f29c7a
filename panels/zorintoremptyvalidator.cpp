#include "zorintoremptyvalidator.h"

ZorIntOrEmptyValidator::ZorIntOrEmptyValidator(int bottom, int top, QObject *parent, const QStringList &extraWords)
    : QIntValidator(bottom, top, parent), m_extraWords(extraWords)
{
}

QValidator::State ZorIntOrEmptyValidator::validate(QString &input, int &pos) const
{
    State verdict = QIntValidator::validate(input, pos);
    if (verdict == Intermediate && input.trimmed().isEmpty())
        return Acceptable;
    // A whole number beyond the range that no further typing brings back is
    // refused (Qt 5 rates 128 for 0 .. 127 as intermediate).
    bool isNumber = false;
    const qlonglong value = input.trimmed().toLongLong(&isNumber);
    if (verdict == Intermediate && isNumber && value > top() && -value < bottom())
        verdict = Invalid;
    if (verdict != Invalid)
        return verdict;
    for (const QString &word : m_extraWords) {
        if (input == word)
            return Acceptable;
    }
    for (const QString &word : m_extraWords) {
        if (word.contains(input))
            return Intermediate;
    }
    return Invalid;
}
