// The application user model identity of an install folder.
#pragma once

#include <string>

namespace kes {

// "Kestrelwood.Launcher.Install" followed by the 16 lower-case hex digits of
// the 64-bit FNV-1a hash of the folder's normalised path: always 44 characters.
std::wstring makeAppUserModelId(const std::wstring& folder);

}  // namespace kes
