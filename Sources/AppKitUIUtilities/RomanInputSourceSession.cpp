#include "AppKitUIUtilities/RomanInputSourceSession.h"

#include "Platform/DesktopServices.h"

namespace brindle {

namespace {

constexpr std::size_t maximumIdentifierBytes = 512;

} // namespace

RomanInputSourceSession::RomanInputSourceSession(Action selectRoman, Action restoreOriginal)
    : selectRomanAction_(std::move(selectRoman)),
      restoreOriginalAction_(std::move(restoreOriginal)) {}

std::shared_ptr<RomanInputSourceSession>
RomanInputSourceSession::make(const std::optional<std::string>& originalInputSourceIdentifier) {
    const auto current = platform::currentKeyboardInputSource();
    if (!current)
        return nullptr;
    const auto roman = platform::currentASCIICapableKeyboardInputSource();
    if (!roman)
        return nullptr;
    const std::string original = inputSource(originalInputSourceIdentifier).value_or(*current);
    return std::make_shared<RomanInputSourceSession>(
        [roman = *roman] { return platform::selectKeyboardInputSource(roman); },
        [original] { return platform::selectKeyboardInputSource(original); });
}

std::optional<std::string>
RomanInputSourceSession::inputSource(const std::optional<std::string>& identifier) {
    if (!identifier || identifier->empty() || identifier->size() > maximumIdentifierBytes ||
        identifier->find('\0') != std::string::npos)
        return std::nullopt;
    return platform::enabledKeyboardInputSource(*identifier);
}

void RomanInputSourceSession::selectRoman() {
    if (selectRomanAction_())
        isRomanSelected_ = true;
}

void RomanInputSourceSession::restoreOriginal() {
    if (isRomanSelected_ && restoreOriginalAction_())
        isRomanSelected_ = false;
}

} // namespace brindle
