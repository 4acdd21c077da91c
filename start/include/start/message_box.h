// The start program's only way of talking to the player.
#pragma once

#include "start/box_text.h"

namespace kes {

// A warning box with an OK button, captioned "Kestrelwood", with no owner.
void showStartWarning(const wchar_t* text);
// The same with one of the box texts, in the player's language if it has it.
void showStartWarning(BoxText text);

}  // namespace kes
