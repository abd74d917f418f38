#pragma once

#include <boost/json/object.hpp>

namespace brindle {

class DirectSaveUploadStore;

/// Runs the action that the request's "action" names (exact, case-sensitive match) and returns
/// its reply. Errors are left to the caller, which turns them into the error reply.
boost::json::object handle(const boost::json::object& request, DirectSaveUploadStore& uploadStore);

} // namespace brindle
