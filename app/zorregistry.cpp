#include "zorregistry.h"

#include "zorcontentautomation.h"
#include "zorcontentcaninterface.h"
#include "zorcontentcanmonitor.h"
#include "zorcontentcansender.h"
#include "zorcontentdatalog.h"
#include "zorcontentdefault.h"
#include "zorcontentdriveruxa.h"
#include "zorcontentdriveruxasetup.h"
#include "zorcontentfirmware.h"
#include "zorcontentinteractive.h"
#include "zorcontentnodeconfig.h"
#include "zorcontentobjedit.h"
#include "zorcontentplot.h"
#include "zorcontentnetmanager.h"
#include "zorcontentproject.h"
#include "zorcontentpythoneditor.h"
#include "zorcontentremotecontrol.h"
#include "zorcontenttestcycle.h"
#include "zorcontenttrigger.h"
#include "zorcontentuipanel.h"
#include "zorcontentxypos.h"
#include "zormodautomation.h"
#include "zormodcaninterface.h"
#include "zormodcanopengateway.h"
#include "zormodcommchannel.h"
#include "zormoddatalog.h"
#include "zormoddrivexenax.h"
#include "zormodnetmanager.h"
#include "zormodnode.h"
#include "zormodposdrive.h"
#include "zormodremotecontrol.h"
#include "zormodjoystick.h"
#include "zormodtestcycle.h"
#include "zormodxypos.h"
#include "zormodule.h"
#include "zorpanel.h"

