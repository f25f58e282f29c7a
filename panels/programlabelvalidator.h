// Validator of the CAN sender's sequence names: every item of the sequence
// box reads "01: name", and only the name after that four-character prefix
// (two digits, ":" and a blank) is the user's to edit. A text that does not
// keep the prefix is Invalid, any other Acceptable; nothing is fixed up.
#pragma once

#include <QValidator>

class ProgramLabelValidator : public QValidator
{
    Q_OBJECT
public:
    static constexpr int PrefixLength = 4;

    explicit ProgramLabelValidator(QObject *parent = nullptr);
    State validate(QString &input, int &pos) const override;
};
