#include "programlabelvalidator.h"

ProgramLabelValidator::ProgramLabelValidator(QObject *parent)
    : QValidator(parent)
{
}

QValidator::State ProgramLabelValidator::validate(QString &input, int &pos) const
{
    Q_UNUSED(pos);
    if (input.size() < PrefixLength || !input.at(0).isDigit() || !input.at(1).isDigit()
        || input.at(2) != QLatin1Char(':') || input.at(3) != QLatin1Char(' '))
        return Invalid;
    return Acceptable;
}
