// Reads what an executable's version resource says about it as a launcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kes {

struct LauncherVersionInfo {
    bool valid = false;  // a full-size fixed file version was found
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
    std::uint64_t packed = 0;  // packVersion of the four parts
    std::string launcherId;    // the identifier from the family's string table, UTF-8, no NUL
};

// major:minor:build:revision as one 64-bit value, major in the top 16 bits, so
// that an unsigned comparison of two packed values orders the versions.
constexpr std::uint64_t packVersion(std::uint16_t major, std::uint16_t minor,
                                    std::uint16_t build, std::uint16_t revision) {
    return (std::uint64_t{major} << 48) | (std::uint64_t{minor} << 32) |
           (std::uint64_t{build} << 16) | std::uint64_t{revision};
}

// "major.minor.build.revision", as kes-inspect and the log show a version.
std::string versionText(const LauncherVersionInfo& info);

// Never fails loudly: an unreadable file gives an invalid, all-zero record; a
// readable one without the key gives a valid record with an empty launcherId.
// The platform's version library is loaded from the system folder at the
// first call; when it cannot be, every file reads as unreadable.
LauncherVersionInfo readLauncherVersionInfo(const std::string& path);

// A file's whole version block as the platform's version library returns it.
struct VersionBlock {
    std::unique_ptr<unsigned char[]> bytes;  // the block, then room that queries may overrun
    std::size_t size = 0;                    // the block's own size; 0 when there is none
};

// Empty when the file has no version block or cannot be read.
VersionBlock readVersionBlock(const std::string& path);

// The running program's own version block, from its loaded image rather than
// from the file at its path, which may have been replaced since it started.
// Empty when the image has none (`error` says why).
struct OwnVersionBlock {
    VersionBlock block;
    unsigned long error = 0;  // the Windows error of the resource call that failed
};
OwnVersionBlock readOwnVersionBlock();
// The same read from a module already loaded: an image, or a file loaded as
// a data file for its resources (kes-inspect reads the start program so).
OwnVersionBlock readModuleVersionBlock(void* module);

// The version block of a file that the caller holds open for reading, read
// through that handle (the file mapped for its resources), never by a path, which
// someone may repoint while the file is held: Wine lets another process
// rename a held file's folder. Empty when it cannot be mapped or has none.
VersionBlock readHeldVersionBlock(void* file);

const void* findVersionValue(const VersionBlock& block, const wchar_t* query, std::size_t unitSize, unsigned& count);

// The record of a block already read, for a caller that reads more of it.
LauncherVersionInfo launcherVersionInfoOf(const VersionBlock& block);


}  // namespace kes
