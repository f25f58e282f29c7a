// ScriptedLinearController: a linear motor controller on loopback TCP that
// speaks the ASCII command dialogue of the Xenax drive module, for tests.
//
// It listens on 127.0.0.1 at a port of its own choosing and runs in a thread
// of its own, so it answers while the test thread waits (or blocks). Every
// command is a text ended by CR; it is logged (without the CR, with the time
// it came) and answered the way the controller does:
//
//   (empty)                 ">"                      the prompt alone
//   TS, TP, TE              echo CR LF value CR LF ">"   status (1 at rest,
//                                                    2 while moving or
//                                                    jogging, or a forced
//                                                    value), position in
//                                                    increments, error number
//   MD0 MD2 ICP1 PWC PQ CCM0 CCM1 EVT0 EVT1 HORM SM JP JN,
//   SP<n> AC<n> G<n> CRD<n>  echo CR LF ">"
//   anything else           "?"
//
// "G<n>" moves to n increments within moveDuration ms; "JP" / "JN" jog at
// the last "SP" speed until "SM". "HORM" homes to 0 and, with events on
// ("EVT1"), sends the event line "@H" CR LF a little later. A command made
// silent is logged but never answered; one made refused is answered "?".
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>

class ScriptedLinearController
{
public:
    struct Command
    {
        QString text;
        qint64 atMs;   // on the controller's clock, since it started
    };

    ScriptedLinearController();
    ~ScriptedLinearController();
    ScriptedLinearController(const ScriptedLinearController &) = delete;
    ScriptedLinearController &operator=(const ScriptedLinearController &) = delete;

    quint16 port() const;
    // "127.0.0.1:<port>", the module's endpoint text.
    QString endpoint() const;

    QList<Command> commandLog() const;
    QStringList commands() const;
    void clearCommands();

    // Behaviour, any time.
    void setSilent(const QString &command, bool silent = true);
    // Answers the command with the error mark "?".
    void setRefused(const QString &command, bool refused = true);
    void setForcedStatus(int status);   // "TS" answers this; 0: the real one
    void setErrorNumber(int number);
    void setMoveDurationMs(int ms);
    int connectionCount() const;
    // Closes every client connection (the server goes on listening).
    void dropClients();
    qint64 position() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
