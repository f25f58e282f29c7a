// A value scaling turns the raw number a node holds into the number a person
// reads and, where that can be undone, back.
//
// Its definition is one short text: a plain factor ("0.1", "1000", "1e3"),
// or a formula in the script language with x standing for the raw value
// ("=x*0.5+10", "x/3600"). An empty text is the factor 1. A factor can scale
// back (a typed value becomes a raw value); a formula only scales forward.
// A text that is neither leaves the scaling invalid: scale and unscale then
// fail with the result 0 and callers show the unscaled value.
//
// Formulas keep their letter case (names such as Math.PI stay as written);
// only a lone "X" is read as the variable x, so "=X*2" and "=x*2" are the
// same formula. A formula is outside input: it is checked by the parser
// alone (it must be one expression) and runs in the shared thread and
// engine of ScalingEvaluator, which gives up on it past 50 ms; a formula
// that ran too long is refused from then on (invalid, with the reason in
// error()). Results are kept per raw value, so a value shown again costs
// nothing. A record is used by one thread at a time.
#pragma once

#include <QHash>
#include <QString>

class ValueScaling
{
public:
    ValueScaling();
    explicit ValueScaling(const QString &text);
    // A copy gets an engine of its own and takes the other's text.
    ValueScaling(const ValueScaling &other);
    ValueScaling &operator=(const ValueScaling &other);
    ~ValueScaling();

    // Trims the text; a text that means the same as the current one (equal,
    // or a formula that differs only by "X" for "x") changes nothing.
    void setText(const QString &text);
    QString text() const { return m_text; }

    bool isEmpty() const { return m_empty; }
    bool isFactor() const { return m_factor; }
    bool isValid() const { return m_valid; }
    double factor() const { return m_factorValue; }
    // Why a formula is refused (not one expression, no function, ran too
    // long); empty while the scaling is valid.
    QString error() const { return m_error; }

    // The scaled value of a raw one; false (result 0) when the scaling is
    // invalid or a formula gives no finite number.
    bool scale(double raw, double *scaled) const;
    // The raw value of a scaled one; only a factor other than 0 scales back.
    bool unscale(double scaled, double *raw) const;
    bool canScaleBack() const;

private:
    void parse();
    void releaseFormula();
    static QString canonical(const QString &text);

    QString m_text;
    bool m_empty = true;
    bool m_factor = true;
    mutable bool m_valid = true;
    double m_factorValue = 1.0;
    mutable QString m_error;
    int m_formula = 0; // ScalingEvaluator handle
    mutable QHash<double, double> m_results;
};
