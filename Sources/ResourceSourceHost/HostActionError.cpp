#include "ResourceSourceHost/HostActionError.h"

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

bool isRetryable(const std::exception& /*error*/, FailureStage stage) {
    switch (stage) {
    case FailureStage::materialize:
    case FailureStage::optimize:
        // The media and image errors that know their own retry flag join here as they arrive.
        return false;
    case FailureStage::upload:
    case FailureStage::metadata:
    case FailureStage::destination:
        return false;
    }
    return false;
}

} // namespace brindle
