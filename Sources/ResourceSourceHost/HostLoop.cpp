#include "ResourceSourceHost/HostLoop.h"

#include "MetadataCore/DirectSaveUploadStore.h"
#include "MetadataCore/DirectoryCreation.h"
#include "Platform/Processes.h"
#include "ResourceSourceHost/Actions.h"
#include "ResourceSourceHost/Dispatcher.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/HostActionError.h"
#include "ResourceSourceHost/NativeMessaging.h"
#include "ResourceSourceHost/SavePanelLocations.h"

#include <optional>
#include <system_error>

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

bool isPing(const boost::json::object& request) {
    const boost::json::value* action = request.if_contains("action");
    return action != nullptr && action->is_string() && action->get_string() == "ping";
}

// The journal goes last, once the store has removed the uploads that it names.
struct JournalClosing {
    ~JournalClosing() { platform::processJournal::close(); }
};

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

namespace {

// `ownsProcess`: the loop is the whole program, whose signals it may hold back.
int run(int inputFd, int outputFd, const RequestHandler& handler, bool ownsProcess) {
    platform::ignoreBrokenPipeSignals();
    const JournalClosing journalClosing;
    std::optional<DirectSaveUploadStore> store;
    try {
        const std::optional<std::string> incoming = directSaveIncomingDirectory();
        if (!incoming)
            throw DirectoryCreationError("DirectSave", std::errc::no_such_file_or_directory);
        store.emplace(*incoming);
    } catch (...) {
        writeFinalErrorReply(std::current_exception(), outputFd);
        return 0;
    }
    DirectSaveUploadStore& uploadStore = *store;
    bool preparedForWork = false;

    // Asked to end (SIGTERM, SIGINT, SIGHUP), the host ends as at the end of its input: the step
    // under way unwinds, ending its child and removing its temporaries, and the store's uploads
    // go with it. Nobody reads a reply any more.
    while (true) {
        std::optional<boost::json::object> request;
        try {
            request = readMessage(inputFd);
        } catch (const platform::TerminationRequested&) {
            return 0;
        } catch (...) {
            writeFinalErrorReply(std::current_exception(), outputFd);
            return 0;
        }
        if (!request)
            return 0;
        // Before the first request that may start a child, a thread or a file: what dead hosts
        // left is settled, and signals are held back from then on (until then their default
        // action ends the host just as cleanly). A host that only answers "ping", started anew
        // for each probe, is spared both. Only requests start threads, so every thread inherits
        // the held-back signals.
        if (!preparedForWork && !isPing(*request)) {
            if (ownsProcess)
                platform::deferTerminationRequests();
            uploadStore.removeAbandonedUploads();
            platform::processJournal::useFolder(uploadStore.rootURL());
            preparedForWork = true;
        }

        try {
            writeMessage(handler(*request, uploadStore), outputFd);
        } catch (const platform::TerminationRequested&) {
            return 0;
        } catch (...) {
            // A step cut short because the host is ending fails like any other; nobody waits
            // for its reply.
            if (platform::terminationRequested())
                return 0;
            try {
                writeMessage(errorReply(std::current_exception(), &*request), outputFd);
            } catch (...) {
                writeFinalErrorReply(std::current_exception(), outputFd);
                return 0;
            }
        }
        // Between requests nothing noted exists any more but the store's uploads.
        platform::processJournal::forgetAllBut(uploadStore.files());
    }
}

} // namespace

int runHost(int inputFd, int outputFd) {
    return run(inputFd, outputFd, handle, true);
}

int runHost(int inputFd, int outputFd, const RequestHandler& handler) {
    return run(inputFd, outputFd, handler, false);
}

} // namespace brindle
