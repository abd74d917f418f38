#pragma once

#include <boost/json/object.hpp>

#include <string>

namespace brindle {

class DirectSaveUploadStore;
struct DownloadDestinationMover;

// One handler per action; each lives beside the others of its feature.

boost::json::object ping(const boost::json::object& request);

boost::json::object tagDownload(const boost::json::object& request);

/// The process's one mover, ready before the first request is read; also used by the commit
/// of direct saves.
const DownloadDestinationMover& destinationMover();
boost::json::object moveDownload(const boost::json::object& request);
boost::json::object discardDownload(const boost::json::object& request);

boost::json::object beginDirectSaveUpload(const boost::json::object& request,
                                          DirectSaveUploadStore& uploadStore);
boost::json::object appendDirectSaveUpload(const boost::json::object& request,
                                           DirectSaveUploadStore& uploadStore);
boost::json::object cancelDirectSaveUpload(const boost::json::object& request,
                                           DirectSaveUploadStore& uploadStore);
/// Verifies, prepares and delivers a finished upload; after a conflict or a failure at the
/// destination the prepared file is kept and the same commit only repeats the move.
boost::json::object commitDirectSaveUpload(const boost::json::object& request,
                                           DirectSaveUploadStore& uploadStore);

boost::json::object revealFile(const boost::json::object& request);
boost::json::object cancelImageOptimization(const boost::json::object& request);

boost::json::object optimizeImage(const boost::json::object& request);
boost::json::object materializeDownload(const boost::json::object& request);

boost::json::object chooseSaveDestination(const boost::json::object& request);
boost::json::object activateSaveDestinationPanel(const boost::json::object& request);

} // namespace brindle
