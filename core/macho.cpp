#include "macho.h"

namespace Macho {

namespace {
// Written only while static data is initialised, before any machine exists.
int &stateCounter()
{
    static int counter = 1;   // entry 0 is the root
    return counter;
}
}

int _nextStateId()
{
    return stateCounter()++;
}

int stateCount()
{
    return stateCounter();
}

char sharedEmptyData = 0;

_Initializer &defaultInitializer()
{
    static _DefaultInitializer initializer;
    return initializer;
}

_Initializer &historyInitializer()
{
    static _HistoryInitializer initializer;
    return initializer;
}

void _DefaultInitializer::execute(_StateInstance &instance)
{
    instance.runInit(false);
}

void _HistoryInitializer::execute(_StateInstance &instance)
{
    instance.runInit(true);
}

// --- instances ---------------------------------------------------------------

_StateInstance::_StateInstance(StateMachine &machine, _StateInstance *parent)
    : m_machine(machine), m_parent(parent)
{
}

_StateInstance::~_StateInstance()
{
    ::operator delete(m_spareBox);
    delete m_state;
}

bool _StateInstance::liesWithin(const _StateInstance *other) const
{
    for (const _StateInstance *s = this; s; s = s->m_parent) {
        if (s == other)
            return true;
    }
    return false;
}

void _StateInstance::exitTo(_StateInstance &next)
{
    _StateInstance *q = this;
    while (q->m_parent) {
        // q is a proper ancestor of the target: it stays active.
        if (q != &next && next.m_parent && next.m_parent->liesWithin(q))
            break;
        q->m_state->exit();
        if (q->m_box != &sharedEmptyData)
            q->m_state->releaseBox(*q);
        q = q->m_parent;
    }
}

void _StateInstance::enterFrom(_StateInstance *previous)
{
    if (!m_parent)
        return;
    if (this == previous || (previous && previous->m_parent && previous->m_parent->liesWithin(this)))
        return;   // still active
    m_parent->enterFrom(previous);
    createBox();
    m_state->entry();
}

void _StateInstance::runInit(bool history)
{
    if (history && m_history) {
        m_machine._setPending(m_history, &defaultInitializer());
    } else {
        m_state->init();
    }
    m_history = nullptr;
}

_RootInstance::_RootInstance(StateMachine &machine, _StateInstance *parent)
    : _StateInstance(machine, parent)
{
    m_state = new _StateSpecification(*this);
}

_StateInstance *_RootInstance::create(StateMachine &machine, _StateInstance *parent) const
{
    return new _RootInstance(machine, parent);
}

// --- state objects -----------------------------------------------------------

void _StateSpecification::restoreCurrent(_StateInstance &instance)
{
    instance.machine().m_current = &instance;
}

void _StateSpecification::shutdown()
{
    StateMachine &m = machine();
    m._setPending(&m.rootInstance(), &defaultInitializer());
    m.performPendingTransitions();
    m.m_current = nullptr;
}

void _StateSpecification::requestRefTransition(const StateRef &ref)
{
    if (!ref.isValid())
        return;
    StateMachine &m = machine();
    const StateKey *key = ref.initializer()->adapt(ref.key());
    m._setPending(&key->obtainInstance(m), ref.initializer()->clone());
}

// --- machine -----------------------------------------------------------------

StateMachine::StateMachine(const StateRef &rootState)
{
    m_count = stateCount();
    m_instances = new _StateInstance *[m_count]();
    rootInstance();
    start(rootState);
}

StateMachine::~StateMachine()
{
    shutdown();
    freeInstances();
}

void StateMachine::shutdown()
{
    if (m_current)
        m_current->stateObject().shutdown();
}

void StateMachine::freeInstances()
{
    for (int id = m_count - 1; id >= 0; --id) {
        delete m_instances[id];
        m_instances[id] = nullptr;
    }
    delete[] m_instances;
    m_instances = nullptr;
}

_StateInstance &StateMachine::rootInstance()
{
    if (!m_instances[0])
        m_instances[0] = new _RootInstance(*this, nullptr);
    return *m_instances[0];
}

void StateMachine::_setPending(_StateInstance *instance, _Initializer *initializer)
{
    // A later request replaces an earlier one: release what it would have run.
    if (m_pendingInitializer && m_pendingInitializer != initializer)
        m_pendingInitializer->release();
    m_pending = instance;
    m_pendingInitializer = initializer;
}

void StateMachine::start(const StateRef &ref)
{
    if (!ref.isValid())
        return;
    m_current = &rootInstance();
    const StateKey *key = ref.initializer()->adapt(ref.key());
    _setPending(&key->obtainInstance(*this), ref.initializer()->clone());
    performPendingTransitions();
}

void StateMachine::performPendingTransitions()
{
    while (m_pending) {
        m_current->exitTo(*m_pending);
        if (m_current->parent())
            m_current->parent()->stateObject().saveHistory(*m_current->parent(), *m_current, *m_current);

        _StateInstance *previous = m_current;
        m_current = m_pending;
        if (m_current->parent()) {
            m_current->parent()->enterFrom(previous);
            m_current->createBox();
            m_current->stateObject().entry();
        }

        // A request made by the entry hook above is dropped here: only its
        // initializer is used, on the state that was being entered.
        _Initializer *initializer = m_pendingInitializer;
        m_pending = nullptr;
        m_pendingInitializer = nullptr;
        if (initializer) {
            initializer->execute(*m_current);
            initializer->release();
        }
    }
}

StateRef StateMachine::currentStateRef() const
{
    if (!m_current)
        return StateRef();
    return StateRef(m_current->key(), &defaultInitializer());
}

const char *StateMachine::currentStateName() const
{
    return m_current ? m_current->name() : "";
}

} // namespace Macho
