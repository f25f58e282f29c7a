// A frame decoder: turns one CAN frame into a short description for the CAN
// monitor, and can turn a text back into a value. The CAN monitor creates
// one by name ("CANopen": ZorFrameDecoderCanopen, "Script":
// ZorFrameDecoderScript), gives it a parameter (the script decoder: its
// script file) and asks it for the description of every frame it shows.
//
// Frames are handed over as a QVariant holding the 16-byte frame record
// (see ZorBabelFish::fromVscanToQbytearray) or, failing that, a text.
#pragma once

#include <QString>
#include <QVariant>

class ZorAbstractFrameCodec
{
public:
    virtual ~ZorAbstractFrameCodec();

    // Stores the parameter; true.
    virtual bool setParameter(const QString &text);
    virtual QString parameter() const;
    // The description of a frame; an invalid QVariant when there is none.
    virtual QVariant decode(const QVariant &frame) = 0;
    // By default the value itself.
    virtual QVariant encode(const QVariant &value);

protected:
    QString m_parameter;
};
