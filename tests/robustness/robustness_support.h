// A game folder for the robustness tests: the start program, launchers of the
// family at 1.0.0.0 (L10.exe and the reference launcher Ref10.exe) and
// 1.2.0.0 (L12.exe), plus whatever a test adds. What may happen there comes
// from what the test put in the folder (for corpus files, from the
// generator's own record of what it wrote), never from the reader under test.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kes::test {

// What the corpus generator knows of one file it wrote.
struct CorpusFile {
    bool mayCount = false;  // still holds the family identifier
    bool mayWin = false;    // may also read as newer than L12.exe
};

// The generator's record of every corpus file, by name.
std::map<std::wstring, CorpusFile> corpusExpectations();

// The acceptable outcomes in one folder.
struct Expectation {
    std::set<std::wstring> winners{L"L12.exe"};  // names any one of which may be started
    int minCount = 2;                             // siblings of the family the scan counts
    int maxCount = 2;

    void add(const std::wstring& name, const CorpusFile& file);
};

struct HostileFolder {
    std::wstring dir;

    explicit HostileFolder(const std::wstring& folder);

    // Runs KestrelwoodStart.exe: it must exit by itself with 0 and start one
    // of the expected launchers.
    void checkStartProgram(const std::string& label, const Expectation& expected) const;

    // Runs the reference launcher under the capture tool: it must count the
    // siblings of the family and hand over to one of the expected launchers.
    void checkSelfUpdate(const std::string& label, const Expectation& expected) const;

    void clearRecords() const;
};

// The debug-output writes recorded by kes-debug-capture --framed.
std::vector<std::string> readFramedWrites(const std::wstring& path);

// Joins tag / message / line-feed triples into messages.
std::vector<std::string> logMessages(const std::vector<std::string>& writes);

}  // namespace kes::test
