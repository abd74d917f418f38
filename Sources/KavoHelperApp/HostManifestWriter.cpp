// Prints the host manifest for the companion bundle at the path given, as the build writes it
// for the package's system-wide registration.

#include "CompanionCore/CompanionInstaller.h"

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: kavo-host-manifest <bundle>\n";
        return 2;
    }
    // No home folder is consulted for the manifest: the root stands in for one.
    std::cout << brindle::CompanionInstaller(argv[1], "/").manifestData();
    return std::cout.flush() ? 0 : 1;
}
