#pragma once

#include <array>
#include <string_view>

namespace brindle {

/// Constants shared by the host, the save panel and the companion.
struct KavoProduct {
    static constexpr std::string_view version = "0.8.13";
    static constexpr std::string_view buildNumber = "1";
    static constexpr std::string_view companionName = "Kavo Helper";
    static constexpr std::string_view companionDisplayName = "Kavo助手";
    static constexpr std::string_view companionBundleIdentifier = "com.vantle.kavo.helper";
    static constexpr std::string_view saveUIBundleIdentifier = "com.vantle.brindle.save-ui";
    static constexpr std::string_view nativeHostName = "com.vantle.brindle";
    static constexpr std::string_view nativeHostExecutableName = "brindle-host";
    static constexpr std::string_view productionExtensionID = "pmoihgkcfjbalendpmoihgkcfjbalend";
    static constexpr std::array<std::string_view, 1> allowedExtensionOrigins = {
        "chrome-extension://pmoihgkcfjbalendpmoihgkcfjbalend/"};
};

} // namespace brindle
