// Program entry: style, application object, resource files and
// configuration, command line, user settings, debug log, main window.
#include "quorvane.h"
#include "quorvaneproject.h"
#include "zorapplservices.h"
#include "zordisplayloss.h"
#include "zorqtmsghandler.h"
#include "zorstartupoptions.h"
#include "zorstartupprobe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QSettings>
#include <QStyleFactory>

#include <memory>

namespace {

// The "plastique" style where its plug-in is installed, else Fusion.
void setApplicationStyle()
{
    QStyle *style = QStyleFactory::create(QStringLiteral("plastique"));
    if (!style)
        style = QStyleFactory::create(QStringLiteral("Fusion"));
    if (style)
        QApplication::setStyle(style);
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();

    setApplicationStyle();
    QApplication app(argc, argv);
    ZorStartupProbe::installIfRequested(sinceStart);

    using namespace ZorApplServices;
    if (!initAppGlobals()) {
        QMessageBox box(QMessageBox::Critical, QString(),
                        QObject::tr("Missing '%1' application files.<br>Please contact technical support.")
                            .arg(productResourceFile()));
        box.exec();
        return 1;
    }

    app.setOrganizationName(appGlobal(QStringLiteral("OrganizationName")));
    app.setOrganizationDomain(appGlobal(QStringLiteral("InfoUrl")));
    app.setApplicationName(appGlobal(QStringLiteral("AppTitle")));

    ZorStartupOptions options =
        ZorStartupOptions::parse(app.arguments(), ZorStartupOptions::Config::fromAppGlobals());
    // The main window moves the current folder to the projects folder: a
    // project named relative to where the program was started is resolved
    // before that.
    if (!options.projectFile.isEmpty())
        options.projectFile = QFileInfo(options.projectFile).absoluteFilePath();

    {
        // The main window and the project read these back while they are built.
        QSettings settings;
        settings.setValue(QStringLiteral("GuiMode"), options.guiMode);
        settings.setValue(QStringLiteral("DebugMode"), options.debugMode);
    }

    std::unique_ptr<ZorQtMsgHandler> msgHandler;
    if (options.debugMode == 0) {
        // Developer trace lines ("ZorModule creation", ...) are for the
        // debug log: in normal use they go nowhere. QT_LOGGING_RULES still
        // turns them on for a developer.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    } else {
        qputenv("QML_IMPORT_TRACE", "1");
        msgHandler = std::make_unique<ZorQtMsgHandler>();
        ZorQtMsgHandler::install(msgHandler.get());
    }

    int result = 0;
    {
        Quorvane window;
        if (options.guiMode == 2 || options.guiMode == 5)
            window.showFullScreen();
        else
            window.show();
        if (options.userLevel != 1)
            window.changeUserLevel(options.userLevel);
        window.appControl(options.firstCommand());
        if (options.minimized)
            window.setWindowState(window.windowState() | Qt::WindowMinimized);
        if (appGlobalFlag(QStringLiteral("ShowAboutOnStartup")))
            window.on_actionAbout_triggered();
        // A display that goes away ends the program: its modules are
        // stopped first (see ZorDisplayLoss).
        ZorDisplayLoss::install([&window] {
            if (QuorvaneProject *project = window.project())
                project->stopModules();
        });

        result = app.exec();
        ZorDisplayLoss::install(nullptr);
        // The sink stops before the window goes, so that nothing Qt reports
        // while tearing down reaches a closed log.
        msgHandler.reset();
    }
    return result;
}
