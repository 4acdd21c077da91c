// How a launcher was started, written next to it as "<its own path>.started"
// (UTF-16LE fields, each ended by a NUL unit): own path, raw command line,
// current directory, then each argument as CommandLineToArgvW splits it.
// Test fixtures and the reference launcher write it; tests and the demo read it.
#pragma once

#include <string>
#include <vector>

namespace kes {

inline constexpr wchar_t kLaunchRecordSuffix[] = L".started";

// Where the record of the launcher at exePath is kept.
std::wstring launchRecordPath(const std::wstring& exePath);

// Writes the record atomically (temporary name, then rename). Returns false
// when anything fails.
bool writeLaunchRecord();

struct LaunchRecord {
    bool complete = false;  // false: no record, or fewer than three fields
    std::wstring selfPath;
    std::wstring commandLine;
    std::wstring currentDirectory;
    std::vector<std::wstring> args;  // argv[0] included
};

// The record of the launcher at exePath, as it stands now.
LaunchRecord readLaunchRecord(const std::wstring& exePath);

}  // namespace kes
