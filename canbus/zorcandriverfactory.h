// The one place where the CAN interface module gets its driver objects.
//
// The module decides which kind of adapter a port text names (network
// gateway, adapter plug-in, IXXAT, the two USB HID adapters, the serial-line
// adapter); this function makes the driver of that kind.
#pragma once

#include <QString>

class ZorAbstractCanDriver;

namespace ZorCanDriverFactory {

enum Kind {
    Net,        // CAN over TCP to a network gateway ("ip:port")
    Buslink,    // an adapter plug-in ("kvaser", "peak:1", ...)
    Ixxat,      // IXXAT adapters through the maker's library
    Brenko,     // the maker's USB HID adapter ("brenko", "zazevavi", "kelvatro")
    Vedozovo,   // the second ("magnetic") USB HID adapter
    VSComFtdi,  // the serial-line adapter behind an FTDI chip ("vscom")
};

// A new driver of that kind, owned by the caller; never null.
ZorAbstractCanDriver *create(Kind kind);
// The kind's name in user texts ("network gateway", "IXXAT", ...).
QString kindName(Kind kind);

} // namespace ZorCanDriverFactory
