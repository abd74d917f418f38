// The installer and the Chrome connection in a temporary home folder.

#include "CompanionCore/CompanionInstaller.h"
#include "Support/CompanionBundle.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json.hpp>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace brindle {
void PrintTo(const CompanionConnectionState& state, std::ostream* out) {
    *out << static_cast<int>(state.kind) << " " << state.reason;
}
} // namespace brindle

namespace brindle::testing {
namespace {

namespace fs = std::filesystem;
using State = CompanionConnectionState;

const std::string app = "/Kavo Helper.app";
constexpr const char* origin = "chrome-extension://pmoihgkcfjbalendpmoihgkcfjbalend/";

struct Home {
    TemporaryDirectory root;
    // Characters that a desktop entry must escape, in every path.
    std::string home = root.file("ho $`\"%\\me");
    std::string downloads = home + "/Downloads";
    std::string installed = home + "/Applications" + app;
    std::string chromeManifest = home + "/.config/google-chrome/NativeMessagingHosts/"
                                        "com.vantle.brindle.json";
    std::string chromiumManifest = home + "/.config/chromium/NativeMessagingHosts/"
                                          "com.vantle.brindle.json";
    Home() {
        fs::create_directories(downloads);
        makeCompanionBundle(downloads + app);
    }
    CompanionInstaller installer(const std::string& bundle) const { return {bundle, home}; }
    std::vector<std::string> stagingLeft() const {
        std::vector<std::string> left;
        for (const auto& name : entries(home + "/Applications"))
            if (name.starts_with(".Kavo-Helper-install-"))
                left.push_back(name);
        return left;
    }
};

std::string marker(const std::string& bundle) {
    return bundle + "/Contents/old-marker";
}

template <class Call> std::string installerMessage(const Call& call) {
    return messageOf<CompanionInstallerError>(call);
}

TEST(CompanionInstaller, ValidationRefusesEachIncompletePart) {
    struct Row {
        std::string change; // a shell command run in the bundle
        std::string message;
    };
    const std::string incomplete = "Kavo助手安装包不完整：";
    const std::string unsafe = "为保护您的文件，Kavo助手没有修改异常路径：";
    const std::vector<Row> rows = {
        {"rm Contents/Info.plist", incomplete + "应用标识不正确"},
        {"sed -i s/kavo.helper/kavo.other/ Contents/Info.plist", incomplete + "应用标识不正确"},
        {"rm Contents/MacOS/brindle-host", unsafe + "本机通信组件：{}/Contents/MacOS/brindle-host"},
        {"mv Contents/MacOS/brindle-host h && ln -s ../../h Contents/MacOS/brindle-host",
         unsafe + "本机通信组件：{}/Contents/MacOS/brindle-host"},
        {"chmod 644 Contents/MacOS/brindle-host", incomplete + "本机通信组件不能运行"},
        {"rm -r Contents/Helpers", incomplete + "保存窗口组件无效"},
        {"sed -i s/save-ui/other/ Contents/Helpers/BrindleSaveUI.app/Contents/Info.plist",
         incomplete + "保存窗口组件无效"},
        {"mv Contents/Helpers/BrindleSaveUI.app s && ln -s ../../s "
         "Contents/Helpers/BrindleSaveUI.app",
         incomplete + "保存窗口组件无效"},
        {"rm Contents/Resources/Tools/cwebp", unsafe + "cwebp：{}/Contents/Resources/Tools/cwebp"},
        {"ln -sf /bin/true Contents/Resources/Tools/ffmpeg",
         unsafe + "ffmpeg：{}/Contents/Resources/Tools/ffmpeg"},
        {"chmod 644 Contents/Resources/Tools/ffprobe", incomplete + "ffprobe不能运行"},
    };
    for (const Row& row : rows) {
        Home home;
        const std::string bundle = home.downloads + app;
        ASSERT_EQ(std::system(("cd '" + bundle + "' && " + row.change).c_str()), 0) << row.change;
        std::string expected = row.message;
        if (auto at = expected.find("{}"); at != std::string::npos)
            expected.replace(at, 2, bundle);
        EXPECT_EQ(installerMessage([&] { home.installer(bundle).validateApplication(); }), expected)
            << row.change;
        EXPECT_EQ(installerMessage([&] { home.installer(bundle).installOrUpdateApplication(); }),
                  expected)
            << row.change;
        EXPECT_FALSE(exists(home.installed)) << row.change;
    }
}

TEST(CompanionInstaller, InstallsIntoApplicationsOrRefusesWithoutLeavingStaging) {
    struct Row {
        std::string name;
        std::function<void(const Home&)> before;
        std::string message; // "" when the install succeeds
        std::function<void(const Home&)> after;
    };
    const std::vector<Row> rows = {
        {"no Applications folder", nullptr, "",
         [](const Home& home) {
             EXPECT_EQ(statusOf(home.home + "/Applications").st_mode & 07777, 0700u);
             EXPECT_EQ(std::system(("desktop-file-validate '" + home.home +
                                    "/.local/share/applications/com.vantle.kavo.helper.desktop'")
                                       .c_str()),
                       0);
         }},
        {"older companion replaced",
         [](const Home& home) {
             makeCompanionBundle(home.installed);
             writeFile(marker(home.installed), "old");
         },
         "", [](const Home& home) { EXPECT_FALSE(exists(marker(home.installed))); }},
        {"linked Applications",
         [](const Home& home) {
             fs::create_directories(home.root.file("elsewhere"));
             fs::create_directory_symlink(home.root.file("elsewhere"), home.home + "/Applications");
         },
         "为保护您的文件，Kavo助手没有修改异常路径：{home}/Applications",
         [](const Home& home) { EXPECT_TRUE(entries(home.root.file("elsewhere")).empty()); }},
        {"foreign bundle left alone",
         [](const Home& home) {
             fs::create_directories(home.installed + "/Contents");
             writeFile(home.installed + "/Contents/Info.plist", infoPropertyList("org.other"));
         },
         "Kavo助手安装包不完整：现有Kavo助手无效",
         [](const Home& home) {
             EXPECT_EQ(entries(home.installed + "/Contents"),
                       std::vector<std::string>{"Info.plist"});
         }},
        {"copy fails on a pipe in the bundle",
         [](const Home& home) {
             makeCompanionBundle(home.installed);
             writeFile(marker(home.installed), "old");
             mkfifo((home.downloads + app + "/Contents/fifo").c_str(), 0600);
         },
         "Kavo助手安装包不完整：Operation not supported",
         [](const Home& home) { EXPECT_TRUE(exists(marker(home.installed))); }},
    };
    for (const Row& row : rows) {
        Home home;
        if (row.before)
            row.before(home);
        std::string result;
        std::string message = row.message;
        if (auto at = message.find("{home}"); at != std::string::npos)
            message.replace(at, 6, home.home);
        EXPECT_EQ(installerMessage([&] {
                      result = home.installer(home.downloads + app).installOrUpdateApplication();
                  }),
                  message)
            << row.name;
        if (message.empty()) {
            EXPECT_EQ(result, home.installed) << row.name;
            EXPECT_NO_THROW(home.installer(home.installed).validateApplication()) << row.name;
        }
        if (exists(home.home + "/Applications")) {
            EXPECT_EQ(home.stagingLeft(), std::vector<std::string>{}) << row.name;
        }
        row.after(home);
    }
}

TEST(CompanionInstaller, StablePlacesCopyNothing) {
    Home home;
    makeCompanionBundle(home.installed);
    const auto before = entries(home.home + "/Applications");
    EXPECT_EQ(home.installer(home.installed).installOrUpdateApplication(), home.installed);
    EXPECT_EQ(entries(home.home + "/Applications"), before);
    EXPECT_TRUE(home.installer("/opt/Kavo Helper.app").isInStableApplicationsDirectory());
    EXPECT_TRUE(
        home.installer(home.home + "/x/../Applications" + app).isInStableApplicationsDirectory());
    EXPECT_FALSE(home.installer(home.downloads + app).isInStableApplicationsDirectory());
}

// A path as a JSON string, without its quotes.
std::string inJSON(const std::string& path) {
    const std::string quoted = boost::json::serialize(boost::json::string(path));
    return quoted.substr(1, quoted.size() - 2);
}

std::string manifestWith(const std::string& path, const std::string& extra,
                         const std::string& type = "stdio") {
    return R"({"name":"com.vantle.brindle","type":")" + type + R"(","path":")" + inJSON(path) +
           R"(","allowed_origins":[)" + extra + "]}";
}

