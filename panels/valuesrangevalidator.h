// Lets an editable combo box commit only texts that are a valid value range
// (ValueRangeSpec): Acceptable for a valid range, Intermediate for anything
// else, never Invalid, so the user can type freely.
#pragma once

#include <QValidator>

class ValuesRangeValidator : public QValidator
{
    Q_OBJECT
public:
    explicit ValuesRangeValidator(QObject *parent = nullptr);
    State validate(QString &input, int &pos) const override;
};
