// The state machine that every CANopen node module runs: the generic node
// (ZorModNode) and the modules built on it (network manager, positioning
// drive).
//
//   NodeRoot                 shared data of all node states (its Box)
//   ├─ CommInit              opens communication (KM_COMM_OPEN to the gateway)
//   ├─ CommAutoId            finds the node id by a scan ("ScanIds" interview)
//   ├─ NodeStarted           status 1 "Started"; serves object lists
//   │  └─ ReadWriteObjects   while object lists are queued or running
//   ├─ NodeStopped           status 0 "Idle"
//   ├─ NodeError             status 2000 "Error: <text>"
//   └─ (subtrees of derived modules: DriveRoot, MgrRoot, ...)
//
// The node module is the master of its CANopen gateway (the framework puts
// the gateway between the node and its CAN interface): "to the slaves" means
// toward the bus, "to the master" toward the panel or the module above.
//
// How a derived module enters its own subtree:
//
//  1. Declare its states below NodeRoot (struct DriveRoot : Macho::Link<
//     DriveRoot, ZorNodeStates::NodeRoot>) and return the root of its
//     subtree from rootStateRef(). The machine then enters NodeRoot (its
//     entry resets the shared Box) and the derived root; NodeRoot's init and
//     cycle do not run, so the derived root's init stores continuations 1
//     (where a failed start goes) and 2 (the fallback), and its cycle leads
//     to its first resting state.
//  2. To open communication, store the state to go to afterwards under key 0
//     (setContinuation<Startup>(NodeRoot::Opened)) and request the
//     transition to CommInit. CommInit (and CommAutoId when "NodeId" is 0)
//     then go to continuation 0 with the communication open, or to 1 with
//     the error text set; the derived state answers the pending command.
//  3. Every state below NodeRoot overrides cycle(): a state that does not
//     runs NodeRoot's, which leads to NodeStopped. A derived state serves
//     object lists by calling processMessages() (or queueObjectList,
//     processObjectListQueue and handleObjectListAnswer for finer control)
//     and the access-key write with sendAccessKey / handleAccessKeyAnswer.
//     A derived module that writes the access key itself clears
//     Box::accessKeyOnChange in its root's entry.
//  4. Requests that a derived state drops while it cannot serve them (a
//     reset, a reboot wait) are answered KS_REJECT: rejectMasterRequests().
//
// The object-list service of NodeRoot is in zornodestatesobjectlists.cpp,
// the access key in zornodestatesaccesskey.cpp; the texts themselves are
// built and read by ZorObjectList (zorobjectlist.h).
#pragma once

#include "zorobjectlist.h"
#include "zormodstates.h"

#include <QElapsedTimer>
#include <memory>
#include <QList>
#include <QMap>
#include <QString>

class ZorModNode;

class ZorObjEditModel;

namespace ZorNodeStates {

struct NodeRoot : Macho::Link<NodeRoot, ZorModStates::Top>
{
    MACHO_STATE(NodeRoot)

    // Keys of the continuation table.
    enum ContinuationKey {
        Opened = 0,     // communication has been opened
        Failed = 1,     // opening it failed (the error text is set)
        Fallback = 2    // used for a key without an entry
    };

    // Status numbers the node states set.
    enum Status {
        StatusIdle = 0,
        StatusStarted = 1,
        StatusStarting = 1000,
        StatusGettingId = 1105,
        StatusListFailed = 1200,
        StatusError = 2000
    };

    // The data every node, manager and drive state shares; made afresh
    // whenever the machine starts.
    struct Box
    {
        ZorMessage pendingCommand;        // start or stop request not answered yet
        ZorMessage commOpenRequest;       // the KM_COMM_OPEN that CommInit sent
        QList<ZorMessage> objectListQueue;
        ZorMessage currentObjectList;     // KS_WAITING while its interview runs
        ZorMessage lastListAnswer;        // the answer sent for the last list
        ZorMessage objectListInterview;   // the interview sent for it
        bool silent = false;              // the current list is silent
        int timeBudgetMs = 0;             // of the current interview
        QElapsedTimer objectListTimer;
        bool resultShown = false;         // a result text is on display
        bool commOpen = false;
        QElapsedTimer startedTextTimer;
        QString errorText;                // shown by NodeError
        QElapsedTimer resultTimer;        // started with each result text
        QMap<int, Macho::StateRef> continuations;
        bool objectTableRequest = false;  // the current list came as XML
        // The table of that request, built in the module thread and
        // deleted with the answer (the module thread has no event loop).
        std::shared_ptr<ZorObjEditModel> objectTable;
        QString accessKeyClass;
        QString accessKeyValue;
        bool accessKeyAccepted = false;
        ZorMessage accessKeyInterview;
        bool autoIdEnabled = true;
        // A key entered through the "AccessKeySet" property is written once
        // communication is open.
        bool accessKeyOnChange = true;
        bool accessKeyPending = false;
    };

