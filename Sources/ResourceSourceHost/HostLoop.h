#pragma once

#include <boost/json/object.hpp>

#include <exception>
#include <functional>

namespace brindle {

/// The reply for a failed request: "ok" false, the error's message, its stage and retry flag
/// when it has them, and the request's own "requestId" when it names one.
boost::json::object errorReply(std::exception_ptr error, const boost::json::object* request);

class DirectSaveUploadStore;

using RequestHandler =
    std::function<boost::json::object(const boost::json::object&, DirectSaveUploadStore&)>;

/// Reads, dispatches and answers requests one at a time until the input ends or the channel
/// fails, or the process is asked to end (SIGTERM, SIGINT, SIGHUP). Returns the process exit
/// status, which is always 0.
int runHost(int inputFd, int outputFd);
/// The same loop inside a program of its own, whose signals it leaves alone.
int runHost(int inputFd, int outputFd, const RequestHandler& handler);

} // namespace brindle
