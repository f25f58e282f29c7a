// An integer validator that also takes an empty field and a few extra words.
//
// Integers in the range are acceptable; a number that no further digit can
// bring into the range (128 for 0 to 127) is invalid, so it cannot be typed;
// an empty (or blank) field counts as a valid entry; a text equal to one of the extra
// words is acceptable and a beginning of one (any part of it) intermediate,
// so that the word can be typed letter by letter. Letter case counts.
#pragma once

#include <QIntValidator>
#include <QStringList>

class ZorIntOrEmptyValidator : public QIntValidator
{
    Q_OBJECT
public:
    ZorIntOrEmptyValidator(int bottom, int top, QObject *parent = nullptr,
                           const QStringList &extraWords = QStringList());

    State validate(QString &input, int &pos) const override;

    QStringList extraWords() const { return m_extraWords; }

    // True when the input is a number outside bottom..top that typing more
    // digits can only move further away (above a top of a range that does
    // not reach below 0, or below a negative bottom).
    static bool outOfReach(const QString &input, int bottom, int top);

private:
    QStringList m_extraWords;
};
