#!/usr/bin/env python3
"""Measures KestrelwoodStart.exe under Wine: its size and imports, the cost of
the launcher selection per candidate against the platform's floor, and the
whole hand-off time against a program that starts the launcher directly.
Prints a table and writes it to bench/results.md."""
import datetime
import os
import platform
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "scripts"))
import kestrelwood_testlib as kt  # noqa: E402

import pefile  # noqa: E402

WORK = os.path.join(kt.BUILD, "bench-work")  # not "bench": that is CMake's own folder
SIZES = (1, 10, 100, 1000)


def stripped_size(exe):
    copy = os.path.join(WORK, "stripped.exe")
    shutil.copyfile(exe, copy)
    subprocess.run(["x86_64-w64-mingw32-strip", copy], check=True)
    size = os.path.getsize(copy)
    pe = pefile.PE(copy)
    dlls = sorted(e.dll.decode() for e in pe.DIRECTORY_ENTRY_IMPORT)
    pe.close()
    return size, dlls


def make_folder(count):
    """A game folder with `count` launchers of the family (hard links of one
    fixture, so that 1000 of them cost no disk space) and the start program."""
    folder = os.path.join(WORK, f"game{count}")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    source = os.path.join(kt.BIN, "fx_family_1_0_0_0.exe")
    for i in range(count):
        os.link(source, os.path.join(folder, f"Launcher{i:04d}.exe"))
    shutil.copyfile(os.path.join(kt.BIN, "KestrelwoodStart.exe"), os.path.join(folder, "KestrelwoodStart.exe"))
    return folder


def parse(out):
    return {k.decode(): float(v) for k, v in re.findall(rb"(\w+) ([0-9.]+)", out)}


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    rows = []
    size, dlls = stripped_size(os.path.join(kt.BIN, "KestrelwoodStart.exe"))
    size_ok = size <= 64 * 1024 and dlls == ["KERNEL32.dll", "msvcrt.dll"]

    folders = {n: make_folder(n) for n in SIZES}
    selection = {}
    for n in (10, 100, 1000):
        reps = max(5, 2000 // n)
        code, out, err = kt.run_wine(os.path.join(kt.BIN, "selection_bench.exe"),
                                     [kt.windows_path(folders[n]), str(reps)], timeout=1800)
        if code != 0:
            sys.exit(f"selection_bench failed: {err.decode(errors='replace')[-500:]}")
        selection[n] = parse(out)

    handoff = {}
    for n in SIZES:
        folder = folders[n]
        start = kt.windows_path(os.path.join(folder, "KestrelwoodStart.exe"))
        direct = kt.windows_path(os.path.join(kt.BIN, "direct_launch.exe"))
        launcher = kt.windows_path(os.path.join(folder, "Launcher0000.exe"))
        runs = 9 if n < 1000 else 5
        code, out, err = kt.run_wine(os.path.join(kt.BIN, "handoff_bench.exe"),
                                     [str(runs), start, "-", direct, launcher], timeout=1800)
        if code != 0:
            sys.exit(f"handoff_bench failed: {err.decode(errors='replace')[-500:]}")
        handoff[n] = parse(out)

    lines = []
    lines.append(f"Measured {datetime.date.today().isoformat()} on {platform.machine()} "
                 f"({os.cpu_count()} cores), Linux {platform.release()}, "
                 f"{subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()}.")
    lines.append("")
    lines.append("| Figure | Measured | Target | Met |")
    lines.append("|---|---|---|---|")
    lines.append(f"| Stripped size of KestrelwoodStart.exe | {size} bytes ({size / 1024:.1f} KiB) | at most 64 KiB | "
                 f"{'yes' if size <= 65536 else 'no'} |")
    lines.append(f"| Imported DLLs | {', '.join(dlls)} | system DLLs only | {'yes' if size_ok else 'no'} |")
    for n in (10, 100, 1000):
        s, f = selection[n]["selection"], selection[n]["floor"]
        target = "at most 1.10" if n == 1000 else "-"
        met = ("yes" if s / f <= 1.10 else "no") if n == 1000 else "-"
        lines.append(f"| Selection over {n} candidates: per candidate, selection / floor | "
                     f"{s / n * 1e6:.1f} µs / {f / n * 1e6:.1f} µs = {s / f:.3f} | {target} | {met} |")
    for n in SIZES:
        a, b = handoff[n]["a"], handoff[n]["b"]
        target = "at most 1.2" if n == 10 else "-"
        met = ("yes" if a / b <= 1.2 else "no") if n == 10 else "-"
        lines.append(f"| Hand-off with {n} candidates: KestrelwoodStart.exe / direct launch (median wall time) | "
                     f"{a * 1000:.1f} ms / {b * 1000:.1f} ms = {a / b:.3f} | {target} | {met} |")
    per_floor = selection[1000]["floor"] / 1000 * 1000
    extra10 = (handoff[10]["a"] - handoff[10]["b"]) * 1000
    lines.append("")
    lines.append(f"Where the time goes: per candidate the selection spends almost all of its "
                 f"{selection[1000]['selection'] / 1000 * 1000:.2f} ms in the platform's version-resource and "
                 f"path-normalisation calls ({per_floor:.2f} ms of floor; Wine's version library maps each file "
                 f"once to size the resource and again to read it), so our own work is the ratio's excess over 1. "
                 f"The hand-off adds about that floor per candidate to one process creation "
                 f"({extra10:.0f} ms more than the direct launch at 10 candidates); meeting 1.2 at 10 candidates "
                 f"under Wine would need a version read several times cheaper than the two platform calls the "
                 f"selection is built on, for example reading the resource section from one file mapping.")
    text = "\n".join(lines)
    print(text)
    with open(os.path.join(HERE, "results.md"), "w") as f:
        f.write("# Benchmark results\n\n" + text + "\n")
    shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    main()
