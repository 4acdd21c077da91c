#include "start/debug_output.h"

#include <windows.h>

namespace kes {

void writeDebugLine(const std::string& line) {
    OutputDebugStringA(("[KestrelwoodStart] " + line + "\n").c_str());
}

}  // namespace kes
