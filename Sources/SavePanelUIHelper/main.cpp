// brindle-save-ui: shows one save panel for the host and writes its one response.

#include "Platform/PathsAndText.h"
#include "SavePanelUIHelper/HelperArguments.h"
#include "SavePanelUIHelper/PanelApplicationSetup.h"
#include "SavePanelUIHelper/SavePanelAppDelegate.h"
#include "SavePanelUIHelper/SavePanelDesktop.h"
#include "SmartSaveUIBridge/SmartSavePanelProtocol.h"

#include <QApplication>

#include <cstdio>
#include <optional>

namespace {

using namespace brindle;

// Without a usable request no window is shown; the host still gets an answer when it can.
int failToStart(const std::vector<std::string>& arguments, const std::string& description) {
    try {
        const HelperArguments parsed = HelperArguments::parse(arguments);
        SmartSavePanelMessageCodec::writeResponse(
            SmartSavePanelResponse(SmartSavePanelOutcome::failed, std::nullopt, std::nullopt,
                                   description),
            parsed.responsePath);
    } catch (const std::exception&) {
        // Paths that cannot be used, or a response that cannot be written: the host says so.
    }
    std::fprintf(stderr, "%s\n", description.c_str());
    return 1;
}

// Qt ends the program when it cannot reach the display. The host still gets its answer, with its
// own words for a panel that did not open.
const std::string* startingResponsePath = nullptr;
QtMessageHandler qtMessageHandler = nullptr;

void answerIfStartingFails(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type == QtFatalMsg && startingResponsePath != nullptr) {
        try {
            SmartSavePanelMessageCodec::writeResponse(
                SmartSavePanelResponse(SmartSavePanelOutcome::failed), *startingResponsePath);
        } catch (const std::exception&) {
            // As for any response that cannot be written.
        }
        startingResponsePath = nullptr;
    }
    qtMessageHandler(type, context, message);
}

} // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv, argv + argc);
    std::optional<HelperArguments> parsed;
    std::optional<SmartSavePanelRequest> request;
    try {
        parsed = HelperArguments::parse(arguments);
        request = SmartSavePanelMessageCodec::decodeRequest(parsed->requestPath);
        if (request->schemaVersion() != SmartSavePanelRequest::currentSchemaVersion)
            throw SavePanelHelperError::incompatibleRequest();
    } catch (const std::exception& error) {
        return failToStart(arguments, error.what());
    }

    keepUserSettingsUnwritten();
    startingResponsePath = &parsed->responsePath;
    qtMessageHandler = qInstallMessageHandler(answerIfStartingFails);
    QApplication application(argc, argv);
    qInstallMessageHandler(qtMessageHandler);
    startingResponsePath = nullptr;
    // The panel's answer ends the program, not the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    installPanelTranslations();
    SavePanelDesktop desktop;
    SavePanelAppDelegate delegate(std::move(*request), parsed->responsePath, desktop);
    QObject::connect(&application, &QGuiApplication::applicationStateChanged, &delegate,
                     [&delegate, wasActive = false](Qt::ApplicationState state) mutable {
                         const bool active = state == Qt::ApplicationActive;
                         if (active == wasActive)
                             return;
                         wasActive = active;
                         active ? delegate.applicationDidBecomeActive()
                                : delegate.applicationDidResignActive();
                     });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
