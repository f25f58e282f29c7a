// What the module host needs of the project that owns it. The project
// (a QObject) implements this interface and hands itself to its host:
//
//     class QuorvaneProject : public QObject, public ZorHostedProject { ... };
//     host = new ZorModulesHost(this, this);
//
// The host reads and changes these only in its own thread while the project
// waits for it in performAction.
#pragma once

#include "zormodule.h"

class QAbstractItemModel;
class ZorModuleRegistry;

class ZorHostedProject
{
public:
    // The project tree model: the module items are the children (column 0)
    // of its first top-level item.
    virtual QAbstractItemModel *hostModel() const = 0;
    // Module type key -> creator.
    virtual const ZorModuleRegistry &hostModuleRegistry() const = 0;
    // The project's modules by item; filled and emptied by the host.
    virtual ZorModuleMap &hostModuleMap() = 0;
    // The object with the slot appControlIn(ZorMessage) and the signal
    // appControlResponse(ZorMessage) (the main window); null for none.
    virtual QObject *hostAppControlReceiver() const = 0;

protected:
    ~ZorHostedProject() = default;
};
