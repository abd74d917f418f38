#pragma once

namespace brindle {

/// Before the application object exists: Qt's file dialog keeps the folders it has shown, shared
/// by every Qt program, in the user's settings, and the panel writes nothing but its response.
void keepUserSettingsUnwritten();

/// Once the application object exists: the folder browser's own texts in the panel's language.
void installPanelTranslations();

} // namespace brindle
