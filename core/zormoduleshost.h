// ZorModulesHost: the thread in which all module objects of a project are
// created, linked, receive their messages and are deleted.
//
// The host runs an event loop, so every signal between modules and every
// queued call of a module's slots is carried out in this thread. The project
// (GUI thread) asks it for one action at a time with performAction:
//   1  create a module for every module item that has none, delete the
//      modules of items that are gone, and re-link all modules when anything
//      changed;
//   2  delete all modules.
// performAction waits for the action at most actionTimeout() ms (20000 by
// default); an action that takes longer finishes later on its own.
#pragma once

#include "zorhostedproject.h"

#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <mutex>

class ZorModulesHost : public QThread
{
    Q_OBJECT
public:
    enum Action { NoAction = 0, CreateModules = 1, DeleteModules = 2 };

    // projectObject is the QObject parent and the project's lifetime guard;
    // project gives the model, the registry, the module map and the
    // app-control receiver (normally both are the same project object).
    ZorModulesHost(QObject *projectObject, ZorHostedProject *project);
    ~ZorModulesHost() override;

    // GUI thread: asks the host for an action and waits for it at most
    // actionTimeout() ms. Returns true when the action was carried out in
    // that time.
    bool performAction(int action);

    void setActionTimeout(int ms) { actionTimeoutMs = ms; }
    int actionTimeout() const { return actionTimeoutMs; }

protected:
    void run() override;

private:
    void createModules();
    void deleteModules();
    static void deleteAll(const QList<ZorModule *> &modules);

    std::mutex hostMutex;
    std::condition_variable actionDone;
    QPointer<QObject> projectObject;
    ZorHostedProject *project;
    bool stopping = false;       // guarded by hostMutex
    int action = NoAction;       // guarded by hostMutex: the requested action
    quint64 requested = 0;       // guarded by hostMutex: serial of the last request
    quint64 finished = 0;        // guarded by hostMutex: serial of the last action done
    bool threadEnded = false;    // guarded by hostMutex
    int actionTimeoutMs = 20000;
};
