// The host's acceptance of whatever the save-panel application wrote as its response.

#include "SmartSaveUIBridge/SmartSavePanelBridge.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view contents(reinterpret_cast<const char*>(data), size);
    using namespace brindle;
    for (const auto kind :
         {SmartSavePanelKind::chooseDestination, SmartSavePanelKind::chooseLibraryRoot}) {
        try {
            const auto result = SmartSavePanelBridge::acceptedResponse(contents, kind);
            if (result.resultCase() == SmartSavePanelBridgeResult::Case::selected &&
                !result.path().starts_with('/'))
                std::abort();
        } catch (const SmartSavePanelBridgeError&) {
        }
    }
    return 0;
}
