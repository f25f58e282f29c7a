// The registry of module kinds: which module and which panel a module-type
// key of the project tree ("canusb", "drive_canopen", "datalog_plot", ...)
// stands for.
//
// Two lookup tables, filled once by the project and only read afterwards: the
// module table (key -> function making the module, a ZorModule that runs in a
// thread of its own) and the panel table (key -> function making the panel).
// Keys compare exactly, case included. A creator passes its single argument
// on as the new object's parent and nothing else; the object reads what it
// needs when it is set up.
//
// Registration never replaces an entry: a key that is present already keeps
// its first creator and the second registration returns false.
#pragma once

#include "zormoduleregistry.h"

#include <QMap>
#include <QString>
#include <QStringList>

class QWidget;
class ZorPanel;

namespace ZorRegistry {

// The module table is the module host's registry type.
using ModuleCreator = ZorModuleCreator;
using ModuleCreators = ZorModuleRegistry;
using PanelCreator = ZorPanel *(*)(QWidget *parent);
using PanelCreators = QMap<QString, PanelCreator>;

// Insert if absent: true when the key was new and the creator is stored.
bool registerModule(ModuleCreators &creators, const QString &key, ModuleCreator creator);
bool registerPanel(PanelCreators &creators, const QString &key, PanelCreator creator);

// The panel the key's creator makes, or null for a key without creator.
ZorPanel *createPanel(const PanelCreators &creators, const QString &key, QWidget *parent);

// Registers the module table, then the panel table, in their fixed order.
void registerAll(ModuleCreators &modules, PanelCreators &panels);

// The keys of both tables in registration order.
QStringList moduleKeys();
QStringList panelKeys();

} // namespace ZorRegistry
