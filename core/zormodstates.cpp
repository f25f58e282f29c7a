#include "zormodstates.h"

#include "zormodule.h"

#include <QCoreApplication>

namespace ZorModStates {

QString Top::tr(const char *text, const char *disambiguation)
{
    return QCoreApplication::translate("Top", text, disambiguation);
}

void Top::cycle()
{
}

bool Top::handleInterviewLine(const ZorInterview &)
{
    return false;
}

bool Top::cyclesOnlyWhenWoken() const
{
    return false;
}

void Top::attachModule(ZorModule *module)
{
    box().module = module;
}

ZorModule *Top::module() const
{
    return box().module.data();
}

int Top::status() const
{
    return box().status;
}

QString Top::statusText() const
{
    return box().statusText;
}

void Top::setStatus(int code)
{
    if (box().status == code)
        return;
    box().status = code;
    sendStatus();
    if (ZorModule *m = module())
        m->setStatus(code);
}

void Top::sendStatus()
{
    const ZorMessage message(KM_STATUS, KS_INFO, box().status);
    sendToMaster(message, true);
    ZorModule *m = module();
    if (m && m->statusToSlaves())
        sendToSlaves(message, true);
}

void Top::setStatusText(const QString &text)
{
    if (box().statusText == text)
        return;
    box().statusText = text;
    sendToMaster(ZorMessage(KM_INFOTEXT, KS_INFO, text), true);
    if (ZorModule *m = module())
        m->setStatusText(text);
}

void Top::sendToMaster(ZorMessage message, bool stampOrigin)
{
    ZorModule *m = module();
    if (!m)
        return;
    if (stampOrigin)
        message.setOrigin(m->label());
    m->postOut(ZorModule::ToMaster, message);
}

void Top::sendToSlaves(ZorMessage message, bool stampOrigin)
{
    ZorModule *m = module();
    if (!m)
        return;
    if (stampOrigin)
        message.setOrigin(m->label());
    m->postOut(ZorModule::ToSlaves, message);
}

QString Top::property(const QString &name) const
{
    ZorModule *m = module();
    return m ? m->property(name) : QString();
}

bool Top::setProperty(const QString &name, const QString &value, bool notify, bool asDefault)
{
    ZorModule *m = module();
    return m ? m->setProperty(name, value, notify, asDefault) : false;
}

void Top::setReadOnlyProperties(const QString &names)
{
    QStringList keys;
    for (const QString &part : names.split(QLatin1Char(','))) {
        const int blank = part.indexOf(QLatin1Char(' '));
        keys << (blank < 0 ? part : part.left(blank));
    }
    setProperty(QStringLiteral("_ReadOnly"), keys.join(QLatin1Char(',')), true, false);
}

bool Top::hasPendingInterviews() const
{
    ZorModule *m = module();
    return m && m->hasPendingInterviews();
}

void Top::offerInterviewAnswer(const QString &kind, const QString &text, bool failed)
{
    if (ZorModule *m = module())
        m->offerInterviewAnswer(kind, text, failed);
}

bool Top::setLineExpectedAnswer(const QString &pattern)
{
    ZorModule *m = module();
    return m && m->setLineExpectedAnswer(pattern);
}

} // namespace ZorModStates
