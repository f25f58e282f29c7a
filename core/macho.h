// Hierarchical state machines for modules.
//
// Every module runs one machine in its own thread. States are classes arranged
// in a tree: each state class derives, through Macho::Link, from its parent
// state class, and the topmost state of a tree derives from Macho::TopBase.
// A state may carry a data object, its box (a nested type named Box), that
// exists only while the state is active: it is constructed right before the
// state's entry hook and destroyed right after its exit hook.
//
// Handlers never change state themselves: they request a transition, and the
// machine carries it out after the handler has returned, by exiting states up
// to the lowest common ancestor, entering states down to the target and
// running the target's init hook (which may request a further transition).
// Requests made in an entry hook are dropped; the last of several requests in
// one handler wins; exit hooks must not request transitions at all.
//
// Declaring states:
//
//     struct Root : Macho::Link<Root, ZorModStates::Top> {
//         MACHO_STATE(Root)
//         struct Box { int retries = 0; };           // optional state data
//         void init() override { requestTransition<Idle>(); }
//     };
//     struct Idle : Macho::Link<Idle, Root> {
//         MACHO_STATE(Idle)
//         void cycle() override { if (Root::box().retries > 3) ... }
//     };
//
// A state reaches its own box with box() and an ancestor's with
// Ancestor::box(). State objects hold no data of their own: everything that
// must survive a transition lives in a box or in the module.
//
// A machine and everything in it belongs to one thread and takes no locks.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>

namespace Macho {

class StateMachine;
class _StateInstance;
class _StateSpecification;

// Identifies one state class. The record's address is the state's identity;
// its fields are constants of the class.
struct StateKey
{
    _StateInstance &(*obtainInstance)(StateMachine &machine);
    bool (*matchesKey)(const StateKey *key);   // true for this state or one of its ancestors
    const char *(*name)();
    int id;
};

// Gives out state ids while the program's static data is initialised: the root
// entry is 0, state classes count from 1.
int _nextStateId();
// Number of entries of every machine's instance table (root entry included).
int stateCount();

// What happens to a transition's target after it has been entered.
class _Initializer
{
public:
    virtual ~_Initializer() = default;
    virtual _Initializer *clone() = 0;
    virtual void release() { delete this; }
    virtual const StateKey *adapt(const StateKey *key) { return key; }
    virtual void execute(_StateInstance &instance) = 0;
};

// Initializers that live for the whole program: cloning returns the object
// itself and releasing does nothing.
class _StaticInitializer : public _Initializer
{
public:
    _Initializer *clone() override { return this; }
    void release() override {}
};

class _DefaultInitializer : public _StaticInitializer
{
public:
    void execute(_StateInstance &instance) override;
};

class _HistoryInitializer : public _StaticInitializer
{
public:
    void execute(_StateInstance &instance) override;
};

_Initializer &defaultInitializer();
_Initializer &historyInitializer();

// The box of every state without data.
extern char sharedEmptyData;

// A state named at run time: its key and the initializer its entry runs.
class StateRef
{
public:
    StateRef() = default;
    StateRef(const StateKey *key, _Initializer *initializer)
        : m_key(key), m_initializer(initializer) {}
    StateRef(const StateRef &other)
        : m_key(other.m_key), m_initializer(other.m_initializer ? other.m_initializer->clone() : nullptr) {}
    StateRef &operator=(const StateRef &other)
    {
        if (this != &other) {
            _Initializer *copy = other.m_initializer ? other.m_initializer->clone() : nullptr;
            if (m_initializer)
                m_initializer->release();
            m_key = other.m_key;
            m_initializer = copy;
        }
        return *this;
    }
    ~StateRef()
    {
        if (m_initializer)
            m_initializer->release();
    }

    const StateKey *key() const { return m_key; }
    _Initializer *initializer() const { return m_initializer; }
    bool isValid() const { return m_key != nullptr; }

private:
    const StateKey *m_key = nullptr;
    _Initializer *m_initializer = nullptr;
};

// The runtime's bookkeeping for one state in one machine.
class _StateInstance
{
public:
    _StateInstance(StateMachine &machine, _StateInstance *parent);
    virtual ~_StateInstance();
    _StateInstance(const _StateInstance &) = delete;
    _StateInstance &operator=(const _StateInstance &) = delete;

    virtual int id() const = 0;
    virtual const StateKey *key() const = 0;
    virtual const char *name() const = 0;
    virtual _StateInstance *create(StateMachine &machine, _StateInstance *parent) const = 0;
    virtual void createBox() = 0;
    virtual void deleteBox() = 0;

