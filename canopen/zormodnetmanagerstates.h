// The states of the network manager (ZorModNetManager), a subtree of the
// node states below NodeRoot:
//
//   MgrRoot          the project-type table; first cycle -> MgrIdle
//   ├─ MgrIdle       status 0 "Idle"; an error text shows as "Warning: ..."
//   ├─ NetScan       status 1001: "ScanIds", then the identity interview
//   ├─ StatusMon     status 1: serves the node monitor's object lists
//   ├─ BuildProject  status 1002: "removemodule"/"addmodule" through app
//   │                control, one request at a time, then "NodeId" of each
//   └─ MgrError      status 2000 "Error: ..."
//
// The scan and the status monitor open communication first through CommInit
// (continuation 0), whose failure leads to MgrError (continuation 1).
// KM_START (data 1 scan, 2 build, else status monitor) and KM_STOP are taken
// in every state but NetScan, which finishes its scan first; object lists
// are queued everywhere and run only in StatusMon.
#pragma once

#include "zornodestates.h"

#include <QMap>
#include <QSet>
#include <QStringList>

namespace ZorNodeStates {

struct MgrRoot : Macho::Link<MgrRoot, NodeRoot>
{
    MACHO_STATE(MgrRoot)

    enum Status { StatusScanning = 1001, StatusBuilding = 1002 };

    // An "addmodule" whose answer did not come in time, and the node id
    // its module is for.
    struct LateAdd
    {
        ZorMessage request;
        QString nodeId;
    };

    struct Box
    {
        QMap<QString, QString> projectTypes;   // key -> module type, key order
        QList<LateAdd> lateAdds;
    };

    void entry() override;
    void init() override;
    void cycle() override;

    void readProjectTypes();
    int managerTiming(int which) const;
    // Takes requests from the master until one asks for a transition
    // (false then).
    bool takeMasterRequests();
    // Takes messages from the slaves: emergencies of "NodeId" set the error
    // text, answers go to the object-list service.
    void takeSlaveMessages();
    void noteEmergency(const ZorMessage &message);
    // A late answer to an "addmodule" that timed out: the module exists all
    // the same, so its label joins "ProjectLabelsCreated" and it gets its
    // node id (a build in progress takes the label into its own list,
    // created). True when the message was one.
    bool takeLateAddAnswer(const ZorMessage &message, QStringList *created = nullptr);
    // Sends "NodeId=<id>" to the new module of that label, and the mark
    // that tells it was made by this manager's build ("BuiltBy").
    void sendNodeId(const QString &label, const QString &nodeId);
    // "BuiltBy" of a module this manager's build made with that label.
    QString builtByMark(const QString &label) const;
    // The label an "addmodule" answer carries, or "" when it is none.
    static QString addedLabel(const ZorMessage &answer);
    // Keeps a new start or stop request; one still waiting is failed first.
    void takeCommand(const ZorMessage &message);
};

struct MgrIdle : Macho::Link<MgrIdle, MgrRoot>
{
    MACHO_STATE(MgrIdle)
    void entry() override;
    void cycle() override;
};

struct NetScan : Macho::Link<NetScan, MgrRoot>
{
    MACHO_STATE(NetScan)

    struct Box
    {
        ZorMessage scanRequest;
        ZorMessage identityRequest;
        QElapsedTimer clock;       // started with each request
        int budgetMs = 0;          // of the request on its way
    };

    void entry() override;
    void cycle() override;

private:
    void scanAnswered(const ZorMessage &answer);
    void identitiesAnswered(const ZorMessage &answer);
    void fail();
};

struct StatusMon : Macho::Link<StatusMon, MgrRoot>
{
    MACHO_STATE(StatusMon)
    void entry() override;
    void exit() override;
    void cycle() override;
};

struct BuildProject : Macho::Link<BuildProject, MgrRoot>
{
    MACHO_STATE(BuildProject)

    struct Box
    {
        ZorMessage removeRequest;
        int index = 0;               // of the next node
        ZorMessage addRequest;
        QStringList ids;             // node ids to create, decimal
        QStringList types;           // their module types
        bool failed = false;
        QStringList created;         // labels created so far
        QStringList labelsToRemove;
        bool start = true;
        ZorMessage waitingFor;       // the app-control request on its way
        QElapsedTimer requestClock;  // started with it
        QString removing;            // the label of the removal on its way
        bool finished = false;
        // Before anything is removed or added: what the node and drive
        // modules of the project are (their labels, "NodeId" and "BuiltBy").
        ZorMessage survey;
        QSet<QString> awaited;       // modules that have not answered yet
        QMap<QString, QMap<QString, QString>> modules;   // label -> properties
        bool surveyed = false;
        QStringList notes;           // what the build left alone, and why
    };

    void entry() override;
    void exit() override;
    void cycle() override;

private:
    // Takes the modules' answers to the survey; true once all are in (or
    // the time is up) and the plan is made.
    bool takeSurvey();
    // Removes only the modules of the last build that still carry its mark,
    // and adds none for a node that another module already addresses.
    void plan();
    // The answer (or the time-out) of the request on its way, or an
    // unanswered message when nothing is due.
    bool nextAnswer(ZorMessage &message);
    bool sendNextRemoval();
    void sendAppControl(ZorMessage &slot, const QString &command);
    void finish();
};

struct MgrError : Macho::Link<MgrError, MgrRoot>
{
    MACHO_STATE(MgrError)
    void entry() override;
    void cycle() override;
};

} // namespace ZorNodeStates
