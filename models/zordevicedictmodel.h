// The object dictionary of a CANopen device description as a tree.
//
// ZorDeviceDictModel is the object table (ZorDeviceDescModel) over a whole
// device description file (".xdd", ".xdc", CiA 311 XML; or an ".eds" read
// into the same form by ZorEdsReader): objects at the top, their sub-objects
// beneath, the node id locked to the one the owning panel sets, and one more
// column, "# SubObjs." ("subNumber"). The tree is read-only: drops are
// accepted and ignored.
//
// Real description files keep much of an object's description on the
// parameter that the object names through "uniqueIDRef", in the file's
// "parameterList": the data type as an element ("<UDINT />"), the access
// ("readWrite"; absent means read only), default and actual value, the
// allowed range. The model brings that onto the objects:
//  - data type and access at once, for every object that has none of its
//    own, so that the tree shows them (dataType in the "0x0007" form);
//  - values and limits when a row is completed: when its value cells are
//    shown and when it is copied or dragged out (mimeData). Attributes an
//    object has already are never overwritten. An object whose parameter is
//    missing from the list stays as it is, with empty values.
// Completing a row also gives it a default "zorUiFormat" (deriveDefault-
// UiFormat), so objects copied out of the dictionary arrive in the object
// editor, node panels and operator screens with values, limits and a UI
// format. The completed attributes stay in the loaded document for the
// model's life (nobody saves the description file).
//
// Elements are found by local name, so namespace prefixes ("q1:parameter",
// "q2:CANopenObjectList") do not matter.
#pragma once

#include "zordevicedescmodel.h"

#include <QHash>

class ZorDeviceDictModel : public ZorDeviceDescModel
{
    Q_OBJECT
public:
    enum DictColumn { SubNumberColumn = 10, DictColumnCount = 11 };

    explicit ZorDeviceDictModel(QDomDocument doc, QObject *parent = nullptr);

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Completes every row (and sub-object row) of the selection, then makes
    // the object clipboard text of it.
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    // The tree takes no drops: true for copy and move, nothing changes.
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

    // Fills the row's missing actual value, default value and limits from
    // its parameter.
    void resolveParameter(const QModelIndex &index) const;
    // Gives a row without "zorUiFormat" its default one (after
    // resolveParameter): updates and shape by access, a range and step for
    // integer objects from 2000h on.
    void deriveDefaultUiFormat(const QModelIndex &index) const;

    // Number of "parameter" elements in the description's parameter list.
    int parameterCount() const { return m_parameters.size(); }

    // Reads a description file into doc: CiA 311 XML (".xdd", ".xdc" and any
    // other name) or an EDS/DCF (".eds", ".dcf"). False with a reason in
    // *error (a file that cannot be read, is empty, is no well-formed XML or
    // holds no CANopen object list); doc is then empty.
    static bool readDescriptionFile(const QString &path, QDomDocument &doc,
                                    QString *error = nullptr);

private:
    void completeRow(const QModelIndex &index) const;
    void takeTypesFromParameters();
    QDomElement parameterOf(const QDomElement &object) const;

    QHash<QString, QDomElement> m_parameters;
};
