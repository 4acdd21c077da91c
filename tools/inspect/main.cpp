// kes-inspect: shows which launcher KestrelwoodStart.exe in a folder would
// start, and why every other executable there is passed over. It runs the
// start program's own selection code, so the two cannot disagree.
//
//   kes-inspect [FOLDER | START_PROGRAM] [--json]
//   kes-inspect --key FILE
//
// FOLDER defaults to the current folder; the start program is then taken to
// be FOLDER\KestrelwoodStart.exe. Given the path of a start program instead,
// it inspects that program's folder. Exit code: 0 when a launcher would be
// started, 1 when none would, 2 on a bad argument or an unreadable folder.
// With --key, it prints the key digest of FILE's signer, as KesPublisherKeys
// takes it: exit code 0, or 1 when FILE is not signed or its signature does
// not hold, 2 when it cannot be read.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "common/app_identity.h"
#include "common/command_line.h"
#include "common/encoding.h"
#include "common/held_launcher.h"
#include "common/launcher_family.h"
#include "common/launcher_judgement.h"
#include "common/machine_support.h"
#include "common/number_text.h"
#include "common/publisher_check.h"
#include "common/publisher_keys.h"
#include "common/sibling_executables.h"
#include "common/start_options.h"
#include "common/version_info.h"
#include "start/box_text.h"
#include "start/launcher_selection.h"

namespace {

constexpr char kTable[] = KES_VERSION_STRING_TABLE;
constexpr char kKey[] = KES_LAUNCHER_ID_KEY;
constexpr wchar_t kKeyW[] = L"" KES_LAUNCHER_ID_KEY;

struct Options {
    std::wstring target = L".";
    bool json = false;
    bool key = false;  // --key FILE: target is the file
    bool valid = true;
};

Options parseOptions(int argc, wchar_t** argv) {
    Options options;
    bool haveTarget = false;
    if (argc >= 2 && std::wstring(argv[1]) == L"--key") {
        options.key = true;
        options.valid = argc == 3;
        options.target = argc == 3 ? argv[2] : L"";
        return options;
    }
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--json") {
            options.json = true;
        } else if (arg.rfind(L"--", 0) == 0 || haveTarget) {
            options.valid = false;
        } else {
            options.target = arg;
            haveTarget = true;
        }
    }
    return options;
}

std::string utf8(const std::wstring& wide) {
    return kes::wideToUtf8(wide.data(), wide.size());
}

// The folder and the start program that the inspection is about; empty
// folder when the target does not exist.
struct Place {
    std::wstring folder;
    std::wstring startProgram;
};

Place placeOf(const std::wstring& target) {
    Place place;
    wchar_t full[32768];
    const DWORD n = GetFullPathNameW(target.c_str(), 32768, full, nullptr);
    const DWORD attributes = n > 0 && n < 32768 ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return place;
    }
    std::wstring path(full, n);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        place.startProgram = path;
        place.folder = path.substr(0, path.find_last_of(L"\\/"));
        return place;
    }
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    place.folder = path;
    place.startProgram = path + L"\\KestrelwoodStart.exe";
    return place;
}

// A string of the version block, as stored (a terminating NUL included),
// clamped to the block; `found` false when the table has no such key.
std::wstring versionString(const kes::VersionBlock& block, const std::string& table, const wchar_t* key,
                           bool& found) {
    const std::wstring query = L"\\StringFileInfo\\" + kes::utf8ToWide(table) + L"\\" + key;
    unsigned count = 0;
    const auto* text = static_cast<const wchar_t*>(kes::findVersionValue(block, query.c_str(), sizeof(wchar_t), count));
    found = text != nullptr;
    return found ? std::wstring(text, count) : std::wstring();
}

// The string tables that the block's translation list names, and the usual ones.
std::vector<std::string> stringTables(const kes::VersionBlock& block) {
    std::vector<std::string> names = {"040904B0", "000004B0", "000004E4", "080904B0", "080904E4"};
    unsigned count = 0;
    const auto* pairs =
        static_cast<const WORD*>(kes::findVersionValue(block, L"\\VarFileInfo\\Translation", sizeof(WORD), count));
    for (unsigned i = 0; pairs != nullptr && i + 1 < count; i += 2) {
        char name[9];
        std::snprintf(name, sizeof name, "%04X%04X", pairs[i], pairs[i + 1]);
        names.emplace_back(name);
    }
    return names;
}

