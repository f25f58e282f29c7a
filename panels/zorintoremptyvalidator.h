// ZorIntOrEmptyValidator: an integer validator for line edits and editable
// combo boxes that also accepts an empty text (no value given) and a few
// extra words ("0 (Scan)"), which may be typed letter by letter.
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

private:
    QStringList m_extraWords;
};
