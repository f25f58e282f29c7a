// Generates the runtime of the demo project the way File > Generate Runtime
// does from the build folder: the program and what it loads copied (build
// files left out), its debug information taken off, the project saved,
// everything packed with the 7-Zip tool behind the stub. Prints the time of
// the whole generation (the tool's time-out is 90 s per step) and the size of
// the runtime file.
#include "quorvaneproject.h"
#include "zorapplservices.h"
#include "zorgenerateruntimedialog.h"
#include "zorquestionbox.h"
#include "zortempsettings.h"
#include "zortemphome.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ZorTest::TempHome home;
    QApplication app(argc, argv);
    ZorTest::TempSettings settings;
    ZorTest::TempSettings::set("DebugMode", 0);
    ZorApplServices::initAppGlobals();
    ZorQuestionBox::setHook([](const ZorQuestionBox::Question &q) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(q.title), qPrintable(q.text));
        return QMessageBox::Ok;
    });

    // The demo project, packed as the generator wants it.
    const QString work = home.homePath() + QStringLiteral("/bench");
    QDir().mkpath(work + QStringLiteral("/demo"));
    QFile::copy(QStringLiteral(ZOR_SOURCE_DIR) + QStringLiteral("/resources/demo/LiveBus.zorpro"),
                work + QStringLiteral("/demo/LiveBus.zorpro"));
    const QString packed = work + QStringLiteral("/LiveBus.zorzip");
    QuorvaneProject project;
    QString error;
    if (!ZorApplServices::zipFiles(packed, work + QStringLiteral("/demo/*"), 30000, false)
        || !project.load(packed, error)) {
        std::fprintf(stderr, "bench_runtime: cannot load the demo project: %s\n", qPrintable(error));
        return 1;
    }

    ZorGenerateRuntimeDialog::setApplicationFiles(QStringLiteral(ZOR_BINARY_DIR), QStringLiteral("Quorvane"));
    ZorGenerateRuntimeDialog dialog(nullptr, &project);
    const QString target = work + QStringLiteral("/out/LiveBus.exe");
    dialog.findChild<QLineEdit *>(QStringLiteral("lineEditTargetPath"))->setText(target);
    QElapsedTimer clock;
    clock.start();
    dialog.on_pushButtonGenerate_clicked();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!dialog.findChild<QPushButton *>(QStringLiteral("pushButtonGenerate"))->isHidden()) {
        std::fprintf(stderr, "bench_runtime: %s\n",
                     qPrintable(dialog.findChild<QLabel *>(QStringLiteral("labelStatus"))->text()));
        return 1;
    }
    std::printf("runtime_generation_demo: %.1f s\n", seconds);
    std::printf("runtime_file_size_demo: %.1f MB\n", QFileInfo(target).size() / 1e6);
    return 0;
}