std::string lowerWithoutBraces(const std::string& text) {
    std::string result;
    for (const char c : text) {
        if (c != '{' && c != '}') {
            result.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
        }
    }
    return result;
}

// Why a file with a version resource is not of the family, in plain words.
std::string explainOtherFamily(const kes::LauncherVersionInfo& info, const kes::VersionBlock& block) {
    const std::string family = kes::kLauncherFamilyId;
    bool found = false;
    const std::wstring raw = versionString(block, kTable, kKeyW, found);
    if (!found) {
        for (const std::string& table : stringTables(block)) {
            bool elsewhere = false;
            versionString(block, table, kKeyW, elsewhere);
            if (elsewhere && table != kTable) {
                return std::string(kKey) + " is in the string table " + table +
                       "; the start program reads it only from the table " + kTable;
            }
        }
        return std::string("no ") + kKey + " in the string table " + kTable + ": not a launcher of the family";
    }
    const std::string& id = info.launcherId;
    if (raw.size() >= 2 && raw[raw.size() - 1] == L'\0' && raw[raw.size() - 2] == L'\0' &&
        id.compare(0, family.size(), family) == 0) {
        return std::string(kKey) + " is stored with two terminating NULs; it must have exactly one";
    }
    if (id.size() > family.size() && id.compare(0, family.size(), family) == 0 &&
        id.find_first_not_of(" \t", family.size()) == std::string::npos) {
        return std::string(kKey) + " has a trailing blank; it must be the family identifier exactly";
    }
    if (id.find_first_not_of(" \t") != std::string::npos && lowerWithoutBraces(id) == lowerWithoutBraces(family)) {
        return std::string(kKey) + " differs from the family identifier in case or braces; it must match exactly, "
               "upper case, without braces";
    }
    if (id.empty()) {
        return std::string(kKey) + " is empty";
    }
    return std::string(kKey) + " belongs to another family";
}

struct FileReport {
    std::string name;
    std::string path;
    bool versioned = false;
    std::string version;
    std::string launcherId;
    std::string verdict;
    std::string note;
    std::string signature;
};

std::string statusText(unsigned long status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", status);
    return text;
}

// A file's Authenticode signature as WinVerifyTrust sees it, judged as a
// pinning program judges it, through one handle.
struct Signature {
    bool checked = false;       // false: the file could not be opened (error says why)
    unsigned long error = 0;
    kes::PublisherCheck check;  // OtherKey: signed, signer is the key
};

Signature signatureOf(const std::wstring& path) {
    Signature signature;
    const kes::UniqueHandle file = kes::makeUniqueFileHandle(CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        signature.error = GetLastError();
        return signature;
    }
    signature.checked = true;
    signature.check = kes::checkPublisher(file.get(), path, kes::PublisherKeys{});
    return signature;
}

// "none", "broken (0x80096010)", "signed with key <digest>".
std::string signatureText(const Signature& signature) {
    if (!signature.checked) {
        return "not checked: it cannot be opened (Windows error " + std::to_string(signature.error) + ")";
    }
    const kes::PublisherCheck& check = signature.check;
    switch (check.verdict) {
    case kes::PublisherVerdict::Unsigned:
        return "none";
    case kes::PublisherVerdict::OtherKey:
    case kes::PublisherVerdict::Passed:
        return "signed with key " + kes::digestText(check.signer);
    case kes::PublisherVerdict::Invalid:
        return "broken (" + statusText(static_cast<unsigned long>(check.status)) +
               (check.haveSigner ? ", chain errors " + statusText(check.chainErrors) : std::string()) + ")";
    case kes::PublisherVerdict::PartsDiffer:
        return std::string("broken (") + kes::publisherVerdictText(check.verdict) + ")";
    default:
        return std::string("not checked: ") + kes::publisherVerdictText(check.verdict);
    }
}

