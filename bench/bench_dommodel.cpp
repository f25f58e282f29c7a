// Loads a project of 2,000 modules into the project tree model and shows it,
// fully expanded, in a tree view; then times one module status change with
// the view attached, and the paste of a module with 4,000 sub-modules.
#include "zordommodel.h"
#include "zorprojecttree.h"

#include <QApplication>
#include <QDomDocument>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

namespace {

// 500 modules below the project module, each with three modules below it.
QString projectText()
{
    static const char *const types[] = {"canusb", "drive_canopen", "datalog", "nodeconfig", "automation"};
    QString text = QStringLiteral("<QuorvaneProject><module type=\"project\">");
    for (int i = 0; i < 500; ++i) {
        text += QStringLiteral("<module type=\"%1\" label=\"M%2\" description=\"Module %2\" userLevel=\"%3\">"
                               "<properties><Port>COM1</Port></properties>")
                    .arg(QLatin1String(types[i % 5]))
                    .arg(i)
                    .arg(i % 2);
        for (int j = 0; j < 3; ++j)
            text += QStringLiteral("<module type=\"datalog_plot\" label=\"Plot%1\"/>").arg(j);
        text += QStringLiteral("</module>");
    }
    text += QStringLiteral("</module><templates/></QuorvaneProject>");
    return text;
}

}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString text = projectText();

    QElapsedTimer timer;
    timer.start();
    QDomDocument doc;
    if (!doc.setContent(text)) {
        std::fprintf(stderr, "project text does not parse\n");
        return 1;
    }
    ZorDomModel model(doc);
    model.updateModuleDepths(false);
    ZorProjectTree view;
    view.resize(400, 800);
    view.setModel(&model);
    view.expandAll();
    view.show();
    app.processEvents();
    view.grab(); // paints the visible rows
    const double loadMs = timer.nsecsElapsed() / 1e6;

    const QModelIndex module = model.index(250, 0, model.index(0, 0));
    const int rounds = 200;
    timer.restart();
    for (int i = 1; i <= rounds; ++i) {
        model.setModuleStatus(module, i % 2 ? 1500 : 1);
        app.processEvents();
    }
    const double statusUs = timer.nsecsElapsed() / 1e3 / rounds;

    // A module with 4,000 sub-modules of few labels made unique, and then
    // also inserted with the view attached, as a paste does. Best of five:
    // on a shared machine the other runs measure its load.
    const auto pastedModule = [](QDomDocument &clip) {
        QDomElement pasted = clip.createElement(QStringLiteral("module"));
        pasted.setAttribute(QStringLiteral("type"), QStringLiteral("canusb"));
        pasted.setAttribute(QStringLiteral("label"), QStringLiteral("M1"));
        for (int i = 0; i < 4000; ++i) {
            QDomElement sub = clip.createElement(QStringLiteral("module"));
            sub.setAttribute(QStringLiteral("type"), QStringLiteral("nodeconfig"));
            sub.setAttribute(QStringLiteral("label"),
                             i % 2 ? QStringLiteral("Node01") : QStringLiteral("Scope"));
            pasted.appendChild(sub);
        }
        return pasted;
    };
    double uniqueMs = 1e9;
    double pasteMs = 1e9;
    for (int round = 0; round < 5; ++round) {
        QDomDocument clip;
        QDomElement pasted = pastedModule(clip);
        timer.restart();
        model.makeLabelsUnique(pasted, model.index(0, 0));
        uniqueMs = std::min(uniqueMs, timer.nsecsElapsed() / 1e6);

        QDomDocument again;
        pasted = pastedModule(again);
        timer.restart();
        model.makeLabelsUnique(pasted, model.index(0, 0));
        if (!model.appendModule(pasted, model.index(0, 0))) {
            std::fprintf(stderr, "paste failed\n");
            return 1;
        }
        pasteMs = std::min(pasteMs, timer.nsecsElapsed() / 1e6);
    }

    std::printf("dommodel_load_2000: %.1f ms\n", loadMs);
    std::printf("dommodel_unique_labels_4000: %.1f ms\n", uniqueMs);
    std::printf("dommodel_paste_4000: %.1f ms\n", pasteMs);
    std::printf("dommodel_status_change_2000: %.1f us\n", statusUs);
    return 0;
}
