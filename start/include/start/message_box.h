// The start program's only way of talking to the player.
#pragma once

namespace kes {

// A warning box with an OK button, captioned "Kestrelwood", with no owner.
void showStartWarning(const wchar_t* text);

}  // namespace kes