    StateMachine &machine() const { return m_machine; }
    _StateInstance *parent() const { return m_parent; }
    _StateSpecification &stateObject() const { return *m_state; }
    void *box() const { return m_box; }
    bool hasLiveBox() const { return m_box != nullptr && m_box != &sharedEmptyData; }

    // True when other is this instance or one of its ancestors.
    bool liesWithin(const _StateInstance *other) const;
    void exitTo(_StateInstance &next);
    void enterFrom(_StateInstance *previous);
    void runInit(bool history);

protected:
    friend class StateMachine;
    StateMachine &m_machine;
    _StateSpecification *m_state = nullptr;
    _StateInstance *m_history = nullptr;
    _StateInstance *m_parent = nullptr;
    void *m_box = nullptr;
    void *m_spareBox = nullptr;
};

// The implicit root above the top state: never entered, never exited.
class _RootInstance : public _StateInstance
{
public:
    _RootInstance(StateMachine &machine, _StateInstance *parent);
    int id() const override { return 0; }
    const StateKey *key() const override { return nullptr; }
    const char *name() const override { return "Root"; }
    _StateInstance *create(StateMachine &machine, _StateInstance *parent) const override;
    void createBox() override {}
    void deleteBox() override {}
};

// Base of every state object: the hooks and handlers that a state overrides.
class _StateSpecification
{
public:
    explicit _StateSpecification(_StateInstance &rootInstance) : m_rootInstance(rootInstance) {}
    virtual ~_StateSpecification() = default;
    _StateSpecification(const _StateSpecification &) = delete;
    _StateSpecification &operator=(const _StateSpecification &) = delete;

    virtual void restoreCurrent(_StateInstance &instance);
    virtual void shutdown();
    virtual void passHistoryUp(_StateInstance &self, _StateInstance &deep) {}
    virtual void exit() {}
    virtual void entry() {}
    virtual void init() {}
    virtual void releaseBox(_StateInstance &instance) {}
    virtual void saveHistory(_StateInstance &self, _StateInstance &shallow, _StateInstance &deep) {}

    // Requests a transition to state S, carried out after the running
    // handler (or init hook) returns. A later request replaces this one.
    template<class S>
    void requestTransition();
    void requestRefTransition(const StateRef &ref);

    StateMachine &machine() const { return m_rootInstance.machine(); }

    static const char *_stateName() { return "Root"; }
    static bool matchesKey(const StateKey *) { return false; }

protected:
    _StateInstance &m_rootInstance;
};

// One machine: the current state, the pending transition and one instance per
// state class that has been used in it.
class StateMachine
{
public:
    explicit StateMachine(const StateRef &rootState);
    ~StateMachine();
    StateMachine(const StateMachine &) = delete;
    StateMachine &operator=(const StateMachine &) = delete;

    void start(const StateRef &ref);
    void performPendingTransitions();
    // Exits every active state up to and including the top state; current is
    // null afterwards. The destructor does this when it has not been done.
    void shutdown();

    _StateInstance &rootInstance();
    _StateInstance *currentInstance() const { return m_current; }
    StateRef currentStateRef() const;
    bool isRunning() const { return m_current != nullptr; }
    // Name of the current state ("" when the machine does not run).
    const char *currentStateName() const;
    int instanceCount() const { return m_count; }
    _StateInstance *instanceAt(int id) const { return id >= 0 && id < m_count ? m_instances[id] : nullptr; }

    // True when the current state is S or lies within S.
    template<class S>
    bool inState() const
    {
        if (!m_current || !m_current->key())
            return false;
        const StateKey *key = m_current->key();
        return key->matchesKey(&S::stateKey());
    }

    // Calls into the current state from outside the state tree: the access
    // object's end carries out what the call requested.
    class Access
    {
    public:
        explicit Access(StateMachine &machine) : m_machine(machine) {}
        ~Access() { m_machine.performPendingTransitions(); }
        Access(const Access &) = delete;
        Access &operator=(const Access &) = delete;
        // The current state object as the given (top) state class.
        template<class TOP>
        TOP &state() const { return static_cast<TOP &>(m_machine.m_current->stateObject()); }

    private:
        StateMachine &m_machine;
    };

    // The instance-table slot of a state id (used by the state templates).
    _StateInstance *&_slot(int id) { return m_instances[id]; }
    void _setPending(_StateInstance *instance, _Initializer *initializer);

private:
    friend class _StateInstance;
    friend class _StateSpecification;
    void freeInstances();

