#include "zorprojecttree.h"

ZorProjectTree::ZorProjectTree(QWidget *parent)
    : QTreeView(parent)
{
}
