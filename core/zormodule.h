// ZorModule: the base class of every module of a project.
//
// A module is a thread of its own that runs one hierarchical state machine
// (macho.h) whose top state is ZorModStates::Top. The module object itself
// lives in the module host's thread: its slots (slaveIn, masterIn, the
// draining slots, wakeup) run there and only hand messages over, under one
// mutex per list, to the module thread. Only run() executes in the module
// thread.
//
// Run loop, once per cycle: up to interviewPasses() passes over the pending
// interviews, one call of the current state's cycle(), the periodic status
// report, then a sleep for the rest of the cycle (cycleTime() ms, 1 ms when
// the cycle had interview work). Any message or interview that arrives wakes
// the loop at once.
//
// Messages: slaveIn receives from the master (queue 1), masterIn from the
// slaves (queue 0); states take them with getMessage. States send through
// ZorModStates::Top::sendToMaster / sendToSlaves (or postOut), which append to
// an outgoing list; the host thread drains the lists in order and emits
// slaveOut (towards the master) and masterOut (towards the slaves). The base
// answers the generic requests itself (KM_WHOAMI, the property requests,
// KM_STATUS, KM_INFOTEXT, KM_CANCEL_INTERVIEWS, KM_SNIFFER_SET).
//
// Express hand-over between a via module and its slave: each exchange would
// otherwise wake the host thread twice (there and back), which costs more
// than the frames themselves on a fast bus. An interview the via module
// sends its slave goes straight into the slave's interviews, and the slave's
// answer to it straight into the via module's queue, from the sending
// module's thread, whenever nothing it sent earlier in that direction still
// waits for the host thread (so that the order the receiver sees is kept).
// The answer is still emitted through the host thread as well, for the other
// listeners of the slave; the via module has claimed it already and drops
// that copy (claimsSlaveAnswer). Interviews and answers taken this way pass
// neither inputArriving nor the sniffer: with a sniffer on at either end the
// host thread carries everything.
//
// Interviews: a KM_INTERVIEW request from the master becomes a ZorInterview
// record. The run loop offers every attempt of each due line to the current
// state's handleInterviewLine, which starts the request (the CAN interface
// posts the frame to its own queue, the gateway sends CAN lines on to its
// slave) and returns true, or false for a kind it does not carry out. What
// the state later receives it feeds, from cycle(), through
// ZorModStates::Top::offerInterviewAnswer(kind, text, failed); matching,
// retries, time-outs and the answer to the master are done here. Interviews
// and cancels that a module sends to its slaves carry its label as origin.
//
// Writing a module: derive from ZorModule, register properties in the
// constructor (setProperty with notify), return the root state's reference
// from rootStateRef(), and put the behaviour into the states. States must
// never block: a module is stopped by setting a flag that the loop polls, and
// its thread is never terminated. A state that must stay in one cycle for
// long (a script run) is cut short through aboutToStop().
//
// Deleting a module: stop() it first (ZorModuleDeleter does both), so that its
// thread has ended before any part of the object is destroyed.
#pragma once

#include "macho.h"
#include "zormessage.h"

#include <QDomElement>
#include <QElapsedTimer>
#include <QMap>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QAbstractItemModel;
class ZorAbstractDomModel;
class ZorInterview;
class ZorModule;

// Makes a new module with the given QObject parent (null for project modules,
// the master for via modules); may return null.
using ZorModuleCreator = std::function<ZorModule *(QObject *parent)>;
// The project's modules by their item in the project model. Keys order by
// the items' current rows, so the module host re-sorts the map whenever rows
// may have moved; look modules up only right after a host action.
using ZorModuleMap = QMap<QPersistentModelIndex, ZorModule *>;

namespace ZorModStates { struct Top; }

class ZorModule : public QThread
{
    Q_OBJECT
public:
    explicit ZorModule(QObject *parent = nullptr);
    ~ZorModule() override;

