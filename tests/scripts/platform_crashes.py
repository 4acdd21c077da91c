#!/usr/bin/env python3
"""Finds the corpus files on which reading the version resource faults, and
shows from Wine's crash reports that the faulting code is the platform's, not
the project's. Reads the whole corpus with version_probe.exe (the project's
readLauncherVersionInfo in a process of its own) several times, moving on
past each file that crashes it. Writes the list to corpus/platform-crashes.txt
for the robustness tests and fails if any crash is in the project's code."""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kestrelwood_testlib as kt  # noqa: E402

CORPUS = os.path.join(kt.BIN, "corpus")
PROBE = os.path.join(kt.BIN, "version_probe.exe")
PASSES = 4
PLATFORM_MODULES = ("ntdll", "kernelbase", "kernel32", "version")


def main():
    names = sorted(n for n in os.listdir(CORPUS) if n.endswith(".exe"))
    crashes = {}  # name -> top frames
    ours = []
    for _ in range(PASSES):
        remaining = [n for n in names if n not in crashes]
        while remaining:
            code, out, err = kt.run_wine(PROBE, [kt.windows_path(os.path.join(CORPUS, n)) for n in remaining],
                                         timeout=600)
            done = out.decode("utf-8", "replace").replace("\r", "")
            read = re.findall(r"^reading .*\\([^\\\n]+)$", done, re.M)
            if code == 0:
                break
            crashed = read[-1]
            report = (err + out).decode("utf-8", "replace")
            frames = re.findall(r"^(?:=>)?\s*[01] 0x[0-9a-f]+ (.*)$", report, re.M)[:2]
            modules = [re.search(r" in (\S+) ", f + " ") for f in frames]
            modules = [m.group(1) for m in modules if m]
            crashes[crashed] = frames
            if not modules or any(m not in PLATFORM_MODULES for m in modules):
                ours.append(crashed)
            remaining = remaining[remaining.index(crashed) + 1:]
    with open(os.path.join(CORPUS, "platform-crashes.txt"), "w") as f:
        for name in sorted(crashes):
            f.write(name + "\n")
    print(f"corpus: {len(names)} files, read {PASSES} times; faults while reading: {len(crashes)}")
    for name in sorted(crashes):
        print(f"  {name}")
        for frame in crashes[name]:
            print(f"      {re.sub(r'[(].*?[)]', '()', frame)[:160]}")
    if ours:
        print("FAIL: faults outside the platform's modules:", ", ".join(ours))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
