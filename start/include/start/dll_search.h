// Where the start program may load DLLs from.
#pragma once

namespace kes {

// Restricts where DLLs are loaded from to the system folder. The game folder is
// often writable by the user, so no DLL may ever be taken from it.
void restrictDllSearchToSystem32();

}  // namespace kes
