// The project page: the panel of the project's top element (type
// "project"), the project's home page.
//
// It shows the HTML page the project stores with its top element (panel
// document "default", %%KEY%% application globals expanded), whose links
// carry commands like those of the HTML page panel, and below it the
// project's document information ("projectinfo": when it was created and
// last changed, by which program version). The information line is
// refreshed at binding and at every save. The page ignores all messages.
#pragma once

#include "zorpanel.h"

namespace Ui {
class ZorContentProjectClass;
}

class ZorContentProject : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentProject(QWidget *parent = nullptr);
    ~ZorContentProject() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    // Shows the document information again; never objects to a save.
    QString commitPanelSettings() override;

    // The project value `key` (the text of that child of the document's
    // "QuorvaneProject" element); empty without a model or value.
    static QString projectValue(const ZorAbstractDomModel *model, const QString &key);
    // What the information line shows for a "projectinfo" text: the whole
    // text, or after "noupdate," only the next comma-separated part.
    static QString documentInfoText(const QString &projectInfo);
    void showDocumentInfo();

public slots:
    void processIn(const ZorMessage &msg) override;

private:
    Ui::ZorContentProjectClass *ui;
};
