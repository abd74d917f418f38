// How the built host ends. Asked to by a signal, with Chrome's pipes closed first or left open,
// it ends as at the end of its input; killed outright, the next host to start settles what it
// left. Real processes, files on ext4 and tmpfs.

#include "ResourceSourceHost/NativeMessaging.h"
#include "Support/HostProcess.h"
#include "Support/MediaTools.h"
#include "Support/SavePanelStandIn.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <thread>

namespace brindle::testing {
namespace {

namespace fs = std::filesystem;

class HostEnd : public ImageFolders {
protected:
    void SetUp() override {
        if (statusOf("/dev/shm").st_dev == statusOf(root.path()).st_dev)
            GTEST_SKIP() << "/dev/shm and the temporary folder are not two file systems here";
        ImageFolders::SetUp();
        fs::create_directory(scratch);
        makePNG("a.png", "testsrc=size=1280x960");
        writeFile(image("clip.mp4"), "placeholder");
        options.environment = {{"BRINDLE_DIRECT_SAVE_DIR", staging},
                               {"BRINDLE_TOOLS_DIR", tools},
                               {"TMPDIR", scratch},
                               {"XDG_CACHE_HOME", root.file("cache")},
                               {"BRINDLE_SAVE_UI_APP", root.file("Panel.app")}};
    }

