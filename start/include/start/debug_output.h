// What the start program tells support, for a debugger or a capture tool: it
// writes nothing anywhere else.
#pragma once

#include <string>

namespace kes {

// OutputDebugStringA of "[KestrelwoodStart] ", the line (UTF-8) and a line feed.
void writeDebugLine(const std::string& line);

}  // namespace kes
