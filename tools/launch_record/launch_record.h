// How a launcher was started, written next to it as "<its own path>.started"
// (UTF-16LE fields, each ended by a NUL unit): own path, raw command line,
// current directory, then each argument as CommandLineToArgvW splits it.
// Test fixtures and the reference launcher write it; tests and the demo read it.
#pragma once

namespace kes {

// Writes the record atomically (temporary name, then rename). Returns false
// when anything fails.
bool writeLaunchRecord();

}  // namespace kes
