#include "valuescaling.h"

#include <QRegularExpression>
#include <QScriptEngine>
#include <cmath>

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
    // The function belongs to the engine: release it first.
    m_function = QScriptValue();
    m_script.clear();
    m_engine.reset();
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
    m_factorValue = 0;
    m_valid = false;
    m_factor = false;
    m_function = QScriptValue();
    m_script.clear();
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
    m_script = QStringLiteral("(function(x) { return %1; })").arg(canonical(body));
    if (QScriptEngine::checkSyntax(m_script).state() != QScriptSyntaxCheckResult::Valid)
        return;
    if (!m_engine)
        m_engine = std::make_unique<QScriptEngine>();
    m_function = m_engine->evaluate(m_script, QString(), 1);
    if (m_engine->hasUncaughtException()) {
        m_engine->clearExceptions();
        m_function = QScriptValue();
        return;
    }
    m_valid = m_function.isFunction();
}

bool ValueScaling::scale(double raw, double *scaled) const
{
    double result = 0;
    bool ok = false;
    if (m_valid && m_factor) {
        result = m_factorValue * raw;
        ok = true;
    } else if (m_valid) {
        QScriptValue function = m_function;
        const QScriptValue value = function.call(QScriptValue(), QScriptValueList() << QScriptValue(raw));
        if (m_engine->hasUncaughtException()) {
            m_engine->clearExceptions();
        } else if (value.isNumber() && std::isfinite(value.toNumber())) {
            result = value.toNumber();
            ok = true;
        }
    }
    if (scaled)
        *scaled = result;
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
