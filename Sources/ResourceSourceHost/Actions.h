#pragma once

#include <boost/json/object.hpp>

namespace brindle {

class DirectSaveUploadStore;

// One handler per action; each lives beside the others of its feature.

boost::json::object ping(const boost::json::object& request);

boost::json::object revealFile(const boost::json::object& request);
boost::json::object cancelImageOptimization(const boost::json::object& request);

} // namespace brindle