TEST(CompanionConnection, ConnectWritesBothManifestsOnceAndDisconnectRemovesThem) {
    Home home;
    makeCompanionBundle(home.installed);
    const CompanionInstaller installer = home.installer(home.installed);
    EXPECT_EQ(installer.connectionState(), State::disconnected());
    fs::create_directories(home.home + "/.config/chromium");
    installer.connect();
    const std::string bytes = readFile(home.chromeManifest);
    EXPECT_EQ(bytes.back(), '\n');
    EXPECT_EQ(statusOf(home.chromeManifest).st_mode & 07777, 0600u);
    EXPECT_EQ(statusOf(home.home + "/.config/google-chrome").st_mode & 07777, 0700u);
    EXPECT_LT(bytes.find("allowed_origins"), bytes.find("description"));
    EXPECT_EQ(boost::json::parse(bytes),
              boost::json::parse(R"({"name":"com.vantle.brindle","description":"Kavo macOS helper",
                  "type":"stdio","path":")" +
                                 inJSON(home.installed) + R"(/Contents/MacOS/brindle-host",
                  "allowed_origins":[")" +
                                 origin + R"("]})"));
    EXPECT_EQ(readFile(home.chromiumManifest), bytes);
    EXPECT_EQ(installer.connectionState(), State::connected());
    installer.connect();
    EXPECT_EQ(readFile(home.chromeManifest), bytes);

    installer.disconnect();
    EXPECT_FALSE(exists(home.chromeManifest));
    EXPECT_FALSE(exists(home.chromiumManifest));
    EXPECT_NO_THROW(installer.disconnect());
    EXPECT_EQ(installer.connectionState(), State::disconnected());
}