    TemporaryDirectory shm{"/dev/shm"};
    std::string scratch = root.file("tmp"), started = root.file("pid");
    std::string staging = shm.file("data/Brindle/DirectSave/Incoming");
    ProcessOptions options;
};

// Each step is ended by a signal once under way, with the pipes closed first or left open, and
// killed at fixed points; the user's folder then holds the old state or the whole new file.
TEST_F(HostEnd, EndedHostLeavesTheOldStateOrTheWholeNewFile) {
    // The tools do their work, then wait where a signal is to find them, if asked to.
    const std::string parked = "[ -e " + root.file("park") + " ] || ";
    const std::string park = "\necho $$ > " + started + "\nexec sleep 600";
    installEncoder(parked + "exec /usr/bin/cwebp \"$@\"\n/usr/bin/cwebp \"$@\"" + park);
    writeFile(tools + "/ffmpeg",
              "#!/bin/sh\n[ \"$2\" = -h ] && exit 0\neval \"out=\\${$#}\"\nfor i in $(seq 40); "
              "do printf 0123456789 >> \"$out\"; sleep 0.01; done\n" +
                  parked + "exit" + park,
              0755);
    writeStandInProbe(tools);
    makeSavePanelBundle(root.file("Panel.app"), park);
    const std::string source = shm.file("big.bin"), png = readFile(image("a.png"));
    std::string bytes;
    for (size_t index = 0; index < 64; ++index)
        bytes += std::string(1 << 20, char('a' + index % 26));
    std::string upload;
    for (const auto& request : uploadRequests("k", bytes, 524288))
        upload += frameJSON(request);
    upload +=
        frameJSON(commitRequest("k", bytes.size(), int(bytes.size() / 524288), images, "big.bin"));
    const auto isOld = [&] {
        return entries(images) == std::vector<std::string>{"a.png", "clip.mp4"} &&
               readFile(image("a.png")) == png && readFile(image("clip.mp4")) == "placeholder" &&
               readFile(source) == bytes;
    };
    const auto hasPid = [&] { return exists(started) && !readFile(started).empty(); };
    const auto bigIsWhole = [&] { return readFile(image("big.bin")) == bytes; };
    int replies = -1; // the reading end of the running host's standard output
    const struct {
        std::string requests;
        std::function<bool()> isUnderWay, isNew;
    } steps[] = {
        {upload, [&] { return exists(staging) && entries(staging).size() == 2; }, bigIsWhole},
        {frameJSON({{"action", "optimizeImage"}, {"path", image("a.png")}}), hasPid,
         [&] {
             const std::string webp = readFile(image("a.webp"));
             return !exists(image("a.png")) && webp.size() > 12 && webp.substr(8, 4) == "WEBP" &&
                    webp.substr(4, 4) == frameLength(uint32_t(webp.size() - 8));
         }},
        {frameJSON(json(R"({"action":"materializeDownload","mediaUrl":"https://cdn.example/v.mp4",
                            "mediaKind":"video","path":")" +
                        image("clip.mp4") + "\"}")),
         hasPid, [&] { return readFile(image("clip.mp4")).size() == 400; }},
        {frameJSON(
             {{"action", "moveDownload"}, {"path", source}, {"destinationDirectory", images}}),
         [&] { return entries(images).size() == 3; }, bigIsWhole},
        {frameJSON({{"action", "chooseSaveDestination"}, {"suggestedFilename", "a.png"}}), hasPid,
         nullptr},
        // A reply larger than the pipe holds, that Chrome does not read.
        {frameJSON({{"action", "none"}, {"requestId", std::string(300000, 'r')}}),
         [&, queued = 0]() mutable { return ioctl(replies, FIONREAD, &queued) == 0 && queued > 0; },
         nullptr},
    };
    const int signals[] = {SIGTERM, SIGINT, SIGHUP};
    int round = 0;
    // -1: a signal after Chrome closed the pipes; 0: a signal alone; -2: SIGKILL once under way;
    // else SIGKILL after as many ms.
    for (const int end : {-1, 0, -2, 20, 90, 200, 350, 600, 900}) {
        for (const auto& step : steps) {
            if (end > 0 && !step.isNew)
                continue;
            const std::string context = std::to_string(end) + " " + step.requests.substr(4, 40);
            if (!exists(source))
                writeFile(source, bytes);
            end > 0 ? void(fs::remove(root.file("park"))) : writeFile(root.file("park"), "");
            writeFile(root.file("requests"), step.requests);
            auto [hostInput, toHost] = makePipe();
            auto [fromHost, hostOutput] = makePipe();
            replies = fromHost.get();
            if (end > 0) // killed: every request waits in a file
                hostInput = platform::FileDescriptor(open(root.file("requests").c_str(), O_RDONLY));
            auto host = startHost(hostInput.get(), hostOutput.get(), options);
            hostInput.close();
            hostOutput.close();
            if (end > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(end));
                host.kill();
            } else {
                const auto frames = parseFrames(step.requests); // an upload's start is enough
                for (size_t index = 0; index < std::min<size_t>(2, frames.size()); ++index)
                    writeAll(frameJSON(frames[index]), toHost.get());
                // A message left half-sent must not hold up an upload's host waiting for more.
                if (end == 0 && &step == &steps[0]) {
                    writeAll(frameLength(64) + "{", toHost.get());
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                }
                for (int attempt = 0; attempt < 1000 && !step.isUnderWay(); ++attempt)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                ASSERT_TRUE(step.isUnderWay()) << context;
                // The step's tool, if it has one, ends with the host; killed outright, the host
                // takes it along, and none waits on for the next host.
                const platform::FileDescriptor tool(
                    exists(started) ? int(syscall(SYS_pidfd_open, std::stoi(readFile(started)), 0))
                                    : -1);
                if (end == -1) {
                    toHost.close();
                    fromHost.close();
                }
                if (end == -2) {
                    host.kill();
                } else {
                    kill(host.processIdentifier(), signals[round++ % 3]);
                    const auto exit = host.waitForExit(std::chrono::seconds(10));
                    ASSERT_TRUE(exit) << context;
                    EXPECT_EQ(exit->exitCode, 0) << context;
                }
                pollfd ended{tool.get(), POLLIN, 0};
                EXPECT_TRUE(!tool.isOpen() || poll(&ended, 1, end == -2 ? 10000 : 0) == 1)
                    << context << "tool lives";
            }
            // A killed host's work is settled by the next; a ping does no work and settles
            // nothing, any other request does.
            const bool killed = end > 0 || end == -2;
            if (killed)
                exchange({{{"action", "cancelDirectSaveUpload"}, {"requestId", "-"}}}, options);
            EXPECT_TRUE(isOld() || (killed && step.isNew && step.isNew())) << context;
            // Nothing hidden or staged is left, in the user's folder, the private one or /tmp.
            for (const std::string& name : entries(images))
                EXPECT_FALSE(name.starts_with('.')) << context << name;
            for (const std::string& folder :
                 {staging, scratch, root.file("SavePanel/PanelRequests")})
                EXPECT_TRUE(!exists(folder) || entries(folder).empty()) << context << folder;
            for (const std::string& path : {image("big.bin"), image("a.webp"), started})
                fs::remove(path);
            writeFile(image("a.png"), png);
            writeFile(image("clip.mp4"), "placeholder");
        }
    }
}

// A dead host's journal is settled (which journals are is the platform contract's); in the
// staging folder only abandoned uploads of the user are removed, whatever else shares the folder
// and however a host spells its path. A living host's upload stays, no upload is staged while the
// folder is being settled, and none is delivered into it.
TEST_F(HostEnd, StartUpSettlesOnlyWhatDeadHostsLeft) {
    fs::create_directories(staging);
    fs::create_directory_symlink(shm.file("data"), root.file("data"));
    const std::string uuid = "0123ABCD-0123-4567-89AB-0123456789AB";
    const std::string temporary = image(".z.png." + uuid + ".webp");
    const auto note = [](const std::string& path) {
        return std::string("t\0", 2) + path + '\0' + '\0';
    };
    const auto in = [&](const std::string& name) { return staging + "/" + name; };
    // A file, its contents, whether start-up removes it.
    const std::vector<std::tuple<std::string, std::string, bool>> files = {
        {in("old-" + uuid + ".png"), "x", true},
        {in("other-" + uuid + ".png"), "x", geteuid() != 0}, // another user's, where one can be
        {in(".hidden"), "x", false},
        {in("notes.txt"), "x", false},
        {in("_journal-F" + uuid.substr(1)), note(image(".keep")) + note(temporary), true},
        {temporary, "x", true},
        {image(".keep"), "x", false}};
    for (const auto& [path, contents, removed] : files)
        writeFile(path, contents);
    static_cast<void>(chown(in("other-" + uuid + ".png").c_str(), 65534, 65534));
    // A child the dead host had no time to note is known by the temporary in its arguments. Its
    // sleep, which holds whatever descriptors the test inherited, goes with the group it leads.
    platform::ChildProcessLaunch launch;
    launch.program = "/bin/sh";
    launch.arguments = {"-c", "exec >/dev/null 2>&1; sleep 30; : \"$0\"", temporary};
    launch.ownProcessGroup = true;
    auto child = std::move(platform::ChildProcess::spawn(launch).value());

    HostSession living(options);
    for (const auto& request : uploadRequests("b", "xyz"))
        living.ask(request);
    // Another host reaches the folder through a link in its data folder's path.
    ProcessOptions linked = options;
    linked.environment["BRINDLE_DIRECT_SAVE_DIR"] = "";
    linked.environment["XDG_DATA_HOME"] = root.file("data");
    auto requests = uploadRequests("a", "xyz");
    requests.push_back(
        commitRequest("a", 3, 1, root.file("data/Brindle/DirectSave/Incoming"), "a"));
    EXPECT_EQ(testing::exchange(requests, linked).back()["stage"], "destination");

    for (const auto& [path, contents, removed] : files)
        EXPECT_NE(exists(path), removed) << path;
    EXPECT_EQ(child.waitForExit(std::chrono::seconds(5))->terminatingSignal, SIGKILL);
    kill(-child.processIdentifier(), SIGKILL); // the settled child's sleep, still in its group
    const platform::FileDescriptor folder(open(staging.c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_EQ(flock(folder.get(), LOCK_EX), 0);
    living.send({{"action", "beginDirectSaveUpload"}, {"requestId", "c"}});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(std::ranges::none_of(entries(staging), [](auto& name) { return name[0] == 'c'; }));
    flock(folder.get(), LOCK_UN);
    EXPECT_EQ(living.receive()["event"], "upload-ready");
    EXPECT_EQ(living.ask(commitRequest("b", 3, 1, images, "b"))["event"], "complete");
}

} // namespace
} // namespace brindle::testing
