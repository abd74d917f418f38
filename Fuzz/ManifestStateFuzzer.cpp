// Whatever lies in Chrome's host manifest, the companion judges it without failing.

#include "CompanionCore/CompanionInstaller.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A home folder of its own, made once, with the manifest's folder in it.
const brindle::CompanionInstaller& installer() {
    static const brindle::CompanionInstaller companion = [] {
        std::string home =
            (std::filesystem::temp_directory_path() / "brindle-fuzz-XXXXXX").string();
        if (mkdtemp(home.data()) == nullptr)
            std::abort();
        static const std::string folder = home;
        std::atexit([] { std::filesystem::remove_all(folder); });
        brindle::CompanionInstaller made(home + "/Applications/Kavo Helper.app", home);
        std::filesystem::create_directories(
            std::filesystem::path(made.paths().manifestURL()).parent_path());
        return made;
    }();
    return companion;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const brindle::CompanionInstaller& companion = installer();
    std::ofstream(companion.paths().manifestURL(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    (void)companion.connectionState();
    return 0;
}