    // --- set-up and identity (read from the project model at set-up) -------
    // Binds the module to its project item and reads its stored properties.
    // Runs in the host thread while the project waits for it; derived
    // modules that override it call this first.
    virtual bool setupZorModule(const QModelIndex &index, QAbstractItemModel *model);
    // Comma-separated slave types this module takes ("canusb",
    // "drive_canopen+", "*", "canusb-"); empty by default.
    virtual QString acceptedSlaveTypes() const;
    virtual QString label() const;
    virtual QString type() const;
    virtual QString description() const;
    // Called under the property mutex before a value is stored; may change
    // the value. The value is stored whatever it returns. It may read other
    // properties; it runs in the thread that sets the property.
    virtual bool propertyChanged(const QString &key, QString &value);
    // Period of the KM_STATUS report in ms; 0 or less: none.
    virtual int statusPeriod() const;
    // The module's root state: return RootState::makeStateRef().
    virtual Macho::StateRef rootStateRef() const = 0;
    virtual bool oneInterviewPerPass() const;
    virtual bool bypassInputFilter() const;
    virtual bool refusesMaster() const;
    virtual bool statusToSlaves() const;
    virtual int masterQueueLimit() const;
    virtual int slaveQueueLimit() const;
    // Received CAN frames (KM_CAN_FRAME that answer no request of the
    // master) that may wait in an outgoing list before further ones are
    // dropped and counted; 0 (the default): no limit. A module that reads a
    // bus sets one, so that a peer flooding faster than the frames can be
    // handed on costs a bounded amount of memory, never a growing one.
    virtual int frameBacklogLimit() const;
    // Whether a message is such a frame on its way towards the master
    // (ToMaster) or the slaves (ToSlaves).
    static bool isDroppableFrame(const ZorMessage &message, int direction);
    // Frames dropped so far (any thread); counted by the outgoing lists and
    // by whoever else hands the module's frames on within a bound.
    quint64 droppedFrames() const { return framesDropped.load(std::memory_order_relaxed); }
    void countDroppedFrames(quint64 count) { framesDropped.fetch_add(count, std::memory_order_relaxed); }
    // Messages one drain of an outgoing list sends in the host thread.
    static constexpr int DrainBatch = 512;
    // Called by requestStop() (so also by stop()) in the thread that asks,
    // right after the stop flag is set. A module whose state can stay busy
    // within one cycle for long (the automation module running a script)
    // cuts that work short here. Runs in any thread: it must be thread-safe
    // and return promptly. The base's destructor cannot reach an override,
    // so a module that overrides it stops itself in its own destructor.
    virtual void aboutToStop();
    // Called in the host thread for each message that is about to go into
    // input queue 1 (from the master, after the recipient filter and the
    // generic requests) or 0 (from the slaves), also when the queue is full.
    // Lets a module react at once to a message that its busy thread would
    // take only later (a stop request while a script runs). Must return
    // promptly; the message is queued as usual afterwards.
    virtual void inputArriving(int queue, const ZorMessage &message);
    // Called in the host thread for each message (not a request) from the
    // slaves before it is queued: false drops it there, without waking the
    // module. For a module with many slaves' traffic to pass over (a CANopen
    // gateway sees every frame of its CAN interface) and only for messages
    // its states would drop unseen anyway. Must be thread-safe and prompt.
    // True by default.
    virtual bool wantsFromSlaves(const ZorMessage &message) const;
    // Called in the slave's thread for an interview answer (KM_INTERVIEW, no
    // longer a request) that the slave finished, on a via module in front of
    // it: true claims it, and the via module takes it at once into queue 0;
    // its copy that comes later through masterIn must then be dropped by
    // wantsFromSlaves. Only the via module that sent the interview may
    // claim it. Must be thread-safe and prompt. False by default.
    virtual bool claimsSlaveAnswer(const ZorMessage &message);

    // Reads label, type and description again from the project item (host
    // thread, while the project waits); true when one of them changed.
    bool refreshIdentity();

    QPersistentModelIndex modelIndex() const { return m_modelIndex; }
    QAbstractItemModel *itemModel() const;

