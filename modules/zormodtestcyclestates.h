// The states of the test-cycle module (zormodtestcycle.h):
//
//   Root            the cycle data of the current run and its report
//     Idle          status 0; waits for a start or homing request
//     Initializing  status 1000 / 1001; the drives get initWaitMs() to start
//     Homing        status 2; homing mode, target 0, homing method 35
//     Cycling       status 1 (1002 once a stop was asked for)
#pragma once

#include "zormodstates.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QVector>

namespace TestCycle {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)

    struct Box
    {
        int stepIntervalMs = 0;
        int driveCount = 0;
        QElapsedTimer phaseTimer;
        int positionIndex = 0;
        int nextDrive = 0;
        int cycleCount = 0;
        bool firstHalfCycle = false;
        bool halfCycleDue = false;
        bool stopRequested = false;
        bool homingRequested = false;
        QStringList reportLines;
        QVector<QString> driveLabels;
        QVector<int> positionsSent;
        QVector<int> accepted;
        QVector<int> errors;
        QVector<int> skipped;
        // The drives' limits as they reported them, for the reason of a
        // failed move; empty while unknown.
        QVector<QString> minimum;
        QVector<QString> maximum;
        QString statsFileName;
    };

    void init() override;

    // "yyyy-MM-dd\thh:mm:ss\n" of now.
    static QString timeStamp();
    // The report lines joined by line feeds, no line feed at the end.
    QString reportText() const;
    // The run's data back to its start values (the start request stays).
    void resetCycleData();
    // A property read as an int or a float; 0 when the text is no number.
    int intProperty(const QString &name) const;
    double floatProperty(const QString &name) const;
    void sendToAllDrives(int type, const QVariant &data = QVariant());
    static bool isStop(const ZorMessage &message);
};

struct Idle : Macho::Link<Idle, Root>
{
    MACHO_STATE(Idle)
    void entry() override;
    void cycle() override;

private:
    // The reason a run cannot start with these settings and drives; empty
    // when it can.
    QString startRefusal(bool homing) const;
};

struct Initializing : Macho::Link<Initializing, Root>
{
    MACHO_STATE(Initializing)
    void entry() override;
    void cycle() override;
};

struct Homing : Macho::Link<Homing, Root>
{
    MACHO_STATE(Homing)

    // Homing waits a second before and after its requests without blocking
    // the module thread.
    struct Box
    {
        QElapsedTimer clock;
        bool requestsSent = false;
    };

    void entry() override;
    void exit() override;
    void cycle() override;
};

struct Cycling : Macho::Link<Cycling, Root>
{
    MACHO_STATE(Cycling)
    void entry() override;
    void exit() override;
    void cycle() override;

private:
    void readStopRequests();
    // Counts the move answers (telling the master why a move failed) and
    // takes the drives' limits.
    void countAnswers();
    void reportFailedMove(int drive, const ZorMessage &answer);
    // False when the run ended (a transition was requested).
    bool beginHalfCycleIfDue();
    void commandNextDrive();
    // The move text of the current half-cycle.
    QString moveText() const;
    void updateReportLine(int drive);
    void updateHeaderLine();
    void writeStatistics();
};

} // namespace TestCycle
