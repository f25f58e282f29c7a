// The node panels on a live node: a node module of the simulated gateway's
// node, and a panel bound to it as the project binds them.
#pragma once

#include "noderig.h"
#include "testdommodel.h"
#include "zormodnode.h"
#include "zorpanel.h"

// Starts the rig with one simulated node (node id `node`, more node options
// in `options`) under a node module with that NodeId.
inline bool startLiveNode(NodeRig &rig, int node, const QString &options = QString())
{
    return rig.start({"--node", QStringLiteral("%1 heartbeat=0 %2").arg(node).arg(options).trimmed(), "--quiet"},
                     createNodeModule(nullptr), "nodeconfig", QStringLiteral("<NodeId>%1</NodeId>").arg(node));
}

// Binds the panel to the rig's module; the panel's own project element holds
// the documents `docs`.
inline bool bindLivePanel(ZorPanel &panel, NodeRig &rig, TestDomModel &project, const QString &docs)
{
    project.setXml(TestDomModel::projectXml({{"nodeconfig", "Node1", "node", "<docs>" + docs + "</docs>"}}));
    QObject::connect(&panel, &ZorPanel::msgOut, rig.module(), &ZorModule::slaveIn, Qt::QueuedConnection);
    QObject::connect(rig.module(), &ZorModule::slaveOut, &panel, &ZorPanel::msgIn, Qt::QueuedConnection);
    return panel.setupZorPanel(project.moduleIndex("Node1"), &project);
}

// Fifty UNSIGNED32 objects: the 49 a node started with extra=49 holds
// (3000h to 3030h, each holding its own index) and 5555h, which it does not.
inline QString fiftyObjectsOneMissing(const QString &uiFormat)
{
    QString rows;
    for (int i = 0; i <= 49; ++i)
        rows += QStringLiteral("<CANopenObject index='%1' objectType='7' dataType='7' accessType='rw' name='E%2' "
                               "zorUiFormat='%3'/>")
                    .arg(i < 49 ? 0x3000 + i : 0x5555, 4, 16)
                    .arg(i)
                    .arg(uiFormat);
    return QStringLiteral("<CANopenObjectList>%1</CANopenObjectList>").arg(rows);
}