    // --- pace (module thread; states call these) -----------------------------
    // Cycle time clamped to 1..9999 ms; returns the stored value.
    int setCycleTime(int ms);
    int cycleTime() const { return cycleTimeMs.load(std::memory_order_relaxed); }
    // Interview passes per cycle, clamped to 1..99.
    void setInterviewPasses(int passes);
    int interviewPassCount() const { return interviewPasses.load(std::memory_order_relaxed); }
    // The thread's priority can be changed with QThread::setPriority from a
    // state (the CAN interface raises it while an adapter is open).

    // --- status ---------------------------------------------------------------
    // The status number and text last written to the project model.
    int status() const;
    QString infoText() const;
    // Post a changed status / text to the project model (any thread).
    void setStatus(int status);
    void setStatusText(const QString &text);

    // --- properties -------------------------------------------------------------
    // Key of a property name: the name, trimmed, up to a blank that is
    // followed by a sign, which starts a unit or hint ("TargetPos [mm]" and
    // "TargetPos / my target position" -> "TargetPos"). Words that follow a
    // blank belong to the key: "1 bad key" is a key of its own.
    static QString propertyKey(const QString &name);
    bool setProperty(const QString &name, const QString &value, bool notify = true,
                     bool asDefault = false);
    QString property(const QString &name) const;
    // "display name=value" lines in key order, joined by line feeds.
    QString allPropertiesText() const;
    bool loadProperties();

    // --- queues ---------------------------------------------------------------
    enum Queue { FromSlaves = 0, FromMaster = 1 };
    enum Direction { ToSlaves = 0, ToMaster = 1 };
    // Takes the first message of queue 1 (from the master) or 0 (from the
    // slaves); false when it is empty or the number is neither.
    bool getMessage(int queue, ZorMessage &out);
    void clearInQueue(int queue);
    int queuedCount(int queue) const;
    // Puts a message into the module's own input queue (no limit) and wakes it.
    void postIn(int queue, const ZorMessage &message);
    // Appends a message to the outgoing list towards the master (1) or the
    // slaves (0); the host thread sends it.
    void postOut(int direction, const ZorMessage &message);
    // Answers a generic request in place; true when the message is now an
    // answer that the caller sends back.
    bool handleGenericRequest(ZorMessage &message);
    bool snifferEnabled() const { return snifferOn.load(); }

    // --- interviews ---------------------------------------------------------------
    bool acceptInterview(const ZorMessage &message);
    void cancelInterviews(const QString &origin);
    bool hasPendingInterviews() const;
    int pendingInterviewCount() const;
    // Module thread: matches a received answer against the waiting lines.
    void offerInterviewAnswer(const QString &kind, const QString &text, bool failed);
    // Module thread, inside handleInterviewLine only: replaces the expected
    // answer of the line being handed to the state; false elsewhere.
    bool setLineExpectedAnswer(const QString &pattern);

    // --- links (host thread) ------------------------------------------------------
    // Resolves the slaves of this module from its "slave" elements and its
    // accepted slave types against all modules of the project, and attaches
    // them afresh.
    void setupSlaves(const ZorModuleMap &modules);
    bool addSlave(ZorModule *slave);
    bool removeSlave(const QString &label);
    bool removeAllSlaves();
    void connectSlave(ZorModule *slave);
    void disconnectSlave(ZorModule *slave);
    QMap<QString, QPointer<ZorModule>> slaveModules() const { return slaves; }
    // The slaves' labels and types as last linked, in label order; any
    // thread (the module's states read it while the host relinks).
    QMap<QString, QString> slaveTypes() const;
    // The via module standing in front of the slave of that label, if any.
    ZorModule *viaModuleFor(const QString &slaveLabel) const { return viaModules.value(slaveLabel).data(); }

    // Registers a creator of via modules for slaves of a type; a later call
    // for the same type leaves the first creator (returns false).
    bool addViaCreator(const QString &slaveType, const ZorModuleCreator &creator);
    // Slaves of that type are reached through a CANopen gateway module.
    bool addGatewayForMasterType(const QString &slaveType);
    // The CANopen gateway's creator, registered once by the library that
    // holds the gateway module; until then gateways are not created and such
    // slaves are linked directly.
    static void setCanOpenGatewayCreator(const ZorModuleCreator &creator);

