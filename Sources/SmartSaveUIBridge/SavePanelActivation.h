#pragma once

// How a second host process brings a waiting save panel to the front, over the user's session
// bus. Shared by the host, which asks, and the save-panel application, which answers.
//
// Every running save panel asks for `busName`, queueing behind any panel that owns it already,
// and exports `activateMethod` at `objectPath`. The host calls it on the current owner without
// starting anything for the name, and once the owner has answered it broadcasts
// `activationRequestedSignal` from the same object path and interface, so that a panel brings
// its window forward whatever its place in the queue.

namespace brindle::savePanelActivation {

inline constexpr char busName[] = "com.vantle.brindle.SaveUI";
inline constexpr char objectPath[] = "/com/vantle/brindle/SaveUI";
inline constexpr char interfaceName[] = "com.vantle.brindle.SaveUI";

/// No arguments, no results: the application makes itself active, then answers.
inline constexpr char activateMethod[] = "Activate";

/// No arguments: the panel puts itself in front on the screen under the pointer.
inline constexpr char activationRequestedSignal[] = "ActivationRequested";

} // namespace brindle::savePanelActivation