// What the signature column says of a file: only a whole PE image is handed
// to the platform's trust checks, as only such a file reaches its version
// calls.
std::string signatureColumn(const kes::Candidate& candidate) {
    switch (candidate.kind) {
    case kes::CandidateKind::NotAnImage:
        return "none";
    case kes::CandidateKind::Unreadable:
    case kes::CandidateKind::Damaged:
        return "not checked: the file is unreadable or damaged";
    default:
        return signatureText(signatureOf(candidate.path));
    }
}

// The size the file system gives for the file (the layout check never asks).
std::uint64_t fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// "41,984": a byte count as a person reads it.
std::string groupedDigits(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
}

std::string damageNote(const kes::Candidate& candidate) {
    switch (candidate.layout.verdict) {
    case kes::LayoutVerdict::CutShort:
        return "cut short: " + groupedDigits(fileSize(candidate.path)) + " of " +
               groupedDigits(candidate.layout.imageBytes) + " bytes";
    case kes::LayoutVerdict::OverBudget:
        return "resource directory too large to check: it asks for more entries, directories or reads than any "
               "linker writes, so it is skipped unread";
    default:
        return "its executable layout is damaged (a header, section or resource entry points outside the file): "
               "it is skipped unread";
    }
}

std::string machineName(std::uint16_t machine) {
    switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64:
        return "x64";
    case IMAGE_FILE_MACHINE_I386:
        return "x86";
    case IMAGE_FILE_MACHINE_ARM64:
        return "ARM64";
    case IMAGE_FILE_MACHINE_ARMNT:
        return "ARM";
    default: {
        char text[24];
        std::snprintf(text, sizeof text, "machine 0x%04X", machine);
        return text;
    }
    }
}

// "x64 and x86", "ARM64, x64 and x86".
std::string runnableText(const kes::RunnableMachines& runnable) {
    std::string text;
    for (unsigned i = 0; i < runnable.count; ++i) {
        text += (i == 0 ? "" : i + 1 == runnable.count ? " and " : ", ") + machineName(runnable.machines[i]);
    }
    return text;
}

// What a file that is not a PE image is instead.
std::string notAnImageNote(const kes::LayoutReport& layout) {
    switch (layout.signature) {
    case kes::Signature::None:
        return "not a Windows program image: no MZ header, so no executable at all";
    case kes::Signature::DosOnly:
        return "not a Windows program image: an MZ (DOS) header whose PE header offset lies past the end";
    case kes::Signature::NewExe:
        return "not a Windows program image: an NE executable (16-bit Windows or OS/2)";
    case kes::Signature::LinearExe:
        return "not a Windows program image: an LE or LX executable (a virtual device driver or an OS/2 program)";
    default:
        return "not a Windows program image: an MZ header, but no PE\\0\\0 signature where it points";
    }
}

std::string subsystemName(std::uint16_t subsystem) {
    switch (subsystem) {
    case IMAGE_SUBSYSTEM_NATIVE:
        return "native (a driver or a boot-time program)";
    case IMAGE_SUBSYSTEM_EFI_APPLICATION:
        return "an EFI application";
    case IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER:
    case IMAGE_SUBSYSTEM_EFI_RUNTIME_DRIVER:
        return "an EFI driver";
    case IMAGE_SUBSYSTEM_WINDOWS_BOOT_APPLICATION:
        return "a Windows boot application";
    default:
        return "subsystem " + std::to_string(subsystem);
    }
}

// Why the loader would not start the image as a program.
std::string notAProgramNote(const kes::LayoutReport& layout) {
    if ((layout.characteristics & IMAGE_FILE_DLL) != 0) {
        return "a DLL (its DLL flag is set): Windows does not start it as a program, so it is passed over";
    }
    if ((layout.characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) == 0) {
        return "its executable-image flag is clear: the linker marked it as not runnable, so it is passed over";
    }
    return "built for " + subsystemName(layout.subsystem) +
           ", neither a Windows GUI nor a console program: Windows does not start it here, so it is passed over";
}

