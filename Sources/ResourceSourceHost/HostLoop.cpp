#include "ResourceSourceHost/HostLoop.h"

#include "MetadataCore/DirectSaveUploadStore.h"
#include "MetadataCore/DirectoryCreation.h"
#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/Dispatcher.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/HostActionError.h"
#include "ResourceSourceHost/NativeMessaging.h"
#include "ResourceSourceHost/SavePanelLocations.h"

#include <cerrno>
#include <csignal>
#include <optional>

namespace brindle {

namespace {

// Only reached for something that is not an exception at all; the host must still answer.
constexpr const char* unknownErrorMessage = "未知错误";

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return unknownErrorMessage;
    }
}

void writeFinalErrorReply(const std::exception_ptr& error, int outputFd) {
    try {
        writeMessage({{"ok", false}, {"error", describe(error)}}, outputFd);
    } catch (...) {
        // The channel is gone; there is nobody left to tell.
    }
}

} // namespace

boost::json::object errorReply(std::exception_ptr error, const boost::json::object* request) {
    boost::json::object reply{{"ok", false}, {"error", describe(error)}};
    try {
        std::rethrow_exception(error);
    } catch (const HostActionError& actionError) {
        reply["stage"] = rawValue(actionError.stage());
        reply["retryable"] = actionError.retryable();
    } catch (...) {
    }
    if (request != nullptr) {
        if (auto requestId = optionalString("requestId", *request))
            reply["requestId"] = *requestId;
    }
    return reply;
}

int runHost(int inputFd, int outputFd) {
    return runHost(inputFd, outputFd, handle);
}

int runHost(int inputFd, int outputFd, const RequestHandler& handler) {
    std::signal(SIGPIPE, SIG_IGN);
    std::optional<DirectSaveUploadStore> store;
    try {
        const std::optional<std::string> incoming = directSaveIncomingDirectory();
        if (!incoming)
            throw DirectoryCreationError("DirectSave", ENOENT);
        store.emplace(*incoming);
    } catch (...) {
        writeFinalErrorReply(std::current_exception(), outputFd);
        return 0;
    }
    DirectSaveUploadStore& uploadStore = *store;

    while (true) {
        std::optional<boost::json::object> request;
        try {
            request = readMessage(inputFd);
        } catch (...) {
            writeFinalErrorReply(std::current_exception(), outputFd);
            return 0;
        }
        if (!request)
            return 0;

        try {
            writeMessage(handler(*request, uploadStore), outputFd);
            continue;
        } catch (...) {
            try {
                writeMessage(errorReply(std::current_exception(), &*request), outputFd);
            } catch (...) {
                writeFinalErrorReply(std::current_exception(), outputFd);
                return 0;
            }
        }
    }
}

} // namespace brindle
