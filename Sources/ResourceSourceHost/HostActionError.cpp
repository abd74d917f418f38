#include "ResourceSourceHost/HostActionError.h"

#include "MetadataCore/ImageOptimizerError.h"
#include "MetadataCore/MediaMaterializerError.h"

namespace brindle {

std::string_view rawValue(FailureStage stage) {
    switch (stage) {
    case FailureStage::upload:
        return "upload";
    case FailureStage::materialize:
        return "materialize";
    case FailureStage::optimize:
        return "optimize";
    case FailureStage::metadata:
        return "metadata";
    case FailureStage::destination:
        return "destination";
    }
    return "upload";
}

bool isRetryable(const std::exception& error, FailureStage stage) {
    switch (stage) {
    case FailureStage::optimize: {
        const auto* imageError = dynamic_cast<const ImageOptimizerError*>(&error);
        return imageError != nullptr && imageError->isRetryable();
    }
    case FailureStage::materialize: {
        const auto* mediaError = dynamic_cast<const MediaMaterializerError*>(&error);
        return mediaError != nullptr && mediaError->isRetryable();
    }
    case FailureStage::upload:
    case FailureStage::metadata:
    case FailureStage::destination:
        return false;
    }
    return false;
}

} // namespace brindle