TEST(CompanionConnection, StateAndRefusalsFollowTheManifestAndTheBundle) {
    struct Row {
        std::string name;
        std::function<void(const Home&, const std::string& host)> setUp;
        State expected;
    };
    const std::string outdated = "Chrome 的连接信息不是当前版本";
    const std::string quoted = std::string("\"") + origin + "\"";
    const auto write = [](const std::string& contents) {
        return [contents](const Home& home, const std::string& host) {
            std::string text = contents;
            if (auto at = text.find("{host}"); at != std::string::npos)
                text.replace(at, 6, inJSON(host));
            fs::create_directories(fs::path(home.chromeManifest).parent_path());
            writeFile(home.chromeManifest, text);
        };
    };
    const std::vector<Row> rows = {
        {"extra member", write(R"({"comment":1,)" + manifestWith("{host}", quoted).substr(1)),
         State::connected()},
        {"second origin", write(manifestWith("{host}", quoted + R"(,"chrome-extension://x/")")),
         State::needsRepair(outdated)},
        {"same origin twice", write(manifestWith("{host}", quoted + "," + quoted)),
         State::needsRepair(outdated)},
        {"other path", write(manifestWith("/old/brindle-host", quoted)),
         State::needsRepair(outdated)},
        {"other type", write(manifestWith("{host}", quoted, "tcp")), State::needsRepair(outdated)},
        {"not an object", write("[1]"), State::needsRepair(outdated)},
        {"not JSON", write("{"), State::needsRepair("incomplete JSON")},
        {"chromium outdated",
         [&](const Home& home, const std::string& host) {
             write(manifestWith("{host}", quoted))(home, host);
             fs::create_directories(fs::path(home.chromiumManifest).parent_path());
             writeFile(home.chromiumManifest, "{}");
         },
         State::needsRepair(outdated)},
        {"bundle incomplete",
         [&](const Home& home, const std::string& host) {
             write(manifestWith("{host}", quoted))(home, host);
             fs::remove(home.installed + "/Contents/Resources/Tools/cwebp");
         },
         State::needsRepair("为保护您的文件，Kavo助手没有修改异常路径：cwebp：{installed}/Contents/"
                            "Resources/Tools/cwebp")},
        {"linked manifest",
         [&](const Home& home, const std::string& host) {
             write(manifestWith("{host}", quoted))(home, host);
             fs::rename(home.chromeManifest, home.root.file("real.json"));
             fs::create_symlink(home.root.file("real.json"), home.chromeManifest);
         },
         State::needsRepair(
             "为保护您的文件，Kavo助手没有修改异常路径：Chrome 连接文件：{manifest}")},
    };
    for (const Row& row : rows) {
        Home home;
        makeCompanionBundle(home.installed);
        const CompanionInstaller installer = home.installer(home.installed);
        row.setUp(home, installer.hostURL());
        State expected = row.expected;
        for (const auto& [token, value] :
             {std::pair{std::string("{installed}"), home.installed},
              std::pair{std::string("{manifest}"), home.chromeManifest}})
            if (auto at = expected.reason.find(token); at != std::string::npos)
                expected.reason.replace(at, token.size(), value);
        EXPECT_EQ(installer.connectionState(), expected) << row.name;
    }
}

TEST(CompanionConnection, LinksAndTemporaryPlacesAreRefused) {
    Home home;
    makeCompanionBundle(home.installed);
    const CompanionInstaller installer = home.installer(home.installed);
    const std::string unsafe = "为保护您的文件，Kavo助手没有修改异常路径：";

    // From a temporary place: refused before any Chrome folder exists; a matching manifest
    // written by hand reads as "still in a temporary place".
    const CompanionInstaller unpacked = home.installer(home.downloads + app);
    EXPECT_EQ(installerMessage([&] { unpacked.connect(); }),
              "请先把Kavo助手安装到“应用程序”文件夹。");
    EXPECT_FALSE(exists(home.home + "/.config"));
    fs::create_directories(fs::path(home.chromeManifest).parent_path());
    writeFile(home.chromeManifest,
              manifestWith(unpacked.hostURL(), std::string("\"") + origin + "\""));
    EXPECT_EQ(unpacked.connectionState(), State::needsRepair("助手仍在临时位置"));

    // A linked manifest is neither overwritten nor removed.
    fs::rename(home.chromeManifest, home.root.file("real.json"));
    fs::create_symlink(home.root.file("real.json"), home.chromeManifest);
    const std::string refused = unsafe + "Chrome 连接文件：" + home.chromeManifest;
    EXPECT_EQ(installerMessage([&] { installer.connect(); }), refused);
    EXPECT_EQ(installerMessage([&] { installer.disconnect(); }), refused);
    EXPECT_TRUE(fs::is_symlink(home.chromeManifest));

    // A manifest that cannot be written (here: larger than the file size limit) leaves nothing.
    fs::remove(home.chromeManifest);
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{16, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string failed = installerMessage([&] { installer.connect(); });
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(failed, "无法创建 Chrome 连接文件，请检查当前账户的文件权限。");
    EXPECT_TRUE(entries(fs::path(home.chromeManifest).parent_path()).empty());

    // A linked folder on the way to the manifests.
    fs::remove_all(home.home + "/.config");
    fs::create_directories(home.root.file("chrome"));
    fs::create_directories(home.home + "/.config");
    fs::create_directory_symlink(home.root.file("chrome"), home.home + "/.config/google-chrome");
    EXPECT_EQ(installerMessage([&] { installer.connect(); }),
              unsafe + home.home + "/.config/google-chrome");
    EXPECT_TRUE(entries(home.root.file("chrome")).empty());
}

} // namespace
} // namespace brindle::testing