    bool isViaModule() const { return isVia; }
    QString viaLabel() const { return viaSlaveLabel; }
    QString viaType() const { return viaSlaveType; }
    // The slave a via module stands in front of, as an address that only
    // names it (never dereferenced; it may be gone): via modules in front of
    // one slave share what belongs to it. Null for other modules.
    const void *viaSlaveIdentity() const { return viaSlaveModule; }

    // --- stopping ---------------------------------------------------------------
    bool isStopping() const { return stopping.load(); }
    // Sets the stop flag and wakes the loop; returns at once.
    void requestStop();
    // True when a message or interview arrived since the loop last slept:
    // a state that waits inside its cycle (a driver waiting for data) ends
    // the wait early when it is. Any thread.
    bool wakeupPending();
    // With on, every wakeup also interrupts the module thread's Qt event
    // dispatcher, for a state that waits in it (a driver waiting for its
    // socket's data in processEvents), so that new work ends that wait at
    // once too. Module thread.
    void setWakeupInterruptsEvents(bool on) { wakeupInterruptsEvents = on; }
    // Module thread, for a state that waits inside its cycle for what its
    // queues bring (a script waiting for an answer): sleeps until the module
    // is woken (a message or interview arrived, a stop was asked, wakeup()
    // was called) or ms have passed, without polling. A wake-up that came
    // since the last one was taken ends it at once, so a message queued
    // after the caller last looked is never slept over. True when woken.
    bool waitForWakeup(int ms);
    // Stops the thread and waits until it has ended. A module whose states do
    // not return within stopTimeout() ms is reported loudly and waited for;
    // its thread is never terminated.
    void stop();
    void setStopTimeout(int ms) { stopTimeoutMs = ms; }
    int stopTimeout() const { return stopTimeoutMs; }

    // Looks a type key up in a map of creators and calls the creator with the
    // argument; null when the key has no creator.
    template<class Map, class Arg>
    static ZorModule *createByType(const Map &creators, const QString &type, Arg argument)
    {
        auto it = creators.find(type);
        if (it == creators.end() || !*it)
            return nullptr;
        return (*it)(argument);
    }

signals:
    void slaveOut(const ZorMessage &message);
    void masterOut(const ZorMessage &message);
    void appControlOut(const ZorMessage &message);
    void newMasterOutQueued();
    void newSlaveOutQueued();

public slots:
    void slaveIn(const ZorMessage &message);
    void masterIn(const ZorMessage &message);
    void newSlaveOut();
    void newMasterOut();
    void wakeup();

protected:
    void run() override;

    // Identity for modules without a project item (via modules, tests).
    void setIdentity(const QString &label, const QString &type, const QString &description);

private:
    struct MessageQueue
    {
        mutable std::mutex mutex;
        std::deque<ZorMessage> list;
    };

    // The express hand-over of a via module and its slave (one link each).
    struct ExpressLink;
    bool expressToSlave(const ZorMessage &message);
    bool expressToMaster(const ZorMessage &message);
    bool takeExpressInterview(const ZorMessage &message);
    bool takeExpressAnswer(const ZorMessage &message);
    void addExpressLink(ZorModule *slave);
    void cutExpressLinks();

    MessageQueue *queueFor(int queue);
    const MessageQueue *queueFor(int queue) const;
    bool appendLimited(MessageQueue &queue, const ZorMessage &message, int limit);
    void appendToMaster(const ZorMessage &message);
    void emitSniffer(const QString &text);
    void runMachine();
    bool sleepsUntilWoken(Macho::StateMachine &stateMachine);
    void runInterviewPasses(bool &activity);
    bool interviewPass(bool &activity);
    bool offerLineToState(ZorInterview &record);
    ZorMessage takeFinishedInterview(int index);
    ZorModStates::Top &topState(Macho::StateMachine::Access &access) const;

