#include "valuesrangevalidator.h"

#include "valuerangespec.h"

ValuesRangeValidator::ValuesRangeValidator(QObject *parent)
    : QValidator(parent)
{
}

QValidator::State ValuesRangeValidator::validate(QString &input, int &) const
{
    ValueRangeSpec spec;
    spec.fromString(input);
    return spec.isValid() ? Acceptable : Intermediate;
}
