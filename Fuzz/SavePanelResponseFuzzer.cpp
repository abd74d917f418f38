// The host's acceptance of whatever the save-panel application wrote as its response.

#include "SmartSaveUIBridge/SmartSavePanelBridge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        brindle::SmartSavePanelBridge::acceptedResponse(
            {reinterpret_cast<const char*>(data), size},
            brindle::SmartSavePanelKind::chooseDestination);
    } catch (const brindle::SmartSavePanelBridgeError&) {
    }
    return 0;
}
