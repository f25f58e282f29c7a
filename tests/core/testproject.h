// The least of a project that the module host needs: a project tree model,
// a module registry, the module map and an app-control receiver standing in
// for the main window. Test fixture only.
#pragma once

#include "testdommodel.h"
#include "zorhostedproject.h"
#include "zormoduleregistry.h"

#include <QObject>
#include <mutex>

// Records the app-control requests of modules and answers them on request.
class TestAppControl : public QObject
{
    Q_OBJECT
public:
    QList<ZorMessage> received() const
    {
        std::lock_guard<std::mutex> locker(mutex);
        return list;
    }

signals:
    void appControlResponse(const ZorMessage &message);

public slots:
    void appControlIn(const ZorMessage &message)
    {
        std::lock_guard<std::mutex> locker(mutex);
        list << message;
    }

private:
    mutable std::mutex mutex;
    QList<ZorMessage> list;
};

class TestProject : public QObject, public ZorHostedProject
{
    Q_OBJECT
public:
    TestDomModel model;
    ZorModuleRegistry registry;
    ZorModuleMap modules;
    TestAppControl appControl;

    QAbstractItemModel *hostModel() const override { return const_cast<TestDomModel *>(&model); }
    const ZorModuleRegistry &hostModuleRegistry() const override { return registry; }
    ZorModuleMap &hostModuleMap() override { return modules; }
    QObject *hostAppControlReceiver() const override { return const_cast<TestAppControl *>(&appControl); }

    ZorModule *module(const QString &label) const
    {
        for (ZorModule *m : modules) {
            if (m && m->label() == label)
                return m;
        }
        return nullptr;
    }
};