// Why a launcher that would have won without pinning was refused.
std::string publisherNote(const kes::PublisherCheck& check) {
    std::string note = std::string("publisher pinning: ") + kes::publisherVerdictText(check.verdict) + " (" +
                       statusText(static_cast<unsigned long>(check.status)) + ")";
    if (check.verdict == kes::PublisherVerdict::OtherKey) {
        note += "; its signer's key digest is " + kes::digestText(check.signer);
    }
    return note + ", so it is passed over";
}

const kes::RefusedLauncher* refusalOf(const std::vector<kes::RefusedLauncher>& refused, const std::wstring& path) {
    for (const kes::RefusedLauncher& refusal : refused) {
        if (refusal.path == path) {
            return &refusal;
        }
    }
    return nullptr;
}

// The start program's own judgement of the file, put in words.
FileReport inspectFile(const std::string& path, const kes::Candidate& candidate, const std::wstring& startProgram,
                       const std::wstring& chosen, std::uint64_t chosenVersion,
                       const std::vector<kes::RefusedLauncher>& refused) {
    FileReport report;
    report.path = path;
    report.name = path.substr(path.find_last_of('\\') + 1);
    const kes::LauncherVersionInfo& info = candidate.info;
    report.versioned = info.valid;
    report.version = kes::versionText(info);
    report.launcherId = info.launcherId;
    switch (candidate.kind) {
    case kes::CandidateKind::Unreadable:
        report.verdict = "unreadable";
        report.note = candidate.layout.error == ERROR_SHARING_VIOLATION
                          ? "another program has it open for writing, or alone (Windows error 32): an update "
                            "still being written is passed over until it is closed"
                          : "cannot be opened for reading (Windows error " + std::to_string(candidate.layout.error) +
                                ")";
        return report;
    case kes::CandidateKind::Damaged:
        report.verdict = "damaged";
        report.note = damageNote(candidate);
        return report;
    case kes::CandidateKind::NotAnImage:
        report.verdict = "not-an-image";
        report.note = notAnImageNote(candidate.layout);
        return report;
    case kes::CandidateKind::NotAProgram:
        report.verdict = "not-a-program";
        report.note = notAProgramNote(candidate.layout);
        return report;
    case kes::CandidateKind::NoVersionResource:
        report.verdict = "no-version-resource";
        report.note = "no version resource with a fixed file version";
        return report;
    case kes::CandidateKind::Self:
        report.verdict = "self";
        report.note = "the running program itself, never chosen";
        return report;
    case kes::CandidateKind::OtherFamily:
        // The start program carries an identifier of its own; only here, in
        // the explanation, is it told apart from other programs.
        if (kes::isSameFile(startProgram, candidate.path)) {
            report.verdict = "self";
            report.note = "the start program itself, never chosen";
            return report;
        }
        report.verdict = "other-family";
        report.note = explainOtherFamily(info, kes::readVersionBlock(path));
        return report;
    case kes::CandidateKind::OtherMachine:
        report.verdict = "other-machine";
        report.note = "built for " + machineName(candidate.layout.machine) + "; this computer runs " +
                      runnableText(kes::runnableMachines()) + ": it is passed over";
        return report;
    case kes::CandidateKind::Launcher:
        break;
    }
    if (candidate.path == chosen) {
        report.verdict = "chosen";
    } else if (const kes::RefusedLauncher* refusal = refusalOf(refused, candidate.path)) {
        // It would have won, and was checked: its signature did not pass.
        report.verdict = "publisher-refused";
        report.note = publisherNote(refusal->check);
        return report;
    } else if (info.packed < chosenVersion) {
        report.verdict = "older";
    } else {
        report.verdict = "tie-lost";
        report.note = "same version as the chosen launcher, whose path sorts first";
    }
    if (info.packed != 0) {
        return report;
    }
    // A launcher at 0.0.0.0 still counts, but is rarely meant.
    bool found = false;
    std::wstring text = versionString(kes::readVersionBlock(path), kTable, L"FileVersion", found);
    text = text.substr(0, text.find(L'\0'));
    report.note = found && utf8(text) != "0.0.0.0"
                      ? "the fixed file version is 0.0.0.0 while the FileVersion text says " + utf8(text) +
                            "; only the fixed file version counts"
                      : "the fixed file version is 0.0.0.0; only the fixed file version counts, not the version "
                        "text";
    return report;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The start program's pinned keys as JSON: null when it pins none.
std::string keysJson(const kes::PublisherKeys& keys) {
    if (!keys.pinned) {
        return "null";
    }
    std::string text = "[";
    for (std::size_t i = 0; i < keys.keys.size(); ++i) {
        text += (i == 0 ? "" : ", ") + jsonString(kes::digestText(keys.keys[i]));
    }
    return text + "]";
}

// A JSON array of the names, or null when there are none.
std::string namesJson(const std::vector<std::string>& names) {
    if (names.empty()) {
        return "null";
    }
    std::string text = "[";
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : ", ") + jsonString(names[i]);
    }
    return text + "]";
}

