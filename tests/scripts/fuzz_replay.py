#!/usr/bin/env python3
"""The layout check's promise, at scale: every file it passes is safe for the
platform's version calls. The inputs that the layout fuzzer saved (those that
reached new coverage) are read in one process under Wine by version_probe
--guarded, which gives each file that the check passes to
GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW. A fault, or a
file left unread, fails. The sample has a fixed size: when the fuzzer saved
fewer inputs, it is filled up with mutations, at a fixed seed, of the intact
launchers' version blocks and resource directories, which the check passes
and the platform parses.

  fuzz_replay.py [--all]      --all: the whole saved corpus, however large"""
import os
import random
import re
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import kestrelwood_wine as kt  # noqa: E402

import pefile  # noqa: E402

SAMPLE = 2000
SEED = 20261209
SAVED = os.path.join(kt.BUILD, "fuzz", "corpus")
PROBE = os.path.join(kt.BIN, "version_probe.exe")


def mutation_bases():
    """(bytes, region start, region end) of launchers whose resources lie intact."""
    bases = []
    for name in ("fx_family_1_1_0_0.exe", "fx32_family_1_1_0_0.exe", "fx_family_2_0_0_0_debug.exe"):
        data = open(os.path.join(kt.BIN, name), "rb").read()
        pe = pefile.PE(data=data)
        rsrc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
        start = pe.get_offset_from_rva(rsrc.VirtualAddress)
        bases.append((data, start, start + rsrc.Size))
        pe.close()
    return bases


def fill(folder, count):
    rng = random.Random(SEED)
    bases = mutation_bases()
    for i in range(count):
        data, start, end = rng.choice(bases)
        block = bytearray(data)
        for _ in range(rng.randint(1, 12)):
            at = rng.randrange(start, end)
            block[at] = rng.getrandbits(8) if rng.random() < 0.7 else rng.choice((0, 0xFF, block[at] ^ 0x80))
        with open(os.path.join(folder, f"fill_{i:04d}.exe"), "wb") as f:
            f.write(block)


def main(argv):
    whole = argv == ["--all"]
    saved = sorted(os.listdir(SAVED)) if os.path.isdir(SAVED) else []
    chosen = saved if whole else saved[:SAMPLE]
    folder = kt.fresh_dir("fuzz_replay")
    # Named *.exe: without an extension the version library would look for a .dll.
    for i, name in enumerate(chosen):
        os.link(os.path.join(SAVED, name), os.path.join(folder, f"saved_{i:05d}.exe"))
    filled = 0 if whole else max(0, SAMPLE - len(chosen))
    fill(folder, filled)
    names = sorted(os.listdir(folder))
    with tempfile.NamedTemporaryFile("w", suffix=".txt", dir=kt.DRIVE_C, delete=False, encoding="utf-8") as f:
        f.write("".join(kt.windows_path(os.path.join(folder, n)) + "\n" for n in names))
    try:
        code, out, err = kt.run_wine(PROBE, ["--guarded", kt.windows_path(f.name)], timeout=1800)
    finally:
        os.remove(f.name)
    text = out.decode("utf-8", "replace").replace("\r", "")
    read = re.findall(r"^reading ", text, re.M)
    damaged = re.findall(r"^skipped ", text, re.M)
    print(f"replayed {len(names)} files ({len(chosen)} saved by the fuzzer of {len(saved)}, {filled} mutations "
          f"at seed {SEED}): {len(read) - len(damaged)} passed the check and went to the platform's version "
          f"calls, {len(damaged)} rejected")
    if code != 0 or len(read) != len(names):
        last = re.findall(r"^reading (.*)$", text, re.M)
        print(f"FAIL: version_probe ended with {code:#x} after {len(read)} of {len(names)} files; "
              f"the last one it began: {last[-1] if last else '-'}\n{(err + out).decode('utf-8', 'replace')[-3000:]}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
