#pragma once

namespace brindle {

/// Stands in for the store of chunked uploads until direct saves exist: the dispatcher already
/// hands it to every action, and nothing is staged on disk yet.
class DirectSaveUploadStore {};

} // namespace brindle