void printJson(const Place& place, const std::vector<FileReport>& files, const std::string& chosen,
               const std::string& commandLine, const kes::PublisherKeys& keys, bool waits,
               const std::vector<std::wstring>& order, const std::vector<std::string>& languages) {
    std::printf("{\n  \"folder\": %s,\n  \"startProgram\": %s,\n  \"identity\": %s,\n  \"publisherKeys\": %s,"
                "\n  \"waits\": %s,\n  \"files\": [",
                jsonString(utf8(place.folder)).c_str(), jsonString(utf8(place.startProgram)).c_str(),
                jsonString(utf8(kes::makeAppUserModelId(place.folder))).c_str(), keysJson(keys).c_str(),
                waits ? "true" : "false");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const FileReport& f = files[i];
        std::printf("%s\n    {\"name\": %s, \"path\": %s, \"fileVersion\": %s, \"launcherId\": %s, "
                    "\"verdict\": %s, \"note\": %s, \"signature\": %s}",
                    i == 0 ? "" : ",", jsonString(f.name).c_str(), jsonString(f.path).c_str(),
                    f.versioned ? jsonString(f.version).c_str() : "null",
                    f.versioned ? jsonString(f.launcherId).c_str() : "null", jsonString(f.verdict).c_str(),
                    jsonString(f.note).c_str(), jsonString(f.signature).c_str());
    }
    std::string tried = waits ? "[" : "null";
    for (std::size_t i = 0; waits && i < order.size(); ++i) {
        tried += (i == 0 ? "" : ", ") + jsonString(utf8(order[i]));
    }
    std::printf("\n  ],\n  \"chosen\": %s,\n  \"commandLine\": %s,\n  \"tryOrder\": %s,\n  \"languages\": %s\n}\n",
                chosen.empty() ? "null" : jsonString(chosen).c_str(),
                chosen.empty() ? "null" : jsonString(commandLine).c_str(), (waits ? tried + "]" : tried).c_str(),
                namesJson(languages).c_str());
}

