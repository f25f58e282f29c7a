// Test registry: every tests/<folder>/tst_<name>.cpp registers one QObject
// test class under <name>; the folder's test program runs it by that name.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

// Every test file has the Qt modules at hand. Test programs are compiled in
// unity batches (cmake/zor.cmake), so these headers are read once a batch.
#include <QtGui>
#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>
#include <QtXml>

namespace ZorTest {

using Factory = std::function<QObject *()>;
bool registerTest(const char *file, Factory factory);

}

// ZOR_TEST(Class): registers Class under the name taken from this file's
// name (tst_messages.cpp -> "messages").
#define ZOR_TEST(Class) \
    static const bool zorTestRegistered_##Class = \
        ZorTest::registerTest(__FILE__, [] { return static_cast<QObject *>(new Class); });
