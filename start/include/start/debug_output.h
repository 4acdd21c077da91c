// What the start program tells support, for a debugger or a capture tool: it
// writes nothing anywhere else.
#pragma once

namespace kes {

// OutputDebugStringA of "[KestrelwoodStart] ", the line formatted as printf
// does (UTF-8 text, at most 1,023 bytes, longer lines cut) and a line feed.
void writeDebugLine(const char* format, ...);

}  // namespace kes