void printText(const Place& place, const std::vector<FileReport>& files, const std::string& chosen,
               const std::string& commandLine, const kes::PublisherKeys& keys, bool startProgramReadable, bool waits,
               const std::vector<std::wstring>& order, const std::vector<std::string>& languages) {
    // What an installer writes into a shortcut's System.AppUserModel.ID, so
    // that the start program's and the launchers' windows group with it.
    std::printf("Folder: %s\nIdentity: %s\n", utf8(place.folder).c_str(),
                utf8(kes::makeAppUserModelId(place.folder)).c_str());
    if (!startProgramReadable) {
        std::printf("Publisher keys: the start program's version block cannot be read: it starts no launcher\n");
    } else if (keys.pinned) {
        std::printf("Publisher keys: the start program starts only launchers signed with %s\n",
                    keys.keys.empty() ? "one of no key at all (its list holds no valid digest): it starts none"
                                      : "one of these keys:");
        for (const kes::KeyDigest& key : keys.keys) {
            std::printf("  %s\n", kes::digestText(key).c_str());
        }
    }
    if (!languages.empty()) {
        std::string list;
        for (const std::string& name : languages) {
            list += (list.empty() ? "" : ", ") + name;
        }
        std::printf("Languages of its boxes: %s\n", list.c_str());
    }
    std::printf("Waits: %s\n\n", waits ? "yes: the start program stays until the launcher's process tree has ended, "
                                          "ends with the game's exit code, and starts the next launcher when the "
                                          "newest cannot load"
                                        : "no: the start program starts the launcher and ends at once");
    for (const FileReport& f : files) {
        std::printf("  %-32s %-24s %-38s %s%s%s\n", f.name.c_str(), f.versioned ? f.version.c_str() : "-",
                    f.versioned ? (f.launcherId.empty() ? "(no " KES_LAUNCHER_ID_KEY ")" : f.launcherId.c_str()) : "-",
                    f.verdict.c_str(), f.note.empty() ? "" : ": ", f.note.c_str());
        std::printf("  %-32s signature: %s\n", "", f.signature.c_str());
    }
    if (files.empty()) {
        std::printf("  (no *.exe files)\n");
    }
    if (chosen.empty()) {
        std::printf("\nKestrelwoodStart.exe here would start no launcher: it would say that the launcher could not "
                    "be found.\n");
        return;
    }
    std::printf("\nKestrelwoodStart.exe here would start %s\nwith the command line %s, followed by the player's "
                "arguments, each quoted.\n",
                chosen.c_str(), commandLine.c_str());    if (!waits) {
        return;
    }
    std::printf("\nIt tries the launchers in this order, the next when one cannot be started, cannot load or "
                "crashes at start:\n");
    for (std::size_t i = 0; i < order.size(); ++i) {
        std::printf("  %zu. %s  (%s)\n", i + 1, utf8(order[i]).c_str(),
                    i == 0 ? "first: the player's arguments"
                           : "the player's arguments, then " KES_SKIP_SELF_UPDATE_FLAG);
    }
}

// The launchers in the order in which the waiting start program would try
// them until one runs: the selection's order; with pinning, only those whose
// signature passes now. The first gets the player's arguments, each after it
// the skip flag too.
std::vector<std::wstring> tryOrder(const std::vector<kes::Candidate>& judged, const kes::PublisherKeys& keys) {
    std::vector<std::wstring> order;
    for (const kes::Candidate* launcher = kes::nextLauncher(judged, nullptr); launcher != nullptr;
         launcher = kes::nextLauncher(judged, launcher)) {
        kes::UniqueHandle held;
        if (!keys.pinned || kes::holdAndCheckLauncher(*launcher, keys, held).verdict == kes::PublisherVerdict::Passed) {
            order.push_back(launcher->path);
        }
    }
    return order;
}

