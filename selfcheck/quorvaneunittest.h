// QuorvaneUnitTest: the program's self-check suite.
//
// Six cases, run in this order by the QtTest runner (quorvaneselfcheck.cpp,
// a program of its own; the main program never runs them):
//
//   testZorApplServices  working-folder path functions
//   testBabelFish        frame texts and records, value macros, number
//                        texts and data-object ids against reference vectors
//   testZorMessage       message fields, copies, identity, text forms and
//                        frame payloads
//   testZorModule        module identity, properties, interviews on a
//                        simulated bus, slaves, and modules added to and
//                        removed from a project
//   testCanOpenGW        one SDO write and one SDO read through the CANopen
//                        gateway's thread, with the CAN exchanges answered
//                        as its CAN interface answers them
//   testSharedObjects    the shared-object registry under two threads
//
// Each case builds what it needs and destroys it at its end; waits are on
// conditions with generous limits, never on fixed sleeps, so that the suite
// holds on a loaded machine.
#pragma once

#include <QObject>

class QuorvaneUnitTest : public QObject
{
    Q_OBJECT
public:
    explicit QuorvaneUnitTest(QObject *parent = nullptr);

private slots:
    void testZorApplServices();
    void testBabelFish();
    void testZorMessage();
    void testZorModule();
    void testCanOpenGW();
    void testSharedObjects();
};
