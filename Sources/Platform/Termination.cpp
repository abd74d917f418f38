#include "Platform/Processes.h"

#include <csignal>
#include <initializer_list>
#include <sys/signalfd.h>

namespace brindle::platform {
namespace {

int descriptor = -1;

sigset_t terminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, number);
    return signals;
}

} // namespace

void deferTerminationRequests() {
    if (descriptor >= 0)
        return;
    const sigset_t signals = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // The signal is never read from it: it stays pending, so every thread's waits see it.
    descriptor = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

bool terminationRequested() noexcept {
    if (descriptor < 0)
        return false;
    sigset_t pending;
    if (sigpending(&pending) != 0)
        return false;
    return sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1 ||
           sigismember(&pending, SIGHUP) == 1;
}

DescriptorRef terminationDescriptor() noexcept {
    return DescriptorRef::borrowing(descriptor);
}

void throwIfTerminationRequested() {
    if (terminationRequested())
        throw TerminationRequested{};
}

} // namespace brindle::platform