struct LibraryFreer {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using UniqueLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

// The start program's image loaded as a data file for its resources alone
// (nothing of it runs), once the layout check has passed it as it passes any
// file before the platform's loader reads it. Null when it cannot be.
UniqueLibrary startProgramResources(const std::wstring& path) {
    if (kes::checkExecutableLayout(utf8(path)).verdict != kes::LayoutVerdict::Readable) {
        return nullptr;
    }
    return UniqueLibrary(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

// The start program's version block as the start program itself reads it,
// from its image's resources.
kes::VersionBlock startProgramVersionBlock(const std::wstring& path) {
    const UniqueLibrary image = startProgramResources(path);
    return image ? std::move(kes::readModuleVersionBlock(image.get()).block) : kes::VersionBlock();
}

// The languages of the start program's warning boxes, as locale names
// (en-US first); none when there is no start program or it cannot be read.
std::vector<std::string> startProgramLanguages(const std::wstring& path) {
    const UniqueLibrary image = startProgramResources(path);
    if (!image) {
        return {};
    }
    std::vector<std::string> names;
    for (const LANGID language : kes::boxTextLanguages(image.get())) {
        wchar_t name[LOCALE_NAME_MAX_LENGTH];
        const int n = LCIDToLocaleName(MAKELCID(language, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0);
        names.push_back(n > 1 ? utf8(std::wstring(name, static_cast<std::size_t>(n - 1)))
                              : "0x" + utf8(kes::unsignedToText(language, 16, 4)));
    }
    return names;
}

// --key FILE: the digest that KesPublisherKeys takes for FILE's signer.
int printKey(const std::wstring& target) {
    const Signature signature = signatureOf(target);
    if (!signature.checked) {
        std::fprintf(stderr, "kes-inspect: cannot open %s (Windows error %lu)\n", utf8(target).c_str(),
                     signature.error);
        return 2;
    }
    const kes::PublisherCheck& check = signature.check;
    if (check.verdict == kes::PublisherVerdict::OtherKey) {
        std::printf("%s\n", kes::digestText(check.signer).c_str());
        return 0;
    }
    if (check.verdict == kes::PublisherVerdict::Unsigned) {
        std::fprintf(stderr, "kes-inspect: %s is not signed (%s): it has no key to pin\n", utf8(target).c_str(),
                     statusText(static_cast<unsigned long>(check.status)).c_str());
    } else {
        std::fprintf(stderr, "kes-inspect: the signature of %s does not hold: %s: no key to pin\n",
                     utf8(target).c_str(), signatureText(signature).c_str());
    }
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    const Options options = parseOptions(argc, argv);
    if (!options.valid) {
        std::fputs("usage: kes-inspect [FOLDER | START_PROGRAM] [--json]\n       kes-inspect --key FILE\n", stderr);
        return 2;
    }
    if (options.key) {
        return printKey(options.target);
    }
    const Place place = placeOf(options.target);
    if (place.folder.empty()) {
        std::fprintf(stderr, "kes-inspect: cannot read %s\n", utf8(options.target).c_str());
        return 2;
    }
    // The start program's own steps: list the folder, then select, keeping
    // the judgement of every file.
    const std::vector<std::string> candidates = kes::listSiblingExecutables(utf8(place.folder));
    const std::vector<kes::Candidate> judged = kes::judgeCandidates(candidates, place.startProgram);
    const kes::Candidate* newest = kes::nextLauncher(judged, nullptr);
    std::wstring chosen = newest != nullptr ? newest->path : std::wstring();
    // A start program that pins publisher keys: its own choice among the
    // launchers whose signature passes. One whose version block cannot be
    // read starts nothing; without a start program, the folder is shown as
    // one without pinning would see it.
    const bool startProgramThere = GetFileAttributesW(place.startProgram.c_str()) != INVALID_FILE_ATTRIBUTES;
    const kes::VersionBlock startBlock = startProgramVersionBlock(place.startProgram);
    const bool startProgramReadable = !startProgramThere || kes::launcherVersionInfoOf(startBlock).valid;
    const kes::PublisherKeys keys = kes::publisherKeysOf(startBlock);
    kes::PublishedLauncher published;
    if (!startProgramReadable) {
        chosen.clear();
    } else if (keys.pinned) {
        published = kes::choosePublishedLauncher(judged, keys);
        chosen = published.path;
    }
    std::uint64_t chosenVersion = 0;
    for (const kes::Candidate& candidate : judged) {
        if (candidate.path == chosen) {
            chosenVersion = candidate.info.packed;
        }
    }
    std::vector<FileReport> files;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        files.push_back(
            inspectFile(candidates[i], judged[i], place.startProgram, chosen, chosenVersion, published.refused));
        files.back().signature = signatureColumn(judged[i]);
    }
    const std::string chosenText = utf8(chosen);
    const std::string commandLine = chosen.empty() ? "" : utf8(kes::quoteCommandLineArg(chosen));
    const bool waits = kes::waitsForLauncher(startBlock);
    const std::vector<std::wstring> order =
        waits && startProgramReadable ? tryOrder(judged, keys) : std::vector<std::wstring>();
    if (options.json) {
        printJson(place, files, chosenText, commandLine, keys, waits, order, startProgramLanguages(place.startProgram));
    } else {
        printText(place, files, chosenText, commandLine, keys, startProgramReadable, waits, order,
                  startProgramLanguages(place.startProgram));
    }
    return chosen.empty() ? 1 : 0;
}
