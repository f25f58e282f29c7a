#include "zorcandriverfactory.h"

#include "zorcandriverbrenko.h"
#include "zorcandriverbuslink.h"
#include "zorcandriverixxat.h"
#include "zorcandrivertarnnet.h"
#include "zorcandrivervedozovo.h"
#include "zorcandrivervscomftdi.h"

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
        return new ZorCanDriverIxxat;
    case Brenko:
        return new ZorCanDriverBrenko;
    case Vedozovo:
        return new ZorCanDriverVedozovo;
    case VSComFtdi:
        return new ZorCanDriverVSComFtdi;
    }
    return new ZorCanDriverTarnNet;
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
