// The layout check's walk under libFuzzer, built natively against Wine's
// Windows headers and fed from memory: the same walk that reads a file in the
// start program, the routine and kes-inspect. Beside the sanitizers' reports,
// a finding is an input that costs more reads than the budget allows, more
// than kSlowMs of this thread's time, a verdict that the input's own size
// contradicts, or an input without a whole PE signature (NE, LE, "PE00", an
// MZ stub, anything) that the check would hand to the platform's version
// calls. Its seeds hold such files beside the images.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "pe_layout_walk.h"

namespace {

constexpr double kSlowMs = 10.0;

struct MemorySource {
    const std::uint8_t* data;
    std::size_t size;
    std::uint32_t reads = 0;

    bool read(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& got) {
        ++reads;
        got = 0;
        if (offset < size) {
            const std::size_t left = size - offset;
            got = static_cast<std::uint32_t>(left < count ? left : count);
            std::memcpy(buffer, data + offset, got);
        }
        return true;
    }
};

double threadMs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

[[noreturn]] void finding(const char* what, std::size_t size) {
    std::fprintf(stderr, "layout fuzzer finding: %s (input of %zu bytes)\n", what, size);
    std::abort();
}

// The walk's time on this input: the fastest of up to three walks, since a
// virtual machine's thread now and then gets charged for time it did not
// run, while an input that is really slow is slow every time.
double walkMs(const std::uint8_t* data, std::size_t size) {
    double fastest = 0;
    for (int i = 0; i < 3; ++i) {
        MemorySource source{data, size};
        const double start = threadMs();
        kes::layout::walkExecutableLayout(source);
        const double spent = threadMs() - start;
        fastest = i == 0 || spent < fastest ? spent : fastest;
        if (fastest <= kSlowMs) {
            break;
        }
    }
    return fastest;
}

// Whether the input has "MZ" and, where its e_lfanew points, all four bytes
// of "PE\0\0": what makes a file a PE image, read here on its own.
bool hasPeSignature(const std::uint8_t* data, std::size_t size) {
    if (size < 64 || data[0] != 'M' || data[1] != 'Z') {
        return false;
    }
    std::uint32_t at = 0;
    std::memcpy(&at, data + 0x3C, sizeof at);
    return at <= size && size - at >= 4 && std::memcmp(data + at, "PE\0\0", 4) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemorySource source{data, size};
    const kes::LayoutReport report = kes::layout::walkExecutableLayout(source);
    if (walkMs(data, size) > kSlowMs) {
        finding("slow input", size);
    }
    if (source.reads > kes::layout::kBudget.reads) {
        finding("more reads than the budget", size);
    }
    switch (report.verdict) {
    case kes::LayoutVerdict::Unreadable:
        finding("memory read as unreadable", size);
    case kes::LayoutVerdict::CutShort:
        if (report.imageBytes <= size) {
            finding("cut short of an image that the input holds", size);
        }
        break;
    case kes::LayoutVerdict::Readable:
        if (!hasPeSignature(data, size)) {
            finding("no whole PE signature, yet handed to the platform's version calls", size);
        }
        break;
    case kes::LayoutVerdict::NotAnImage:
        if (hasPeSignature(data, size)) {
            finding("a PE signature, yet not an image", size);
        }
        break;
    case kes::LayoutVerdict::Damaged:
    case kes::LayoutVerdict::OverBudget:
        if (!report.isImage) {
            finding("damaged without PE headers", size);
        }
        break;
    default:
        finding("verdict out of range", size);
    }
    return 0;
}
