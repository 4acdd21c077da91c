// The one judgement of a file as a launcher of the family: the start
// program's selection, kes-inspect, the self-update scan, the landing and the
// pruning all ask it, and read its verdict as they need.
#pragma once

#include <string>

#include "common/pe_layout.h"
#include "common/publisher_keys.h"
#include "common/version_info.h"

namespace kes {

// In the order the judgement makes them; the first that applies is the answer.
enum class CandidateKind {
    Self,               // the running program, by the caller's self test
    Unreadable,         // it cannot be opened or read (layout.error says why)
    Damaged,            // the layout check rejects it (layout.verdict says why)
    NotAnImage,         // no whole PE signature (layout.signature says what it has)
    NotAProgram,        // a PE image that the loader will not start as a program:
                        // a DLL, or neither a Windows GUI nor a console program
    NoVersionResource,  // no version resource with a full fixed file version
    OtherFamily,        // a version resource without the family's identifier
    OtherMachine,       // a launcher of the family built for a machine this computer
                        // cannot run (layout.machine)
    Launcher,           // a launcher of the family, which may be chosen
};

struct Candidate {
    CandidateKind kind = CandidateKind::Unreadable;
    std::wstring path;          // UTF-16, as it would be started
    LayoutReport layout;        // what the layout check found
    LauncherVersionInfo info;   // from NoVersionResource on: what the version resource says
    PublisherKeys keys;         // from OtherFamily on: the keys its own version resource pins
};

// How a caller tells the running program from the files beside it.
struct SelfTest {
    enum class Rule {
        None,        // nothing is the running program (a download being landed)
        SamePath,    // the same UTF-8 text apart from case, tested before
                     // anything is read: the self-update routine's rule
        SameFile,    // the same normalised path, tested only for a launcher of
                     // the family: the start program's rule, whose two path
                     // normalisations only the family's launchers cost
    };
    Rule rule = Rule::None;
    std::string path;       // SamePath: the running program's UTF-8 path
    std::wstring widePath;  // SameFile: its UTF-16 path
};

// The check that runs before a candidate's version resource is read;
// checkExecutableLayout, but for the benchmark, which measures the
// selection without it.
using LayoutCheck = LayoutReport (*)(const std::string& path);

// The self test by SamePath, then the layout check, whether the loader would
// start it, the version resource and the family identifier, the self test by
// SameFile, and the machine last. Only a Readable image that starts as a
// program reaches the platform's version library.
Candidate judgeCandidate(const std::string& path, const SelfTest& self,
                         LayoutCheck checkLayout = checkExecutableLayout);

// The same judgement of a file that the caller holds open (read access,
// writers and deleters kept out), all of it through that handle: its layout,
// and its version block (version, family, pinned keys) from the file mapped
// for its resources, never by its path. Nothing is the running program here: the
// caller judged that before it held the file.
Candidate judgeHeldCandidate(void* file, const std::wstring& path);

// Whether a held file's judgement is the launcher's that made it the winner:
// a launcher of the family still, at the same version, for the same machine.
bool isSameLauncher(const Candidate& judged, const Candidate& again);

// The start program's self test: two paths name the same file when their
// normalised forms are the same text; two paths without a normalised form
// count as the same too.
bool isSameFile(const std::wstring& selfPath, const std::wstring& candidate);

// Whether the loader starts the image as a program: not a DLL, marked
// executable, and a Windows GUI or console program.
bool startsAsProgram(const LayoutReport& layout);

}  // namespace kes
