// The whole host, from framing to replies, on arbitrary bytes in a sandbox: every folder it may
// write is under a fresh temporary folder, no tool, bus or save panel is there to start, and web
// requests go through a proxy on a closed port. Requests name the sandbox as "/sandbox"; one
// that names any other absolute path is answered without being run, because the fuzzer may run
// as a user who could harm the machine's own files.

#include "ResourceSourceHost/Dispatcher.h"
#include "ResourceSourceHost/HostLoop.h"

#include <boost/json/value.hpp>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
constexpr std::string_view sandboxName = "/sandbox";
std::string sandbox;
int output = -1;
int startFolder = -1;

// Puts the sandbox in the place of "/sandbox"; false for a path anywhere else.
bool confine(boost::json::value& value) {
    if (auto* object = value.if_object()) {
        for (auto& entry : *object) {
            if (!confine(entry.value()))
                return false;
        }
    } else if (auto* array = value.if_array()) {
        for (auto& element : *array) {
            if (!confine(element))
                return false;
        }
    } else if (auto* string = value.if_string(); string && string->starts_with('/')) {
        const std::string_view path = *string;
        if (path.find("..") != std::string_view::npos || !path.starts_with(sandboxName) ||
            (path.size() > sandboxName.size() && path[sandboxName.size()] != '/'))
            return false;
        *string = sandbox + std::string(path.substr(sandboxName.size()));
    }
    return true;
}

boost::json::object confinedHandle(const boost::json::object& request,
                                   brindle::DirectSaveUploadStore& store) {
    boost::json::value confined = request;
    if (!confine(confined))
        return {{"ok", false}};
    return brindle::handle(confined.get_object(), store);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string root = (fs::temp_directory_path() / "brindle-fuzz-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr)
        std::abort();
    sandbox = root;
    std::atexit([] { fs::remove_all(sandbox); });
    for (const auto& [name, folder] : {std::pair{"HOME", "/home"},
                                       {"XDG_DATA_HOME", "/data"},
                                       {"XDG_CACHE_HOME", "/cache"},
                                       {"XDG_CONFIG_HOME", "/config"},
                                       {"XDG_RUNTIME_DIR", "/run"},
                                       {"TMPDIR", "/tmp"},
                                       {"BRINDLE_DIRECT_SAVE_DIR", "/incoming"},
                                       {"BRINDLE_IMAGE_CANCEL_DIR", "/cancel"},
                                       {"BRINDLE_TOOLS_DIR", "/tools"},
                                       {"BRINDLE_SAVE_UI_APP", "/none.app"},
                                       {"BRINDLE_UI_APP", "/none.app"}}) {
        fs::create_directories(sandbox + folder);
        setenv(name, (sandbox + folder).c_str(), 1);
    }
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
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
    const int input = memfd_create("requests", MFD_CLOEXEC);
    if (input < 0 || write(input, data, size) != static_cast<ssize_t>(size) ||
        lseek(input, 0, SEEK_SET) != 0)
        std::abort();
    // A relative path names a file in the sandbox too; libFuzzer's own are read from where it
    // was started.
    if (chdir(sandbox.c_str()) != 0)
        std::abort();
    brindle::runHost(input, output, confinedHandle);
    if (fchdir(startFolder) != 0)
        std::abort();
    close(input);
    return 0;
}