    void entry() override;
    void init() override;
    void cycle() override;

    ZorModNode *node() const;
    // A protocol wait of the node module (ZorModNode::Timing), in ms.
    int timing(int which) const;

    // "NodeId" as a decimal number (0 when it is none); written with notice.
    int nodeId() const;
    void setNodeId(int id);
    bool forwardSlaveMessages() const;

    // Sends the pending start or stop request back (KS_ANSWER or KS_FAIL)
    // when it still waits for its answer; the pending command is cleared.
    void answerPendingCommand(bool ok);
    // Shows a result (status text) that stays for at least the result hold
    // time before NodeStarted shows "Started" again.
    void showResultText(const QString &text);
    // The idle states of the manager and the drive. On entry a result text
    // on display stays for a full hold time, otherwise "Idle" shows. Each
    // cycle "Idle" comes back once the hold time is over, and an error text
    // noted meanwhile shows as a warning result (true then).
    void enterIdle();
    bool updateIdleText();

    void setContinuation(int key, const Macho::StateRef &target);
    template<class S>
    void setContinuation(int key) { setContinuation(key, S::makeStateRef()); }
    // The state stored under the key; NodeRoot when there is none.
    Macho::StateRef continuation(int key) const;
    // Requests the transition to the key's state and returns true; without
    // an entry to the fallback's (false), or nowhere (false).
    bool goToContinuation(int key);

    // The message loop of the states that serve requests. Both return false
    // when they requested a transition (the caller stops for this cycle).
    bool handleMasterRequest(const ZorMessage &message);
    bool processMessages();
    // Answers every request waiting from the master KS_REJECT.
    void rejectMasterRequests();

    // Object lists (zornodestatesobjectlists.cpp).
    bool queueObjectList(const ZorMessage &message);
    void cancelObjectLists(bool cancelAtGateway = true);
    bool processObjectListQueue();
    bool handleObjectListAnswer(const ZorMessage &message);
    // The interview for a list; the list is normalised in place. Returns the
    // interview's time budget in ms.
    int buildObjectListInterview(ZorMessage &interview, QString &list, int msgType);
    // An XML object table request: builds its table model and gives the
    // model's object list for the request type in place of the text.
    // False when the text is not a readable XML document.
    bool objectTableToList(QString &list, int msgType);

    // Access key (zornodestatesaccesskey.cpp).
    void sendAccessKey();
    bool handleAccessKeyAnswer(const ZorMessage &message);

protected:
    // "Writing objects ...", "Store permanently OK" and the like.
    QString objectListResultText(int msgType, const QString &result, bool ok) const;
    ZorObjectList::Context objectListContext() const;
    // KM_CANCEL_INTERVIEWS to the gateway: it drops what it still runs for us.
    // Cancels what the gateway still runs for this module. beforeStop: the
    // stop interview that follows takes the node's SDO channel at once.
    void cancelGatewayInterviews(bool beforeStop = false);
};

struct CommInit : Macho::Link<CommInit, NodeRoot>
{
    MACHO_STATE(CommInit)

    struct Box
    {
        QElapsedTimer clock;
    };

    void entry() override;
    void cycle() override;
};

struct CommAutoId : Macho::Link<CommAutoId, NodeRoot>
{
    MACHO_STATE(CommAutoId)

    struct Box
    {
        ZorMessage scan;
        QElapsedTimer timer;
        int timeoutMs = 5000;
        bool failed = false;
    };

    void entry() override;
    void cycle() override;
};

struct NodeStarted : Macho::Link<NodeStarted, NodeRoot>
{
    MACHO_STATE(NodeStarted)
    void entry() override;
    void cycle() override;
};

struct ReadWriteObjects : Macho::Link<ReadWriteObjects, NodeStarted>
{
    MACHO_STATE(ReadWriteObjects)
    void cycle() override;
};

struct NodeStopped : Macho::Link<NodeStopped, NodeRoot>
{
    MACHO_STATE(NodeStopped)
    void entry() override;
    void cycle() override;
};

struct NodeError : Macho::Link<NodeError, NodeRoot>
{
    MACHO_STATE(NodeError)
    void entry() override;
    void cycle() override;
};

} // namespace ZorNodeStates
