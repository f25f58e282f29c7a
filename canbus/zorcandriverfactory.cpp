#include "zorcandriverfactory.h"

#include "zorcandriverbuslink.h"
#include "zorcandrivertarnnet.h"
#include "zorcandriverunavailable.h"

#include <QCoreApplication>

namespace ZorCanDriverFactory {

ZorAbstractCanDriver *create(Kind kind)
{
    switch (kind) {
    case Net:
        return new ZorCanDriverTarnNet;
    case Buslink:
        return new ZorCanDriverBuslink;
    case Ixxat:
    case Brenko:
    case Vedozovo:
    case VSComFtdi:
        break;
    }
    return new ZorCanDriverUnavailable(kindName(kind));
}

bool isAvailable(Kind kind)
{
    return kind == Net || kind == Buslink;
}

QString kindName(Kind kind)
{
    switch (kind) {
    case Net:
        return QCoreApplication::translate("ZorCanDriverFactory", "network gateway");
    case Buslink:
        return QCoreApplication::translate("ZorCanDriverFactory", "adapter plug-in");
    case Ixxat:
        return QStringLiteral("IXXAT");
    case Brenko:
        return QStringLiteral("brenko USB");
    case Vedozovo:
        return QCoreApplication::translate("ZorCanDriverFactory", "magnetic USB");
    case VSComFtdi:
        return QStringLiteral("vscom USB");
    }
    return QString();
}

} // namespace ZorCanDriverFactory
