// Helpers for tests of the main window: answering its message boxes,
// driving its modal dialogs, and the demo project in a folder of the test.
#pragma once

#include "quorvane.h"
#include "quorvaneproject.h"
#include "zordommodel.h"
#include "zorquestionbox.h"
#include "zortestutil.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace WindowTesting {

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QByteArray demoProject()
{
    return readFile(ZorTest::sourcePath(QStringLiteral("resources/demo/Demo.zorpro")));
}

// Every question and message box the program asks through ZorQuestionBox,
// answered with `answer` instead of being shown.
class Boxes
{
public:
    explicit Boxes(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer(answer)
    {
        ZorQuestionBox::setHook([this](const ZorQuestionBox::Question &q) {
            shown << q;
            return this->answer;
        });
    }
    ~Boxes() { ZorQuestionBox::setHook(nullptr); }
    QStringList texts() const
    {
        QStringList list;
        for (const auto &q : shown)
            list << q.text;
        return list;
    }
    QMessageBox::StandardButton answer;
    QList<ZorQuestionBox::Question> shown;
};

// Runs `trigger`; when a modal widget of type T comes up (and `patience`
// polls of 5 ms have passed), hands it to `act`, which closes it. Returns
// whether one came up.
template<class T>
bool withModal(const std::function<void()> &trigger, const std::function<void(T *)> &act,
               int patience = 0)
{
    bool seen = false;
    int polls = 0;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *widget = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!widget || polls++ < patience)
            return;
        poll.stop();
        seen = true;
        act(widget);
    });
    poll.start();
    trigger();
    return seen;
}

// The labels of the project tree as "label" lines, children indented by
// two blanks per level.
inline QStringList treeLines(const QAbstractItemModel *model, const QModelIndex &parent = QModelIndex(),
                             int depth = 0)
{
    QStringList lines;
    if (!model)
        return lines;
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        lines << QString(depth * 2, QLatin1Char(' ')) + index.data().toString();
        lines << treeLines(model, index, depth + 1);
    }
    return lines;
}

inline const QStringList &demoTree()
{
    static const QStringList lines{"Project Home", "  CAN1",   "    CAN Monitor",
                                   "    CAN Sender", "  Scope", "  TCP01"};
    return lines;
}

// The row of a label below `parent` (the project module when invalid).
inline QModelIndex item(QuorvaneProject *project, const QString &label,
                        const QModelIndex &parent = QModelIndex())
{
    const QModelIndex scope = parent.isValid() ? parent : project->model()->index(0, 0);
    for (int row = 0; row < project->model()->rowCount(scope); ++row) {
        const QModelIndex child = project->model()->index(row, 0, scope);
        if (child.data().toString() == label)
            return child;
    }
    return QModelIndex();
}

} // namespace WindowTesting
