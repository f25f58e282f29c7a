#include "zorabstractframecodec.h"

ZorAbstractFrameCodec::~ZorAbstractFrameCodec() = default;

bool ZorAbstractFrameCodec::setParameter(const QString &text)
{
    m_parameter = text;
    return true;
}

QString ZorAbstractFrameCodec::parameter() const
{
    return m_parameter;
}

QVariant ZorAbstractFrameCodec::encode(const QVariant &value)
{
    return value;
}
