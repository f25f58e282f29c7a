// The SDO channels of the nodes behind one CAN interface, and who uses each.
//
// A node's SDO server channel is one pair of COB-IDs (600h + node for the
// requests, 580h + node for the answers), and CiA 301 allows one transfer on
// it at a time: the frames of two transfers cannot be told apart, and a
// server inside a segmented or block transfer takes a new request for a
// broken segment. Every CANopen gateway on one CAN interface (each requesting
// module has its own) therefore takes a node's channel before it starts a
// transfer there and gives it back when the transfer is over, so that the
// polls of cyclic sampling, the lines the gateways serve and program
// downloads take turns on each node and never interleave.
//
// Transfers hold a channel under a token; a gateway uses one token for the
// lines it serves and one for its sampling polls, so that these two exclude
// each other as well. A hold lapses after the time it was taken for (the
// transfer's time-out and a margin), so a transfer that is never given back
// cannot block the node for good. Whoever finds a channel taken names a
// wake-up that is called once the channel is free again. A transfer that
// must not wait (the stop of a drive) seizes the channel instead.
//
// Thread-safe: the gateways run in threads of their own.
#pragma once

#include <QtGlobal>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class ZorSdoChannels
{
public:
    using Token = quint64;
    using Wake = std::function<void()>;

    // The channels behind the CAN interface `bus` (the address only names
    // it), shared by everyone who asks with the same one.
    static std::shared_ptr<ZorSdoChannels> forBus(const void *bus);
    // A token no other transfer uses.
    static Token newToken();

    // Takes the node's channel for the token for holdMs from now (a hold the
    // token has already is renewed). False when another token holds it; then
    // `wake` (of `owner`) is called once, when the channel becomes free.
    bool acquire(int node, Token token, int holdMs, const void *owner = nullptr, const Wake &wake = Wake());
    // Takes the node's channel for the token for holdMs whoever holds it: a
    // stop of a drive must not wait for another transfer to end. The
    // transfer that held it goes on unaware; its node answers it or aborts
    // it, and its own release no longer frees the channel.
    void seize(int node, Token token, int holdMs);
    // Gives the channel back when the token holds it.
    void release(int node, Token token);
    // Gives back every channel the token holds.
    void releaseAll(Token token);
    // Forgets the wake-ups of an owner that goes away (and no wake-up of it
    // is called after this returns).
    void forgetOwner(const void *owner);
    // The token holding the node's channel now, 0 when it is free.
    Token holder(int node) const;

    // Milliseconds on the monotonic clock that holds are measured on; tests
    // may drive it (null restores the monotonic clock).
    using Clock = qint64 (*)();
    static void setClock(Clock clock);

private:
    struct Hold
    {
        Token token = 0;
        qint64 until = 0;
    };
    struct Waiter
    {
        int node;
        const void *owner;
        Wake wake;
    };

    bool isFree(const Hold &hold, qint64 now) const { return !hold.token || now >= hold.until; }
    // Mutex held: calls and drops the wake-ups of the node.
    void wakeWaiters(int node);

    mutable std::mutex m_mutex;
    std::map<int, Hold> m_holds;
    std::vector<Waiter> m_waiters;
};
