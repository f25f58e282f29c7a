// What the runtime generator needs of the project it packs: a copy of it,
// saved under another name. The project class implements it, so that this
// library needs nothing of the application shell.
#pragma once

#include <QString>

class ZorSavableProject
{
public:
    // Saves a copy of the project to `fileName` (a ".zortpl" name packs it
    // as a template); the project keeps its own file. False with the reason,
    // possibly empty, in `errorText`.
    virtual bool saveCopy(const QString &fileName, QString &errorText) = 0;

protected:
    ~ZorSavableProject() = default;
};
