#pragma once

#include "Platform/Processes.h"
#include "ResourceSourceHost/Dispatcher.h"
#include "ResourceSourceHost/HostLoop.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/object.hpp>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindle::testing {

using boost::json::object;
/// Messages to or from the host, in order.
using Messages = std::vector<object>;

/// The JSON object `text` spells.
object json(std::string_view text);

/// One framed message: 4-byte little-endian length, then the body.
std::string frame(const std::string& body);
std::string frameLength(uint32_t length);
std::string frameJSON(const object& message);

/// Splits a stream of framed replies; a trailing partial frame fails the current test.
Messages parseFrames(const std::string& stream);

struct ProcessResult {
    int exitStatus = -1; // -1 when the process did not exit normally
    int terminatingSignal = 0;
    std::string standardOutput;
    std::string standardError;
};

struct ProcessOptions {
    std::vector<std::string> arguments;             // argv[1...]
    std::map<std::string, std::string> environment; // added to (or replacing) the test's own
    bool closeStandardOutput = false; // stdout is a pipe whose reading end is already closed
};

/// A pipe's reading and writing ends, closed on exec.
std::pair<platform::FileDescriptor, platform::FileDescriptor> makePipe();

/// Runs `program` with `input` on its standard input and waits for it.
ProcessResult runProcess(const std::string& program, const std::string& input,
                         const ProcessOptions& options = {});

/// Starts the built brindle-host on the given standard input and output, without waiting.
platform::ChildProcess startHost(int input, int output, const ProcessOptions& options = {});

/// Runs the built brindle-host on `input` and returns its replies, checking that it exited 0 and
/// wrote nothing to standard error.
Messages hostReplies(const std::string& input, const ProcessOptions& options = {});

/// The same with the given requests.
Messages exchange(const Messages& requests, const ProcessOptions& options = {});

/// Requests that stream `bytes` under `id` in one chunk.
std::string base64Text(std::string_view bytes);

// A begin and an append for each piece of `chunkBytes`.
Messages uploadRequests(const std::string& id, const std::string& bytes,
                        size_t chunkBytes = std::string::npos);

/// A commit of the upload `id` into `folder` as `name`, with a source URL, and `extra`.
object commitRequest(const std::string& id, size_t bytes, int chunks, const std::string& folder,
                     const std::string& name, object extra = {});

/// The built host on pipes, staying up between requests; killed when the session goes.
class HostSession {
public:
    explicit HostSession(const ProcessOptions& options = {});

    void send(const object& request);
    object receive();
    object ask(const object& request);

    platform::ChildProcess& process() { return *process_; }

private:
    platform::FileDescriptor toHost_, fromHost_;
    std::optional<platform::ChildProcess> process_;
};

/// Runs the host's request loop in this process on `input` and returns its replies; `handler`
/// stands in for the real dispatcher when given.
Messages runHostLoop(const std::string& input, const RequestHandler& handler = handle);

} // namespace brindle::testing
