#include "zorintoremptyvalidator.h"

ZorIntOrEmptyValidator::ZorIntOrEmptyValidator(int bottom, int top, QObject *parent, const QStringList &extraWords)
    : QIntValidator(bottom, top, parent), m_extraWords(extraWords)
{
}

QValidator::State ZorIntOrEmptyValidator::validate(QString &input, int &pos) const
{
    const State verdict = QIntValidator::validate(input, pos);
    if (verdict == Intermediate && input.trimmed().isEmpty())
        return Acceptable;
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
