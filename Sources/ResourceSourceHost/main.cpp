#include "Platform/ProcessInfo.h"
#include "ResourceSourceHost/HostLoop.h"

#include <unistd.h>

int main(int argc, char** argv) {
    brindle::platform::setProgramArguments(argc, argv);
    return brindle::runHost(STDIN_FILENO, STDOUT_FILENO);
}
