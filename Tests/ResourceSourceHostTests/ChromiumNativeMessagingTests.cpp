// A real Chromium, with a small extension whose id is fixed by the key in its manifest, starts
// the built host through native messaging and reports the replies to a loopback server.

#include "Support/HostProcess.h"
#include "Support/LoopbackHTTPServer.h"

#include <csignal>
#include <filesystem>
#include <unistd.h>

namespace brindle::testing {
namespace {

constexpr const char* chromium = "/usr/bin/chromium";
// Follows from the public key in ChromiumExtension/manifest.json.
constexpr const char* extensionOrigin = "chrome-extension://jjpieeohabdfmmngaljcdpecgckkbnma/";

TEST(Chromium, ExtensionTalksToTheBundledHost) {
    if (access(chromium, X_OK) != 0)
        GTEST_SKIP() << "Chromium is not installed";

    TemporaryDirectory root;
    const std::string extension = root.file("extension");
    std::filesystem::copy(BRINDLE_TEST_EXTENSION_DIR, extension);
    LoopbackHTTPServer server;
    writeFile(extension + "/report.js", "const reportURL = '" + server.url("/report") + "';\n");
    const std::string profile = root.file("profile");
    std::filesystem::create_directories(profile + "/NativeMessagingHosts");
    writeFile(profile + "/NativeMessagingHosts/com.vantle.brindle.json",
              R"({"name":"com.vantle.brindle","description":"Brindle","type":"stdio","path":")" +
                  std::string(BRINDLE_BUNDLE_DIR) + R"(/Contents/MacOS/brindle-host",
                  "allowed_origins":[")" +
                  extensionOrigin + R"("]})");

    const std::string log = root.file("chromium.log");
    platform::ChildProcessLaunch launch;
    // A session of its own, so that the browser's helper processes can be ended with it.
    launch.program = "/usr/bin/setsid";
    launch.arguments.assign(
        {"/bin/sh", "-c", R"(exec "$@" > "$0" 2>&1)", log, chromium, "--headless=new",
         "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync",
         "--disable-features=DisableLoadExtensionCommandLineSwitch", "--user-data-dir=" + profile,
         "--load-extension=" + extension, "about:blank"});
    auto browser = platform::ChildProcess::spawn(launch).value();
    const auto body = server.nextRequestBody(std::chrono::seconds(90));
    kill(-browser.processIdentifier(), SIGKILL);
    ASSERT_TRUE(body) << "no report from the extension; Chromium said:\n" << readFile(log);
    const object report = json(*body);

    // The reply's fields are the channel's test; here it matters that the browser got one.
    EXPECT_EQ(report.at("ping").as_object().at("ok"), true) << *body;
    EXPECT_EQ(report.at("unknown"), json(R"({"ok":false,"error":"不支持的 Native Messaging 操作",
                                             "requestId":"chromium-1"})"))
        << *body;
}

} // namespace
} // namespace brindle::testing
