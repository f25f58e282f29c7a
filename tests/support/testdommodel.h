// A small project tree model for tests of the module framework.
//
// It shows a project document of the usual shape,
//
//   <QuorvaneProject>
//     <module type="project" label="Project Home">
//       <module type="canusb" label="CAN1" description="USB adapter">
//         <properties><Port>sim</Port></properties>
//       </module>
//       ...
//
// as a tree of "module" rows (other elements are skipped), with the roles the
// framework reads: display = label, 32 = type, 35 = status, 36 = status text,
// 37 = description. It is only a test fixture, not the program's project model.
#pragma once

#include "zorabstractdommodel.h"

#include <QHash>

class TestDomModel : public ZorAbstractDomModel
{
    Q_OBJECT
public:
    explicit TestDomModel(QObject *parent = nullptr);
    ~TestDomModel() override;

    // Replaces the document; false (and an empty model) when the text is no XML.
    bool setXml(const QString &xml);
    QString xml() const;

    // A project document with one module element per entry, each given as
    // {type, label, description, inner XML}.
    static QString projectXml(const QList<QStringList> &modules);

    QModelIndex projectIndex() const;
    // The module row of that label below the project row (first match).
    QModelIndex moduleIndex(const QString &label) const;
    QDomElement moduleElement(const QString &label) const;
    // Appends a module element below the project row and returns its row.
    QModelIndex addModule(const QString &type, const QString &label,
                          const QString &description = QString(), const QString &innerXml = QString());
    // Removes the module row of that label (and its element).
    bool removeModule(const QString &label);
    // Gives the module row of that label a new label.
    bool renameModule(const QString &label, const QString &newLabel);
    // Text of properties/<key> of a module element ("" when absent).
    QString storedProperty(const QString &label, const QString &key) const;

    QDomNode nodeFromIndex(const QModelIndex &index) const override;
    QDomDocument document() const override;
    void setModuleStatus(const QModelIndex &index, int status) override;
    void setModuleStatusText(const QModelIndex &index, const QString &text) override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    struct Item
    {
        QDomElement element;
        Item *parent = nullptr;
        QList<Item *> children;
        int status = 0;
        QString statusText;
    };

    Item *itemFor(const QModelIndex &index) const;
    void build(Item *item);
    static void destroy(Item *item);

    QDomDocument doc;
    Item *root = nullptr;   // the document element; its children are the top-level rows
};
