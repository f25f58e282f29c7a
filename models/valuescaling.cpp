#include "valuescaling.h"

#include "scalingevaluator.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <cmath>

namespace {

// Results kept per record; a record that sees more distinct values starts
// over.
const int MaxKeptResults = 4096;

}

ValueScaling::ValueScaling() = default;

ValueScaling::ValueScaling(const QString &text)
{
    setText(text);
}

ValueScaling::ValueScaling(const ValueScaling &other)
{
    setText(other.m_text);
}

ValueScaling &ValueScaling::operator=(const ValueScaling &other)
{
    if (this != &other)
        setText(other.m_text);
    return *this;
}

ValueScaling::~ValueScaling()
{
    releaseFormula();
}

void ValueScaling::releaseFormula()
{
    if (m_formula)
        ScalingEvaluator::instance().release(m_formula);
    m_formula = 0;
    m_results.clear();
}

QString ValueScaling::canonical(const QString &text)
{
    static const QRegularExpression loneX(QStringLiteral("\\bX\\b"));
    QString t = text;
    return t.replace(loneX, QStringLiteral("x"));
}

void ValueScaling::setText(const QString &text)
{
    const QString t = text.trimmed();
    if (t == m_text || canonical(t) == canonical(m_text))
        return;
    m_text = t;
    parse();
}

void ValueScaling::parse()
{
    releaseFormula();
    m_factorValue = 0;
    m_valid = false;
    m_factor = false;
    m_error.clear();
    m_empty = m_text.isEmpty();
    if (m_empty) {
        m_factor = true;
        m_factorValue = 1;
        m_valid = true;
        return;
    }
    bool ok = false;
    const double factor = m_text.toDouble(&ok);
    if (ok) {
        m_factor = true;
        m_factorValue = factor;
        m_valid = std::isfinite(factor);
        return;
    }

    QString body = m_text;
    if (body.startsWith(QLatin1Char('=')))
        body.remove(0, 1);
    m_formula = ScalingEvaluator::instance().compile(canonical(body), &m_error);
    m_valid = m_formula != 0;
}

bool ValueScaling::scale(double raw, double *scaled) const
{
    double result = 0;
    bool ok = false;
    if (m_valid && m_factor) {
        result = m_factorValue * raw;
        ok = true;
    } else if (m_valid) {
        const auto kept = m_results.constFind(raw);
        if (kept != m_results.constEnd()) {
            result = kept.value();
            ok = !std::isnan(result);
        } else {
            double value = 0;
            const ScalingEvaluator::Outcome outcome = ScalingEvaluator::instance().call(m_formula, raw, &value);
            if (outcome == ScalingEvaluator::TooLong) {
                // It would cost its caller as much again each time.
                m_valid = false;
                m_error = QCoreApplication::translate("ValueScaling", "the formula ran longer than %1 ms")
                              .arg(ScalingEvaluator::TimeLimitMs);
                m_results.clear();
            } else {
                ok = outcome == ScalingEvaluator::Number;
                result = ok ? value : 0;
                if (m_results.size() >= MaxKeptResults)
                    m_results.clear();
                m_results.insert(raw, ok ? value : std::nan(""));
            }
        }
    }
    if (scaled)
        *scaled = ok ? result : 0;
    return ok;
}

bool ValueScaling::unscale(double scaled, double *raw) const
{
    const bool ok = canScaleBack();
    if (raw)
        *raw = ok ? scaled / m_factorValue : 0;
    return ok;
}

bool ValueScaling::canScaleBack() const
{
    return m_valid && m_factor && m_factorValue != 0;
}
