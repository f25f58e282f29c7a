// Interface of the frame decoders: a decoder turns one CAN frame (the 16-byte
// frame record) into a short description for the CAN monitor, and may turn
// a text back into a value. A decoder takes one parameter text (a script
// file for the script decoder).
#pragma once

#include <QString>
#include <QVariant>

class ZorAbstractFrameCodec
{
public:
    virtual ~ZorAbstractFrameCodec() = default;

    virtual bool setParameter(const QString &text)
    {
        m_parameter = text;
        return true;
    }
    virtual QString parameter() const { return m_parameter; }
    virtual QVariant decode(const QVariant &frame) = 0;
    virtual QVariant encode(const QVariant &value) { return value; }

private:
    QString m_parameter;
};
