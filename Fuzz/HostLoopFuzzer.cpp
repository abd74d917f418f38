// The whole host, framing to replies, in a sandbox: each folder it writes to is a fresh one, no
// tool, bus or save panel is found, web requests meet a closed port. Requests call the sandbox
// "/sandbox"; one naming any other absolute path is not run, lest it touch the machine's files.
//
// The input is the session's JSON bodies, one a line, which the harness frames itself: a mutation
// then changes a request instead of breaking the length in front of it. An input that starts with
// "#frames" followed by a line break is taken as the framed stream itself, for the framing's own
// faults.

#include "MetadataCore/NativeMessageFrame.h"
#include "ResourceSourceHost/Dispatcher.h"
#include "ResourceSourceHost/HostLoop.h"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
std::string sandbox;
int output = -1, startFolder = -1;

// Refuses a request with an absolute path outside "/sandbox" (and any ".."), and puts the real
// sandbox in its place. A string that starts with "/" serialises as a quote and a slash.
boost::json::object confinedHandle(const boost::json::object& request,
                                   brindle::DirectSaveUploadStore& store) {
    std::string text = boost::json::serialize(request);
    for (std::size_t at = text.find("\"/"); at != text.npos; at = text.find("\"/", at + 1)) {
        if (text.compare(at, 10, "\"/sandbox/") != 0 && text.compare(at, 10, "\"/sandbox\"") != 0)
            return {{"ok", false}};
        text.replace(at + 1, 8, sandbox);
    }
    if (text.find("..") != text.npos)
        return {{"ok", false}};
    return brindle::handle(boost::json::parse(text).as_object(), store);
}

std::string session(std::string_view input) {
    constexpr std::string_view framedMarker = "#frames\n";
    if (input.starts_with(framedMarker))
        return std::string(input.substr(framedMarker.size()));
    std::string framed;
    while (!input.empty()) {
        const std::size_t end = std::min(input.find('\n'), input.size());
        if (end > 0)
            framed += brindle::nativeMessageFrame::encode(input.substr(0, end));
        input.remove_prefix(std::min(end + 1, input.size()));
    }
    return framed;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sandbox = (fs::temp_directory_path() / "brindle-fuzz-XXXXXX").string();
    if (mkdtemp(sandbox.data()) == nullptr)
        std::abort();
    std::atexit([] { fs::remove_all(sandbox); });
    for (const char* name :
         {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TMPDIR",
          "BRINDLE_DIRECT_SAVE_DIR", "BRINDLE_IMAGE_CANCEL_DIR", "BRINDLE_TOOLS_DIR",
          "BRINDLE_UI_APP", "BRINDLE_SAVE_UI_APP"}) {
        fs::create_directory(sandbox + "/" + name);
        setenv(name, (sandbox + "/" + name).c_str(), 1);
    }
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy"})
        setenv(name, "http://127.0.0.1:9", 1);
    for (const char* name : {"no_proxy", "NO_PROXY", "DBUS_SESSION_BUS_ADDRESS"})
        unsetenv(name);
    output = open("/dev/null", O_WRONLY | O_CLOEXEC);
    startFolder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const char* folder : {"/Downloads", "/Other"}) {
        fs::remove_all(sandbox + folder);
        fs::create_directory(sandbox + folder);
    }
    const std::string requests = session({reinterpret_cast<const char*>(data), size});
    const int input = memfd_create("requests", MFD_CLOEXEC);
    // Relative paths in requests name files in the sandbox too; libFuzzer's own do not.
    if (input < 0 || write(input, requests.data(), requests.size()) != ssize_t(requests.size()) ||
        lseek(input, 0, SEEK_SET) != 0 || chdir(sandbox.c_str()) != 0)
        std::abort();
    brindle::runHost(input, output, confinedHandle);
    if (fchdir(startFolder) != 0)
        std::abort();
    close(input);
    return 0;
}
