// The HTML page panel ("wizard" modules, run by the automation module).
//
// It shows the page the project stores with the module (the panel document
// "default", %%KEY%% application globals expanded) and a state line above it
// with the module's info text in its status colour. The page is the user
// interface: its links carry commands ("#app:<command>", "#KM_<message>",
// "#python:<code or file>") that the panel base sends on; a link that starts
// a program or runs Python asks the user first. The page scrolls by dragging
// (kinetic scrolling) and is loaded once, when the panel is bound.
#pragma once

#include "zorpanel.h"

namespace Ui {
class ZorContentInteractiveClass;
}

class ZorContentInteractive : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentInteractive(QWidget *parent = nullptr);
    ~ZorContentInteractive() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;

public slots:
    void processIn(const ZorMessage &msg) override;
    void setState(int status);

private:
    Ui::ZorContentInteractiveClass *ui;
};
