// ZorStandInModule: a module that only links.
//
// It takes slaves of the types it is given (in the grammar of
// ZorModule::acceptedSlaveTypes) and drops every message that reaches its
// queues. The self-check builds one where the program has no class yet for
// a module kind of its sample project, with the slave types that kind
// takes, so that linking is checked the same way for every row.
#pragma once

#include "zormodstates.h"
#include "zormodule.h"

namespace StandInStates {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)
    void cycle() override;
};

} // namespace StandInStates

class ZorStandInModule : public ZorModule
{
public:
    explicit ZorStandInModule(const QString &acceptedTypes, QObject *parent = nullptr);
    ~ZorStandInModule() override;

    QString acceptedSlaveTypes() const override { return accepted; }
    Macho::StateRef rootStateRef() const override;
    int statusPeriod() const override { return 0; }

private:
    const QString accepted;
};
