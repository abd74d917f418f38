#pragma once

#include "Support/TemporaryDirectory.h"

#include <string>
#include <utility>
#include <vector>

namespace brindle::testing {

using Names = std::vector<std::pair<std::string, std::string>>;

/// `text` with every occurrence of each name replaced by its value, name by name.
std::string replacing(std::string text, const Names& names);

/// The rows of a table written one a line, their cells separated by "‖" and trimmed of spaces;
/// every row gets `width` cells, those missing empty.
std::vector<std::vector<std::string>> tableRows(const std::string& table, std::size_t width);

/// An Info.plist naming the bundle `identifier` in `contents`, made with its parents.
void writeInfoPropertyList(const std::string& contents, const std::string& identifier);

/// A temporary home folder whose name holds every character a desktop entry must escape and some
/// markup, with a complete companion unpacked in its Downloads folder: its Info.plist, a copy of
/// the built host, the save panel's bundle and three runnable stand-in tools, or when `built` a
/// copy of the bundle the build assembled.
struct CompanionHome {
    explicit CompanionHome(bool built = false);
    /// Copies the unpacked companion into ~/Applications, as a user would.
    void install() const;
    /// `text` with $H, $D, $A, $M and $C standing for the home folder, the unpacked and the
    /// installed companion, Chrome's and Chromium's manifest, $E for the menu entry; $S for a
    /// system root of its own and $P for the companion a package would install there.
    std::string expand(const std::string& text) const { return replacing(text, names()); }
    /// Runs the shell `command` in the home folder with those names set; true when it succeeds.
    bool shell(const std::string& command) const;

    TemporaryDirectory root;
    std::string home = root.file("ho $`\"%\\me a<b>c &amp; d");
    std::string unpacked = home + "/Downloads/Kavo Helper.app";
    std::string installed = home + "/Applications/Kavo Helper.app";
    std::string manifest =
        home + "/.config/google-chrome/NativeMessagingHosts/com.vantle.brindle.json";
    std::string system = root.file("system");

private:
    Names names() const;
};

} // namespace brindle::testing