    // Project binding (set in the host thread before the thread starts).
    QPointer<QAbstractItemModel> model;
    QPointer<ZorAbstractDomModel> domModel;
    QPersistentModelIndex m_modelIndex;
    // The item's element was found: status and property writes go to the
    // model. Checked instead of the index, whose validity only the model's
    // thread may ask.
    bool boundToItem = false;

    // Cached identity and status: read by the host and module threads.
    mutable std::mutex identityMutex;
    QString cachedLabel, cachedType, cachedDescription, cachedStatusText;
    std::atomic<int> cachedStatus{0};

protected:
    bool isVia = false;
    QString viaSlaveLabel;
    QString viaSlaveType;
    const void *viaSlaveModule = nullptr;

private:
    // Made in the constructing thread, so that guarded pointers to the module
    // taken later in other threads only share it.
    QPointer<ZorModule> selfGuard;
    std::atomic<bool> stopping{false};
    std::atomic<bool> outputOpen{false};   // run() has emptied the out-lists
    std::atomic<int> cycleTimeMs{15};
    std::atomic<int> interviewPasses{8};
    std::atomic<bool> snifferOn{false};
    std::atomic<bool> wakeupInterruptsEvents{false};
    std::atomic<quint64> framesDropped{0};
    int stopTimeoutMs = 10000;

    std::mutex waitMutex;
    std::condition_variable waitCondition;
    bool wakePending = false;   // guarded by waitMutex: a wake-up while busy is not lost
    bool threadEnded = false;   // guarded by waitMutex

    MessageQueue fromMasterQueue;
    MessageQueue fromSlavesQueue;
    MessageQueue toMasterList;
    MessageQueue toSlavesList;
    // What the host thread is emitting (under the list's mutex): the message
    // towards the master, a batch towards the slaves.
    ZorMessage toMasterInFlight;
    bool toMasterHasInFlight = false;
    bool toSlavesDraining = false;

    // Via module: the link to its slave, made before its thread starts.
    std::shared_ptr<ExpressLink> expressDown;
    // Slave: the links of the via modules in front of it.
    std::mutex expressMutex;
    std::vector<std::shared_ptr<ExpressLink>> expressUp;

    // Recursive: handleInterviewLine runs with it held, and a state may ask
    // hasPendingInterviews from there or from a hook of a transition.
    mutable std::recursive_mutex interviewMutex;
    QList<ZorInterview *> interviews;
    struct DeferredAnswer { QString kind; QString text; bool failed; };
    std::deque<DeferredAnswer> deferredAnswers;   // module thread, under interviewMutex
    bool insideInterviewLine = false;             // module thread only
    ZorInterview *lineInHand = nullptr;           // module thread only, during offerLineToState

    // Recursive, so that a propertyChanged override may read other properties.
    mutable std::recursive_mutex propertyMutex;
    QMap<QString, QString> properties;
    QMap<QString, QString> propertyDefaults;
    QMap<QString, QString> propertyDisplayNames;

    // Links: host thread only.
    QMap<QString, QPointer<ZorModule>> slaves;
    // Copy of the slaves' labels and types for the module thread.
    mutable std::mutex slaveTypesMutex;
    QMap<QString, QString> slaveTypesCopy;
    void updateSlaveTypes();
    QMap<QString, ZorModuleCreator> viaFactories;
    QMap<QString, QPointer<ZorModule>> viaModules;
    void dropViaModule(const QString &slaveLabel, ZorModule *slave);
    void disconnectDirect(ZorModule *slave);
    QDomElement moduleElement() const;

    // The running machine (module thread only, valid while run() runs).
    Macho::StateMachine *machine = nullptr;
};

// Deleter for smart pointers that own a module: stops it, then deletes it.
struct ZorModuleDeleter
{
    static void cleanup(ZorModule *module)
    {
        if (module) {
            module->stop();
            delete module;
        }
    }
    void operator()(ZorModule *module) const { cleanup(module); }
};
