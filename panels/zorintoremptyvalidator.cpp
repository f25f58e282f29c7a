#include "zorintoremptyvalidator.h"

ZorIntOrEmptyValidator::ZorIntOrEmptyValidator(int bottom, int top, QObject *parent,
                                               const QStringList &extraWords)
    : QIntValidator(bottom, top, parent)
    , m_extraWords(extraWords)
{
}

bool ZorIntOrEmptyValidator::outOfReach(const QString &input, int bottom, int top)
{
    bool ok = false;
    const qlonglong value = input.trimmed().toLongLong(&ok);
    if (!ok)
        return false;
    return (value > top && bottom >= 0) || (value < bottom && value < 0);
}

QValidator::State ZorIntOrEmptyValidator::validate(QString &input, int &pos) const
{
    if (input.trimmed().isEmpty())
        return Acceptable;
    State number = QIntValidator::validate(input, pos);
    if (number == Intermediate && outOfReach(input, bottom(), top()))
        number = Invalid;
    if (number != Invalid)
        return number;
    if (m_extraWords.contains(input))
        return Acceptable;
    for (const QString &word : m_extraWords) {
        if (word.contains(input))
            return Intermediate;
    }
    return Invalid;
}
