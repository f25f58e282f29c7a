// Where the operator-screen panel gets the object table of its screen: the
// objects the screen's controls show and set, with column 14 "Instances"
// (attribute "dynamicUiInstances") listing the controls of each object.
//
// Everything else of the screen code sees the table as a ZorObjEditModel;
// only createUiObjectTable names the class.
#pragma once

#include "zorobjeditmodel.h"

// A new operator-screen table over `doc` (an empty document gives an empty
// table); with nodeIdLocked every object takes the table's locked node id.
ZorObjEditModel *createUiObjectTable(const QDomDocument &doc, bool nodeIdLocked, QObject *parent);
