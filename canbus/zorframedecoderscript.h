// Frame decoder that hands each frame to a user's script (QtScript). The
// parameter is the script file (relative paths count from the working
// folder); it must define a global function "decode" and may define
// "encode".
//
// decode(frame): frame is an array of the 16 bytes of the frame record as
// signed numbers (-128 to 127; data byte 0x80 arrives as -128), or the
// frame as a text when it is no record; whatever the function returns is
// the description. encode(value) gets the value as a text. A script that
// throws answers with its error; without "encode", encode answers an
// invalid value.
//
// Every load evaluates into the same engine, so globals of an earlier
// script stay unless the new one replaces them.
#pragma once

#include "zorabstractframecodec.h"

#include <QScriptEngine>
#include <QScriptValue>

class ZorFrameDecoderScript : public ZorAbstractFrameCodec
{
public:
    ZorFrameDecoderScript();
    ~ZorFrameDecoderScript() override;

    // Loads the script; false when the path is empty, the file cannot be
    // read, the script does not evaluate or defines no "decode". The path
    // is kept as the parameter in any case.
    bool setParameter(const QString &path) override;
    QVariant decode(const QVariant &frame) override;
    QVariant encode(const QVariant &value) override;

private:
    QScriptEngine m_engine;
    QScriptValue m_decodeFunction;
    QScriptValue m_encodeFunction;
};
