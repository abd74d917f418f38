// Real Chromium, its default profile under a temporary home, finds the manifest that connect
// wrote: a test extension other than the production one is refused access to the host instead
// of being told that no such host exists.

#include "CompanionCore/CompanionInstaller.h"
#include "Platform/ChildProcess.h"
#include "Support/CompanionBundle.h"
#include "Support/HostProcess.h"
#include "Support/LoopbackHTTPServer.h"
#include "Support/TemporaryDirectory.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

constexpr const char* chromium = "/usr/bin/chromium";

TEST(ChromiumConnection, FindsTheManifestThatConnectWrote) {
    if (access(chromium, X_OK) != 0)
        GTEST_SKIP() << "Chromium is not installed";
    TemporaryDirectory root;
    const std::string home = root.file("home");
    const std::string bundle = home + "/Applications/Kavo Helper.app";
    makeCompanionBundle(bundle);
    std::filesystem::create_directories(home + "/.config/chromium");
    CompanionInstaller(bundle, home).connect();

    const std::string extension = root.file("extension");
    std::filesystem::copy(BRINDLE_TEST_EXTENSION_DIR, extension);
    LoopbackHTTPServer server;
    writeFile(extension + "/report.js", "const reportURL = '" + server.url("/report") + "';\n");
    const std::string log = root.file("chromium.log");
    platform::ChildProcessLaunch launch;
    // A session of its own, so that the browser's helper processes can be ended with it.
    // Headless Chromium would make up a temporary profile: it is pointed at its default one.
    launch.program = "/usr/bin/setsid";
    launch.arguments.assign({"/usr/bin/env",
                             "-u",
                             "XDG_CONFIG_HOME",
                             "HOME=" + home,
                             "/bin/sh",
                             "-c",
                             R"(exec "$@" > "$0" 2>&1)",
                             log,
                             chromium,
                             "--headless=new",
                             "--no-sandbox",
                             "--disable-gpu",
                             "--no-first-run",
                             "--disable-background-networking",
                             "--disable-component-update",
                             "--disable-sync",
                             "--disable-features=DisableLoadExtensionCommandLineSwitch",
                             "--user-data-dir=" + home + "/.config/chromium",
                             "--load-extension=" + extension,
                             "about:blank"});
    auto browser = platform::ChildProcess::spawn(launch);
    ASSERT_TRUE(browser);
    const auto body = server.nextRequestBody(std::chrono::seconds(90));
    kill(-browser->processIdentifier(), SIGKILL);
    ASSERT_TRUE(body) << "no report from the extension; Chromium said:\n" << readFile(log);
    EXPECT_EQ(json(*body).at("ping").at("nativeMessagingError"),
              "Access to the specified native messaging host is forbidden.")
        << *body;
}

} // namespace
} // namespace brindle::testing