    _StateInstance *m_current = nullptr;
    _StateInstance *m_pending = nullptr;
    _Initializer *m_pendingInitializer = nullptr;
    _StateInstance **m_instances = nullptr;
    int m_count = 0;
};

// Tag of a state without data. A state declares data by naming a nested type
// Box; that declaration hides this one.
struct _NoBox {};

template<class S>
class _SubstateInstance : public _StateInstance
{
public:
    _SubstateInstance(StateMachine &machine, _StateInstance *parent)
        : _StateInstance(machine, parent)
    {
        m_state = new S(*this);
    }
    ~_SubstateInstance() override
    {
        using Box = typename S::Box;
        if (hasLiveBox()) {
            static_cast<Box *>(m_box)->~Box();
            m_spareBox = m_box;
        }
        m_box = nullptr;
    }
    int id() const override { return S::stateKey().id; }
    const StateKey *key() const override { return &S::stateKey(); }
    const char *name() const override { return S::_stateName(); }
    _StateInstance *create(StateMachine &machine, _StateInstance *parent) const override
    {
        return new _SubstateInstance<S>(machine, parent);
    }
    void createBox() override
    {
        using Box = typename S::Box;
        if (m_box)
            return;
        if constexpr (std::is_same<Box, _NoBox>::value) {
            m_box = &sharedEmptyData;
        } else {
            static_assert(alignof(Box) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "over-aligned state box");
            if (!m_spareBox)
                m_spareBox = ::operator new(sizeof(Box));
            m_box = new (m_spareBox) Box();
            m_spareBox = nullptr;
        }
    }
    void deleteBox() override
    {
        using Box = typename S::Box;
        if (!hasLiveBox())
            return;
        static_cast<Box *>(m_box)->~Box();
        m_spareBox = m_box;
        m_box = nullptr;
    }
};

// Per-state key records, filled with constants while the program's static
// data is initialised (so every machine knows the final state count).
template<class S>
struct _KeyData
{
    static StateKey key;
};

template<class S>
StateKey _KeyData<S>::key = { &S::obtainInstance, &S::matchesKey, &S::_stateName, _nextStateId() };

// The topmost state of a tree derives from Link<T, TopBase<T>>; its parent is
// the implicit root.
template<class T>
class TopBase : public _StateSpecification
{
public:
    using Box = _NoBox;
    explicit TopBase(_StateInstance &rootInstance) : _StateSpecification(rootInstance) {}

    void releaseBox(_StateInstance &instance) override { instance.deleteBox(); }
    void saveHistory(_StateInstance &self, _StateInstance &shallow, _StateInstance &deep) override
    {
        passHistoryUp(self, deep);
    }

    static _StateInstance &obtainInstance(StateMachine &machine) { return machine.rootInstance(); }
    static bool matchesKey(const StateKey *) { return false; }
};

// One level of a state class hierarchy: state S with parent state P.
template<class S, class P>
class Link : public P
{
public:
    using Box = _NoBox;
    using Parent = P;

    explicit Link(_StateInstance &own) : P(P::obtainInstance(own.machine())), m_instance(own) {}

    // Every state has hooks of its own: a state that does not override one
    // does nothing there, rather than running its parent's hook again (the
    // exit chain calls each active state's exit, the parent's included).
    void entry() override {}
    void exit() override {}
    void init() override {}

    static const StateKey &stateKey() { return _KeyData<S>::key; }

    static _StateInstance &obtainInstance(StateMachine &machine)
    {
        const int id = stateKey().id;
        _StateInstance *existing = machine._slot(id);
        if (existing)
            return *existing;
        _StateInstance &parent = P::obtainInstance(machine);
        _StateInstance *created = new _SubstateInstance<S>(machine, &parent);
        machine._slot(id) = created;
        return *created;
    }

    static bool matchesKey(const StateKey *key)
    {
        return key == &stateKey() || P::matchesKey(key);
    }

    static StateRef makeStateRef() { return StateRef(&stateKey(), &defaultInitializer()); }

protected:
    // The box of state S (valid between its entry and exit).
    auto &box() const { return *static_cast<typename S::Box *>(m_instance.box()); }
    _StateInstance &instance() const { return m_instance; }

private:
    _StateInstance &m_instance;
};

template<class S>
void _StateSpecification::requestTransition()
{
    StateMachine &m = machine();
    m._setPending(&S::obtainInstance(m), &defaultInitializer());
}

} // namespace Macho

// Declares the constructor and the name of state S; put it first in the
// state's class body.
#define MACHO_STATE(S) \
public: \
    using Link::Link; \
    static const char *_stateName() { return #S; } \
public:
