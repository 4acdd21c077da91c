#!/usr/bin/env python3
"""Why the layout check exists, and that it holds. Reads the whole corpus with
version_probe.exe straight through the platform's version library, several
times, moving on past each file that crashes it, and shows from Wine's crash
reports that the faulting code is the platform's, never the project's. Then
reads the corpus again through the start program's judgement, in one
process: that pass must never fault, must pass over every file on which the
platform faulted, must give each file the verdict that the generator
recorded for it, where it recorded one, and may take a file for a launcher
of the family (newer than the intact ones) only where the generator says it
may count (win). A platform that no longer faults on any file is reported, not failed."""
import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import kestrelwood_wine as kt  # noqa: E402

CORPUS = os.path.join(kt.BIN, "corpus")
PROBE = os.path.join(kt.BIN, "version_probe.exe")
PASSES = 3
PLATFORM_MODULES = ("ntdll", "kernelbase", "kernel32", "version")


def probe(names, guarded):
    """Runs the probe over `names` (a list file, not a command line: the list
    can be longer than any command line). Returns (exit code, output, report)."""
    with tempfile.NamedTemporaryFile("w", suffix=".txt", dir=kt.DRIVE_C, delete=False, encoding="utf-8") as f:
        f.write("".join(kt.windows_path(os.path.join(CORPUS, n)) + "\n" for n in names))
    try:
        args = (["--guarded"] if guarded else []) + [kt.windows_path(f.name)]
        code, out, err = kt.run_wine(PROBE, args, timeout=600)
    finally:
        os.remove(f.name)
    return code, out.decode("utf-8", "replace").replace("\r", ""), (err + out).decode("utf-8", "replace")


def main():
    names = sorted(n for n in os.listdir(CORPUS) if n.endswith(".exe"))
    with open(os.path.join(CORPUS, "EXPECTED"), encoding="utf-8") as f:
        rows = [line.split() for line in f if line.strip()]
    expected = {row[0]: row[3] for row in rows}
    may = {row[0]: (row[1] == "1", row[2] == "1") for row in rows}
    crashes = {}  # name -> top frames
    ours = []
    for attempt in range(PASSES):
        # Files that are no PE image are read through the platform once: the
        # judgement never hands them to it, and some cost it seconds (an NE
        # file whose resource table claims gigabytes).
        remaining = [n for n in names if n not in crashes and (attempt == 0 or expected[n] != "not-an-image")]
        while remaining:
            code, done, report = probe(remaining, guarded=False)
            read = re.findall(r"^reading .*\\([^\\\n]+)$", done, re.M)
            if code == 0:
                break
            if not read:
                print(f"FAIL: version_probe exited with {code} before reading anything:\n{report[-2000:]}")
                return 1
            crashed = read[-1]
            frames = re.findall(r"^(?:=>)?\s*[01] 0x[0-9a-f]+ (.*)$", report, re.M)[:2]
            modules = [re.search(r" in (\S+) ", f + " ") for f in frames]
            modules = [m.group(1) for m in modules if m]
            crashes[crashed] = frames
            if not modules or any(m not in PLATFORM_MODULES for m in modules):
                ours.append(crashed)
            remaining = remaining[remaining.index(crashed) + 1:]
    print(f"corpus: {len(names)} files, read {PASSES} times through the platform alone; "
          f"faults: {len(crashes)}")
    for name in sorted(crashes):
        print(f"  {name}")
        for frame in crashes[name]:
            print(f"      {re.sub(r'[(].*?[)]', '()', frame)[:160]}")
    if not crashes:
        print("NOTE: the platform's version library no longer faults on any corpus file; "
              "the layout check is kept for platforms that still do")
    failed = False
    if ours:
        print("FAIL: faults outside the platform's modules:", ", ".join(ours))
        failed = True

    for attempt in range(PASSES):
        code, done, report = probe(names, guarded=True)
        if code != 0:
            print(f"FAIL: the guarded read faulted (exit code {code:#x}):\n{report[-2000:]}")
            return 1
        verdicts = dict((name, verdict) for verdict, name in
                        re.findall(r"^skipped (\S+) .*\\([^\\\n]+)$", done, re.M))
        damaged = set(verdicts)
        missed = sorted(set(crashes) - damaged)
        if missed:
            print("FAIL: the layout check let through files on which the platform faults:", ", ".join(missed))
            failed = True
            break
        wrong = [f"{name} ({verdicts.get(name, 'readable')}, not {verdict})" for name, verdict in expected.items()
                 if verdict != "-" and verdicts.get(name, "readable") != verdict]
        if wrong:
            print("FAIL: the judgement's verdict differs from the generator's:", ", ".join(wrong))
            failed = True
            break
        # A launcher of the family, in the start program's judgement, must be
        # one that the generator says may count; above L12.exe's 1.2.0.0, one
        # that may win.
        launchers = re.findall(r"^launcher 1 ([0-9a-f]{16}) \S+ .*\\([^\\\n]+)$", done, re.M)
        wrong = [f"{name} ({int(packed, 16) >> 48}.{int(packed, 16) >> 32 & 0xFFFF}...)" for packed, name in launchers
                 if not may[name][0] or (int(packed, 16) > 0x0001000200000000 and not may[name][1])]
        if wrong:
            print("FAIL: judged a launcher of the family where the generator says it may not count or win:",
                  ", ".join(wrong))
            failed = True
            break
    print(f"guarded: {PASSES} reads of the whole corpus without a fault; "
          f"the judgement passes over {len(damaged)} files unread, among them every file that faulted; "
          f"{sum(v != '-' for v in expected.values())} verdicts as the generator recorded them")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
