#include "zorframedecoderscript.h"

#include "zorapplfiles.h"

#include <QFile>

ZorFrameDecoderScript::ZorFrameDecoderScript() = default;
ZorFrameDecoderScript::~ZorFrameDecoderScript() = default;

bool ZorFrameDecoderScript::setParameter(const QString &path)
{
    m_parameter = path;
    if (path.trimmed().isEmpty())
        return false;
    QString absolute = path;
    ZorApplServices::makeAbsoluteToWorkingDir(absolute);
    QFile file(absolute);
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QString program = QString::fromUtf8(file.readAll());
    const QScriptValue result = m_engine.evaluate(program, QString(), 1);
    if (!result.isValid() || m_engine.hasUncaughtException())
        return false;
    m_decodeFunction = m_engine.globalObject().property(QStringLiteral("decode"));
    if (!m_decodeFunction.isValid() || !m_decodeFunction.isFunction())
        return false;
    m_encodeFunction = m_engine.globalObject().property(QStringLiteral("encode"));
    return true;
}

QVariant ZorFrameDecoderScript::decode(const QVariant &frame)
{
    if (!m_engine.globalObject().isValid() || !m_decodeFunction.isValid())
        return QVariant();
    QScriptValue argument;
    if (frame.canConvert<QByteArray>() && frame.type() == QVariant::ByteArray) {
        const QByteArray bytes = frame.toByteArray();
        argument = m_engine.newArray(uint(bytes.size()));
        for (int i = 0; i < bytes.size(); ++i)
            argument.setProperty(quint32(i), QScriptValue(int(qint8(bytes.at(i)))));
    } else {
        argument = QScriptValue(frame.toString());
    }
    const QScriptValue result = m_decodeFunction.call(QScriptValue(), QScriptValueList() << argument);
    return result.isValid() ? result.toVariant() : QVariant();
}

QVariant ZorFrameDecoderScript::encode(const QVariant &value)
{
    if (!m_engine.globalObject().isValid() || !m_encodeFunction.isValid() || !m_encodeFunction.isFunction())
        return QVariant();
    const QScriptValue result =
        m_encodeFunction.call(QScriptValue(), QScriptValueList() << QScriptValue(value.toString()));
    return result.isValid() ? result.toVariant() : QVariant();
}