namespace {

// --- Creators, one per class -------------------------------------------------
//
// Every key is registered from the start, also where its class is not built
// yet. Such a class has a stand-in creator below, marked "stand-in":
//  - a missing module class gives no module (nullptr): the element gets no
//    module, and its panel is bound to nothing;
//  - a missing panel class gives the default panel, which shows the module's
//    properties and its Start and Stop buttons.
// When a class lands, include its header and replace the body of its creator
// by `return new Class(parent);` (panels: makePanel<Class>(p)), dropping the
// "stand-in" mark; the tables below stay as they are.

template<class T>
ZorPanel *makePanel(QWidget *parent)
{
    return new T(parent);
}

// Modules.
ZorModule *newZorModCanInterface(QObject *p) { return createCanInterfaceModule(p); }
ZorModule *newZorModNetManager(QObject *p) { return createNetManagerModule(p); }
ZorModule *newZorModAutomation(QObject *p) { return createAutomationModule(p); }
ZorModule *newZorModNode(QObject *p) { return createNodeModule(p); }
ZorModule *newZorModDataLog(QObject *p) { return new ZorModDataLog(p); }
ZorModule *newZorModRemoteControl(QObject *p) { return createRemoteControlModule(p); }
ZorModule *newZorModCommChannel(QObject *p) { return createCommChannelModule(p); }
ZorModule *newZorModPosDrive(QObject *p) { return createPosDriveModule(p); }
ZorModule *newZorModJoystick(QObject *p) { return createJoystickModule(p); }
ZorModule *newZorModXYPos(QObject *p) { return createXYPosModule(p); }
ZorModule *newZorModTestCycle(QObject *p) { return createTestCycleModule(p); }
ZorModule *newZorModDriveXenax(QObject *p) { return createDriveXenaxModule(p); }

// Panels.
ZorPanel *newZorContentDefault(QWidget *p) { return makePanel<ZorContentDefault>(p); }
ZorPanel *newZorContentProject(QWidget *p) { return makePanel<ZorContentProject>(p); }
ZorPanel *newZorContentCanInterface(QWidget *p) { return makePanel<ZorContentCanInterface>(p); }
ZorPanel *newZorContentCanSender(QWidget *p) { return makePanel<ZorContentCanSender>(p); }
ZorPanel *newZorContentCanmonitor(QWidget *p) { return makePanel<ZorContentCanmonitor>(p); }
ZorPanel *newZorContentNetManager(QWidget *p) { return makePanel<ZorContentNetManager>(p); }
ZorPanel *newZorContentAutomation(QWidget *p) { return makePanel<ZorContentAutomation>(p); }
ZorPanel *newZorContentObjEdit(QWidget *p) { return makePanel<ZorContentObjEdit>(p); }
ZorPanel *newZorContentNodeConfig(QWidget *p) { return makePanel<ZorContentNodeConfig>(p); }
ZorPanel *newZorContentInteractive(QWidget *p) { return makePanel<ZorContentInteractive>(p); }
ZorPanel *newZorContentDataLog(QWidget *p) { return makePanel<ZorContentDataLog>(p); }
ZorPanel *newZorContentPlot(QWidget *p) { return makePanel<ZorContentPlot>(p); }
ZorPanel *newZorContentTrigger(QWidget *p) { return makePanel<ZorContentTrigger>(p); }
ZorPanel *newZorContentUiPanel(QWidget *p) { return makePanel<ZorContentUiPanel>(p); }
ZorPanel *newZorContentRemoteControl(QWidget *p) { return makePanel<ZorContentRemoteControl>(p); }
ZorPanel *newZorContentPythonEditor(QWidget *p) { return makePanel<ZorContentPythonEditor>(p); }
ZorPanel *newZorContentDriveRuxa(QWidget *p) { return makePanel<ZorContentDriveRuxa>(p); }
ZorPanel *newZorContentDriveRuxaSetup(QWidget *p) { return makePanel<ZorContentDriveRuxaSetup>(p); }
ZorPanel *newZorContentFirmware(QWidget *p) { return makePanel<ZorContentFirmware>(p); }
ZorPanel *newZorContentXYPos(QWidget *p) { return makePanel<ZorContentXYPos>(p); }
ZorPanel *newZorContentTestCycle(QWidget *p) { return makePanel<ZorContentTestCycle>(p); }

// --- The tables, in registration order ---------------------------------------

struct ModuleRow
{
    const char *key;
    ZorModule *(*create)(QObject *parent);
};

struct PanelRow
{
    const char *key;
    ZorRegistry::PanelCreator create;
};

const ModuleRow moduleTable[] = {
    {"canusb", newZorModCanInterface},
    {"kelvatro", newZorModCanInterface},
    {"netmanager", newZorModNetManager},
    {"wizard", newZorModAutomation},
    {"automation", newZorModAutomation},
    {"nodeconfig", newZorModNode},
    {"datalog", newZorModDataLog},
    {"uipanel", newZorModNode},
    {"uipanel_node", newZorModNode},
    {"remotecontrol", newZorModRemoteControl},
    {"joystick", newZorModJoystick},
    {"commchannel", newZorModCommChannel},
    {"drive_canopen", newZorModPosDrive},
    {"drive_ruxa", newZorModPosDrive},
    {"drive_tamrix", newZorModPosDrive},
    {"xypos", newZorModXYPos},
    {"testcycle", newZorModTestCycle},
    {"drive_xenax", newZorModDriveXenax},
};

const PanelRow panelTable[] = {
    {"default", newZorContentDefault},
    {"project", newZorContentProject},
    {"canusb", newZorContentCanInterface},
    {"kelvatro", newZorContentCanInterface},
    {"cansender", newZorContentCanSender},
    {"canmonitor", newZorContentCanmonitor},
    {"netmanager", newZorContentNetManager},
    {"automation", newZorContentAutomation},
    {"drive_canopen_objects", newZorContentObjEdit},
    {"nodeconfig", newZorContentNodeConfig},
    {"wizard", newZorContentInteractive},
    {"datalog", newZorContentDataLog},
    {"datalog_plot", newZorContentPlot},
    {"trigger", newZorContentTrigger},
    {"uipanel", newZorContentUiPanel},
    {"uipanel_node", newZorContentUiPanel},
    {"remotecontrol", newZorContentRemoteControl},
    {"drive_canopen_python", newZorContentPythonEditor},
    {"automation_python", newZorContentPythonEditor},
    {"drive_canopen", newZorContentDriveRuxa},
    {"drive_ruxa", newZorContentDriveRuxa},
    {"drive_tamrix", newZorContentDriveRuxa},
    {"drive_canopen_setup", newZorContentDriveRuxaSetup},
    {"drive_canopen_firmware", newZorContentFirmware},
    {"xypos", newZorContentXYPos},
    {"testcycle", newZorContentTestCycle},
    {"drive_xenax", newZorContentDefault},
    {"joystick", newZorContentDefault},
    {"commchannel", newZorContentDefault},
};

template<class Row, std::size_t N>
QStringList keysOf(const Row (&table)[N])
{
    QStringList keys;
    for (const Row &row : table)
        keys << QLatin1String(row.key);
    return keys;
}

} // namespace

bool ZorRegistry::registerModule(ModuleCreators &creators, const QString &key,
                                 ModuleCreator creator)
{
    return creators.add(key, creator);
}

bool ZorRegistry::registerPanel(PanelCreators &creators, const QString &key, PanelCreator creator)
{
    if (creators.contains(key))
        return false;
    creators.insert(key, creator);
    return true;
}

ZorPanel *ZorRegistry::createPanel(const PanelCreators &creators, const QString &key,
                                  QWidget *parent)
{
    const PanelCreator create = creators.value(key);
    return create ? create(parent) : nullptr;
}

void ZorRegistry::registerAll(ModuleCreators &modules, PanelCreators &panels)
{
    // Requesters of CANopen services reach their CAN interface through it.
    ZorModCanOpenGateway::registerCreator();
    for (const ModuleRow &row : moduleTable)
        registerModule(modules, QLatin1String(row.key), row.create);
    for (const PanelRow &row : panelTable)
        registerPanel(panels, QLatin1String(row.key), row.create);
}

QStringList ZorRegistry::moduleKeys()
{
    return keysOf(moduleTable);
}

QStringList ZorRegistry::panelKeys()
{
    return keysOf(panelTable);
}
