// The states of the remote-control module (ZorModRemoteControl).
//
//   Root
//     Idle           status 0; drops what the slaves send; waits for the mode 1
//     Networking     status 1000, "Initializing"; reads the filter; picks the
//                    mode from the connection text in its first cycle
//       Server       status 1, "Server started Port=%1"; clients' messages
//                    go down, the slaves' messages go to the clients
//       Client       status 1, "Client connection Host=%1 Port=%2"; the
//                    master's requests go to the server, its messages up
//     Error          keeps status 1000 and the error text; after 5 s a new
//                    attempt (mode set to 1 again), unless the mode reads 0
//
// The networking object is started on entering Server or Client and stopped
// on leaving them, before Idle or Error is entered.
#pragma once

#include "zormodstates.h"

#include <QElapsedTimer>
#include <QHash>
#include <QVariant>
#include <QList>
#include <QRegExp>

class ZorModRemoteControl;

namespace RemoteControl {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)

    void init() override;

    ZorModRemoteControl *remote() const;
    // RemoteControlMode read as an integer.
    int mode() const;
    void setMode(const QString &value);
    void answer(ZorMessage request);
    void sendInfo(const QString &text);
    // Idle and Error: drops what the slaves send, and takes messages from
    // the master side until one is a KM_COMM_OPEN or KM_COMM_CLOSE request,
    // which it answers; returns its type (0 when there was none).
    int takeOpenOrClose();
};

struct Idle : Macho::Link<Idle, Root>
{
    MACHO_STATE(Idle)
    void entry() override;
    void cycle() override;
};

struct Networking : Macho::Link<Networking, Root>
{
    MACHO_STATE(Networking)

    struct Box
    {
        bool clientForm = false;
        QList<QRegExp> filters;
        // The last status each slave reported, by its label, as the clients
        // admitted by then have heard it; a new client hears each anew.
        QHash<QString, QVariant> lastStatus;
        quint64 admissionsHeard = 0;
        // The log of messages in and out: lines in the current second, and
        // those left out.
        QElapsedTimer logWindow;
        int logged = 0;
        int notLogged = 0;
    };

    // Lines of messages in and out that the log shows a second; texts
    // longer than LoggedTextChars are cut there, with a mark.
    static const int LoggedPerSecond = 200;
    static const int LoggedTextChars = 4096;

    void entry() override;
    void cycle() override;

    // The first step of every Server and Client cycle: received messages and
    // status texts. True when it asked for a transition.
    bool receive();
    // "remoteIn:  " or "remoteOut: " and a message text, to the log, within
    // the lines a second it shows.
    void logTraffic(const QString &prefix, const QString &text);
    // Says how many lines were left out once their second is over.
    void flushTrafficLog();
    // False for a slave's periodic status that repeats the last one.
    bool statusChanged(const ZorMessage &message);
    // Writes a message to the remote side unless it is excluded or filtered.
    void forward(const ZorMessage &message);
    // The same for an answer of this module's own, which no type excludes.
    void reply(const ZorMessage &message);

private:
    void deliver(const ZorMessage &message);
    // A guarded request from the network, refused: true when it was one.
    bool refuseGuarded(ZorMessage message);
};

struct Server : Macho::Link<Server, Networking>
{
    MACHO_STATE(Server)
    void entry() override;
    void exit() override;
    void cycle() override;
};

struct Client : Macho::Link<Client, Networking>
{
    MACHO_STATE(Client)
    void entry() override;
    void exit() override;
    void cycle() override;
};

struct Error : Macho::Link<Error, Root>
{
    MACHO_STATE(Error)

    struct Box
    {
        QElapsedTimer clock;
    };

    void entry() override;
    void cycle() override;
};

} // namespace RemoteControl
