// The tree view that shows the project tree model in the main window. The
// main window configures it and sets the model; the class exists so that
// style sheets and look-ups can name it.
#pragma once

#include <QTreeView>

class ZorProjectTree : public QTreeView
{
    Q_OBJECT
public:
    explicit ZorProjectTree(QWidget *parent = nullptr);
};
