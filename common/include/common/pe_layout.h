// A bounds-checked look at an executable's layout, made before the platform's
// version library is let loose on it.
#pragma once

#include <string>

namespace kes {

// False when the file is a PE image whose headers, section table or resource
// directory path to the version resource point outside the file or outside
// their section, or when the file cannot be opened for reading: such a file
// drops out like an unreadable one. Some platforms' version libraries copy
// whatever a damaged resource entry claims and fault, so the check runs first.
// True for every intact image, and for a file that is not a PE image at all,
// whose reading stays with the platform.
bool isVersionResourceSafeToRead(const std::string& path);

}  // namespace kes
