// The layout check over real programs: every PE image named on the command
// line (Wine's own programs and libraries, this build's launchers) must be
// Readable, since the platform reads each of them. A file that the check
// refuses, for its size or its layout, is a false refusal. Built natively,
// like the fuzz target, against Wine's Windows headers.
//
//   real_programs FILE...      exit status 1 when any image is refused
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "pe_layout_walk.h"

namespace {

struct MemorySource {
    const std::vector<unsigned char>& data;

    bool read(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& got) {
        got = 0;
        if (offset < data.size()) {
            const std::uint64_t left = data.size() - offset;
            got = static_cast<std::uint32_t>(left < count ? left : count);
            std::memcpy(buffer, data.data() + offset, got);
        }
        return true;
    }
};

std::vector<unsigned char> readAll(const char* path) {
    std::vector<unsigned char> bytes;
    if (FILE* f = std::fopen(path, "rb")) {
        unsigned char chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        std::fclose(f);
    }
    return bytes;
}

const char* verdictName(kes::LayoutVerdict verdict) {
    switch (verdict) {
    case kes::LayoutVerdict::Readable: return "readable";
    case kes::LayoutVerdict::NotAnImage: return "not an image";
    case kes::LayoutVerdict::Unreadable: return "unreadable";
    case kes::LayoutVerdict::Damaged: return "damaged";
    case kes::LayoutVerdict::CutShort: return "cut short";
    case kes::LayoutVerdict::OverBudget: return "over the budget";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    int images = 0;
    int refused = 0;
    for (int i = 1; i < argc; ++i) {
        const std::vector<unsigned char> bytes = readAll(argv[i]);
        MemorySource source{bytes};
        const kes::LayoutReport report = kes::layout::walkExecutableLayout(source);
        if (report.verdict == kes::LayoutVerdict::NotAnImage) {
            continue;  // import libraries and other files beside the programs
        }
        ++images;
        if (report.verdict != kes::LayoutVerdict::Readable) {
            std::printf("refused (%s): %s\n", verdictName(report.verdict), argv[i]);
            ++refused;
        }
    }
    std::printf("%d real PE images walked, %d refused\n", images, refused);
    return refused == 0 && images > 0 ? 0 : 1;
}
