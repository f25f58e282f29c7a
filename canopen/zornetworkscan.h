// The text work of the network manager: the identity interview that follows
// a node-id scan and what its answer says about each node, the module type a
// node is given by the "ProjectTypes" table, and the entries of
// "ConfigurableIds" that a build creates modules for.
//
// The identity interview reads six objects of every node found:
//
//   OnErrorContinue
//   SDOReadObject:1000:2:5,1018h,1,unsigned32      vendor id
//   SDOReadObject:1000:2:5,1018h,2,unsigned32      product code
//   SDOReadObject:1000:2:5,1018h,3,unsigned32      revision number
//   SDOReadObject:1000:2:5,1018h,4,unsigned32      serial number
//   SDOReadObject:1000:2:5,1008h,0,visible_string  device name
//   SDOReadObject:1000:2:5,100Ah,0,visible_string  software version
//
// Only 1018h:1 is mandatory in CiA 301, so the interview goes on past a
// failed line, and a node is reported with what it answered: a missing value
// is shown as "-". Values are taken whole after the answer's fourth comma, so
// a device name may hold commas and colons.
//
// Everything here is plain text; the states (zormodnetmanagerstates.h) send
// the messages.
#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

class ZorNetworkScan
{
public:
    struct Identity
    {
        int node = 0;
        bool hasVendor = false, hasProduct = false, hasRevision = false, hasSerial = false;
        bool hasName = false, hasSoftware = false;
        quint32 vendor = 0, product = 0, revision = 0, serial = 0;
        QString name;
        QString software;
    };

    // The node ids of a scan answer's id list that are 1..127, in order.
    static QList<int> validNodeIds(const QString &idsText);
    // The ids of a "ScanIds" answer: its first line after its last ":".
    static QString scanAnswerIds(const QString &answer);
    // The identity interview of those nodes ("" for none).
    static QString identityInterview(const QList<int> &nodes);
    // How long the identity interview of that many nodes may take, in ms.
    static int identityBudgetMs(int nodeCount, int perLineMs);
    // The identities in an identity interview's answer, in the order of the
    // nodes' first lines.
    static QList<Identity> identities(const QString &answer);
    // "Node %1: %6, SwVer %7, VendorID %2, ProdId %3, RevNo %4, SerNo %5".
    static QString identityText(const Identity &identity);

    // "ProjectTypes" read as key -> module type (keys trimmed; parts without
    // a key are dropped; a later key replaces an earlier one).
    static QMap<QString, QString> projectTypes(const QString &text);
    // The module type for a node: the first key (in key order) that equals
    // its vendor id (above 1) read as a number, or else that its device name
    // contains, ignoring case; then the type of "default"; else "".
    static QString moduleTypeFor(const QMap<QString, QString> &types, const Identity &identity);

    // The entries of "ConfigurableIds" ("5:drive_canopen, 0x7"): id (any
    // number form) and type ("nodeconfig" when empty); ids outside 1..127
    // are left out.
    static QList<QPair<int, QString>> configurableIds(const QString &text);
};
