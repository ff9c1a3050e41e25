// OrvelaApp: the process entry. A tray application: no window of its own, no taskbar entry,
// alive until "Quit Orvela", Ctrl+Q in the panel, SIGINT or SIGTERM.
#include "AppDelegate.h"
#include "IcuLocale.h"
#include "Logging.h"
#include "QuitSignals.h"
#include "SessionBus.h"
#include "SingleInstance.h"
#include "TestReport.h"

#include <QApplication>
#include <QQuickWindow>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <cstring>

Q_LOGGING_CATEGORY(lcApp, "orvela.app")

namespace {

QtMessageHandler previousHandler = nullptr;

// Qt ends a process whose display cannot be opened with abort(); say what is wrong instead.
void failWithoutDisplay(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        previousHandler(type, context, message);
        return;
    }
    std::fprintf(stderr,
                 "orvela: cannot open the display (DISPLAY=%s, WAYLAND_DISPLAY=%s); Orvela needs a "
                 "graphical session.\n",
                 qgetenv("DISPLAY").constData(), qgetenv("WAYLAND_DISPLAY").constData());
    std::_Exit(EXIT_FAILURE);
}

bool hasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;  // offscreen, vnc, ...: the platform plugin needs no display server
    return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

}  // namespace

int main(int argc, char *argv[])
{
    // First of all: from here on no thread and no process started by this one sees the token.
    const LaunchValues launch = LaunchValues::takeFromEnvironment();
    // Answered before anything needs a display, so that they work from any terminal.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("orvela %s\n", ORVELA_VERSION);
        return EXIT_SUCCESS;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("Usage: orvela [--version | --help]\n\n"
                    "Shows the traffic of your websites in the system tray. Launching it while it\n"
                    "runs opens the running Orvela's panel. See orvela(1).\n");
        return EXIT_SUCCESS;
    }
    installMessageFormat();
    if (!hasDisplay()) {
        qCCritical(lcApp, "no display (neither DISPLAY nor WAYLAND_DISPLAY is set); Orvela needs a graphical session.");
        return EXIT_FAILURE;
    }
    // Before Qt's tray or libsecret look for a bus: neither may start one that outlives Orvela.
    preventSessionBusAutolaunch();
    // The software scene graph: a small panel does not need a GPU context's memory.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication::setApplicationName(QStringLiteral("orvela"));
    QApplication::setApplicationVersion(QStringLiteral(ORVELA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(ORVELA_APP_ID));

    previousHandler = qInstallMessageHandler(failWithoutDisplay);
    // Never destroyed: see the end of main.
    auto *app = new QApplication(argc, argv);
    qInstallMessageHandler(previousHandler);
    QApplication::setQuitOnLastWindowClosed(false);
    useSystemLocaleForIcu();

    int status = EXIT_SUCCESS;
    {
        SingleInstance instance;
        switch (instance.claim(std::chrono::seconds(5), launch.toMap())) {
        case SingleInstance::Role::primary: break;
        case SingleInstance::Role::handedOff: return EXIT_SUCCESS;
        case SingleInstance::Role::failed:
            qCCritical(lcApp, "another Orvela is running but does not answer (%s).", qPrintable(instance.socketPath()));
            return EXIT_FAILURE;
        }
        quitOnTerminationSignals(app);

        auto delegate = std::make_unique<AppDelegate>(launch);
        QObject::connect(
            &instance, &SingleInstance::activationRequested, delegate.get(),
            [&delegate](const QVariantMap &handedOver) { delegate->handOver(LaunchValues::fromMap(handedOver)); });
        QObject::connect(app, &QCoreApplication::aboutToQuit, delegate.get(), &AppDelegate::applicationWillTerminate);
        std::unique_ptr<TestReport> report;
        // Launching has finished once the event loop runs.
        QMetaObject::invokeMethod(
            delegate.get(),
            [&delegate, &report] {
                delegate->applicationDidFinishLaunching();
                if (qEnvironmentVariableIsSet(TestReport::pathVariable))
                    report = std::make_unique<TestReport>(qEnvironmentVariable(TestReport::pathVariable),
                                                          delegate->store(), *delegate->menuBar());
                if (!QSystemTrayIcon::isSystemTrayAvailable())
                    qCWarning(lcApp,
                              "no system tray is running; the icon appears when one starts. "
                              "Launch orvela again to open the panel.");
            },
            Qt::QueuedConnection);

        status = QApplication::exec();
        report.reset();
        // The store writes what it keeps as it changes; its going ends the last of it.
        delegate.reset();
    }
    // Qt waits for its host-name lookups (the favicons', the service's) when the application
    // object goes, and a lookup that DNS never answers takes many seconds; a keyring call may be
    // under way on a thread too. Nothing left needs an orderly end: leave without waiting.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
