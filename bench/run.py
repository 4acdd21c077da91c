#!/usr/bin/env python3
"""Measures KestrelwoodStart.exe under Wine: its size and imports, the cost of
the launcher selection per candidate against the platform's floor, the whole
hand-off time against a program that starts the launcher directly, and what
publisher pinning adds to it with a large signed launcher. Prints a table and
writes it to bench/results.md.

With --smoke, every measurement runs once on the same inputs, nothing is
written, and only a failure is reported: the test command runs it so, so that
a change that breaks the benchmark cannot land."""
import argparse
import datetime
import os
import platform
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
import kestrelwood_wine as kt  # noqa: E402

import pefile  # noqa: E402

# In the prefix's own C: drive: a short path, like a real game folder's.
WORK = os.path.join(kt.DRIVE_C, "kes-bench")
SIZES = (1, 10, 100, 1000)
# How often each figure is measured: (rounds, repetitions) as the full run
# takes them; a smoke run takes each once.
SMOKE = False
# The sizes of the signed launcher beside a pinned and an unpinned start
# program.
SIGNED_MB = (1, 100)


def times(full):
    return 1 if SMOKE else full


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
    fixture, so that 1000 of them cost no disk space), the start program, and
    the direct-launch baseline beside it."""
    folder = os.path.join(WORK, f"game{count}")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    source = os.path.join(kt.BIN, "fx_family_1_0_0_0.exe")
    for i in range(count):
        os.link(source, os.path.join(folder, f"Launcher{i:04d}.exe"))
    for program in ("KestrelwoodStart.exe", "direct_launch.exe"):
        shutil.copyfile(os.path.join(kt.BIN, program), os.path.join(folder, program))
    return folder


def parse(out):
    return {k.decode(): float(v) for k, v in re.findall(rb"^(\w+) ([0-9.]+)\r?$", out, re.M)}


def quantile(values, q):
    """Linear interpolation between the closest ranks."""
    values = sorted(values)
    at = (len(values) - 1) * q
    low = int(at)
    high = min(low + 1, len(values) - 1)
    return values[low] + (values[high] - values[low]) * (at - low)


def percent(x):
    return f"{x * 100:+.1f}%"


def crafted_folders():
    """Two folders beside one launcher (10.0.0.0): one with ten crafted files
    that spend all of the layout check's budget (directories far apart, each
    costing a read), one with ten intact programs of another family."""
    folders = {}
    for kind, source in (("crafted", os.path.join("corpus", "440_crafted_scattered_40_directories.exe")),
                         ("foreign", "fx_other_family.exe")):
        folder = os.path.join(WORK, kind)
        os.makedirs(folder)
        shutil.copyfile(os.path.join(kt.BIN, "fx_family_10_0_0_0.exe"), os.path.join(folder, "Launcher.exe"))
        shutil.copyfile(os.path.join(kt.BIN, "KestrelwoodStart.exe"), os.path.join(folder, "KestrelwoodStart.exe"))
        for i in range(10):
            shutil.copyfile(os.path.join(kt.BIN, source), os.path.join(folder, f"{kind}{i}.exe"))
        folders[kind] = folder
    return folders


def crafted_ratios(rounds=15, reps=21):
    rounds, reps = times(rounds), times(reps)
    """Per round, the median selection over the crafted folder against the one
    over the foreign folder, the two measured in turn."""
    folders = crafted_folders()
    ratios = []
    for r in range(rounds):
        medians = {}
        for kind in (("crafted", "foreign") if r % 2 == 0 else ("foreign", "crafted")):
            code, out, err = kt.run_wine(os.path.join(kt.BIN, "selection_bench.exe"),
                                         [kt.windows_path(folders[kind]), str(reps)], timeout=600)
            if code != 0:
                sys.exit(f"selection_bench failed: {err.decode(errors='replace')[-500:]}")
            medians[kind] = parse(out)["selection"]
        ratios.append((medians["crafted"] / medians["foreign"], medians["crafted"], medians["foreign"]))
    return ratios


def handoff_pairs(folder, runs):
    """Alternated pairs (start program, direct launch) of whole-process wall times."""
    start = kt.windows_path(os.path.join(folder, "KestrelwoodStart.exe"))
    direct = kt.windows_path(os.path.join(folder, "direct_launch.exe"))
    launcher = kt.windows_path(os.path.join(folder, "Launcher0000.exe"))
    code, out, err = kt.run_wine(os.path.join(kt.BIN, "handoff_bench.exe"),
                                 [str(runs), start, "-", direct, f'"{launcher}"'], timeout=3600)
    if code != 0:
        sys.exit(f"handoff_bench failed: {err.decode(errors='replace')[-500:]}")
    return [(float(a), float(b)) for a, b in re.findall(rb"^pair ([0-9.]+) ([0-9.]+)", out, re.M)]


def signed_launcher(megabytes):
    """A launcher of the family of about `megabytes` MB (its image, then zero
    bytes behind it, which its signature covers), signed by the test studio
    as a release would be."""
    padded = os.path.join(WORK, f"padded{megabytes}.exe")
    signed = os.path.join(WORK, f"signed{megabytes}.exe")
    shutil.copyfile(os.path.join(kt.BIN, "fx_pinning_1_0_0_0.exe"), padded)
    with open(padded, "r+b") as f:
        f.truncate(megabytes * 1024 * 1024)
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(kt.KEYS, "studio.cert.pem"),
                    "-key", os.path.join(kt.KEYS, "studio.key.pem"), "-h", "sha256", "-in", padded, "-out", signed],
                   check=True, stdout=subprocess.DEVNULL)
    os.remove(padded)
    return signed


def pinning_pairs(megabytes, runs):
    """Alternated pairs (pinned start program, unpinned start program) of
    whole-process wall times, each beside the same signed launcher."""
    launcher = signed_launcher(megabytes)
    starts = []
    for kind, program in (("pinned", "KestrelwoodStart_pinned.exe"), ("unpinned", "KestrelwoodStart.exe")):
        folder = os.path.join(WORK, f"{kind}{megabytes}")
        os.makedirs(folder)
        os.link(launcher, os.path.join(folder, "Launcher.exe"))
        shutil.copyfile(os.path.join(kt.BIN, program), os.path.join(folder, "KestrelwoodStart.exe"))
        starts.append(kt.windows_path(os.path.join(folder, "KestrelwoodStart.exe")))
    code, out, err = kt.run_wine(os.path.join(kt.BIN, "handoff_bench.exe"),
                                 [str(runs), starts[0], "-", starts[1], "-"], timeout=3600)
    if code != 0:
        sys.exit(f"handoff_bench failed: {err.decode(errors='replace')[-500:]}")
    pairs = [(float(a), float(b)) for a, b in re.findall(rb"^pair ([0-9.]+) ([0-9.]+)", out, re.M)]
    if len(pairs) != runs:
        sys.exit(f"handoff_bench gave {len(pairs)} of {runs} pairs: {out.decode(errors='replace')[-500:]}")
    return pairs


def linux_process(windows_path):
    """The Linux process that runs the Windows program at windows_path."""
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                if f.read().split(b"\0")[0].decode(errors="replace").lower() == windows_path.lower():
                    return entry
        except OSError:
            continue
    return None


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def private_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"^RssAnon:\s+(\d+) kB", f.read(), re.M).group(1))


def waiting_figures(runs, tree_seconds):
    """The start program that stays with the game against the default one:
    start to launch beside one launcher that ends at once, alternated pairs;
    then, while a launcher runs `tree_seconds`, the waiting start program's
    CPU time from outside Wine (Wine's own accounting does not count another
    process's) and its private (anonymous resident) memory."""
    starts = {}
    for kind, program in (("waits", "KestrelwoodStart_waits.exe"), ("default", "KestrelwoodStart.exe")):
        folder = os.path.join(WORK, kind)
        os.makedirs(folder)
        shutil.copyfile(os.path.join(kt.BIN, "fx_family_1_0_0_0.exe"), os.path.join(folder, "Launcher.exe"))
        shutil.copyfile(os.path.join(kt.BIN, program), os.path.join(folder, "KestrelwoodStart.exe"))
        starts[kind] = kt.windows_path(os.path.join(folder, "KestrelwoodStart.exe"))
    code, out, err = kt.run_wine(os.path.join(kt.BIN, "handoff_bench.exe"),
                                 [str(runs), starts["waits"], "-", starts["default"], "-"], timeout=3600)
    if code != 0:
        sys.exit(f"handoff_bench failed: {err.decode(errors='replace')[-500:]}")
    launches = [(float(a), float(b)) for a, b in re.findall(rb"^launch ([0-9.]+) ([0-9.]+)", out, re.M)]
    if len(launches) != runs:
        sys.exit(f"handoff_bench gave {len(launches)} of {runs} launch times")
    # The tree, started the way a player's tool starts the program.
    proc = subprocess.Popen([kt.WINE_RUN, starts["waits"], "--sleep", str(tree_seconds * 1000), "--exit", "0"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    began = time.time()
    pid = None
    while pid is None and time.time() - began < 10:
        pid = linux_process(starts["waits"])
        time.sleep(0.05)
    if pid is None:
        proc.kill()
        sys.exit("the waiting start program was not found among the Linux processes")
    time.sleep(1)
    cpu_then, memory = cpu_seconds(pid), private_kib(pid)
    time.sleep(max(0.1, tree_seconds - 2))
    cpu_now, memory = cpu_seconds(pid), max(memory, private_kib(pid))
    proc.wait(timeout=tree_seconds + 60)
    if proc.returncode != 0:
        sys.exit(f"the waiting start program ended with {proc.returncode}")
    return {"launch": summary(launches), "startup_cpu": cpu_then, "waiting_cpu": cpu_now - cpu_then,
            "memory": memory}


def summary(pairs):
    ratios = [a / b for a, b in pairs]
    return {
        "pairs": len(pairs),
        "a": quantile([a for a, _ in pairs], 0.5),
        "b": quantile([b for _, b in pairs], 0.5),
        "ratio": quantile(ratios, 0.5),
        "q1": quantile(ratios, 0.25),
        "q3": quantile(ratios, 0.75),
    }


def main():
    global SMOKE, WORK
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--smoke", action="store_true", help="each measurement once, nothing written")
    SMOKE = parser.parse_args().smoke
    if SMOKE:
        WORK += "-smoke"
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    size, dlls = stripped_size(os.path.join(kt.BIN, "KestrelwoodStart.exe"))
    imports_ok = dlls == ["KERNEL32.dll", "msvcrt.dll"]

    folders = {n: make_folder(n) for n in SIZES}
    selection = {}
    for n in (10, 100, 1000):
        reps = times(max(7, 2000 // n))
        code, out, err = kt.run_wine(os.path.join(kt.BIN, "selection_bench.exe"),
                                     [kt.windows_path(folders[n]), str(reps)], timeout=1800)
        if code != 0:
            sys.exit(f"selection_bench failed: {err.decode(errors='replace')[-500:]}")
        selection[n] = parse(out)
        passes = [(float(a), float(b)) for a, b in re.findall(rb"^pass ([0-9.]+) ([0-9.]+)", out, re.M)]
        shares = [a / b - 1 for a, b in passes]
        selection[n]["share"] = (quantile(shares, 0.25), quantile(shares, 0.5), quantile(shares, 0.75), len(shares))

    crafted = crafted_ratios()
    handoff = {}
    for n, runs in ((1, 41), (10, 41), (100, 15), (1000, 5)):
        pairs = handoff_pairs(folders[n], times(runs))
        ratios = [a / b for a, b in pairs]
        handoff[n] = summary(pairs)
    pinning = {mb: summary(pinning_pairs(mb, times(21))) for mb in SIGNED_MB}
    waiting = waiting_figures(times(21), 2 if SMOKE else 10)

    yes = {True: "yes", False: "no"}
    lines = []
    lines.append(f"Measured {datetime.date.today().isoformat()} on {platform.machine()} "
                 f"({os.cpu_count()} cores), Linux {platform.release()}, "
                 f"{subprocess.run([shutil.which('wine64') or '/usr/lib/wine/wine64', '--version'], capture_output=True, text=True).stdout.strip()}.")
    lines.append("")
    lines.append("| Figure | Measured | Target | Met |")
    lines.append("|---|---|---|---|")
    lines.append(f"| Stripped size of KestrelwoodStart.exe | {size} bytes ({size / 1024:.1f} KiB) | at most 64 KiB | "
                 f"{yes[size <= 65536]} |")
    lines.append(f"| Imported DLLs | {', '.join(dlls)} | system DLLs only | {yes[imports_ok]} |")
    for n in (10, 100, 1000):
        s, f = selection[n]["selection"], selection[n]["floor"]
        target = "at most 1.10" if n == 1000 else "-"
        met = yes[s / f <= 1.10] if n == 1000 else "-"
        lines.append(f"| Selection over {n} candidates: per candidate, selection / floor | "
                     f"{s / n * 1e6:.1f} µs / {f / n * 1e6:.1f} µs = {s / f:.3f} | {target} | {met} |")
    for n in (10, 100, 1000):
        s, u = selection[n]["selection"], selection[n]["unchecked"]
        q1, share, q3, passes = selection[n]["share"]
        target = "at most 10% (aim 5%)" if n == 1000 else "-"
        met = yes[share <= 0.10] if n == 1000 else "-"
        lines.append(f"| Layout check over {n} candidates: added to the selection without it, median of {passes} "
                     f"passes, each beside one without it (interquartile range) | {percent(share)} "
                     f"({percent(q1)} to {percent(q3)}); medians {s / n * 1e6:.1f} µs / {u / n * 1e6:.1f} µs per candidate | {target} | {met} |")
    ratio = quantile([r for r, _, _ in crafted], 0.5)
    lines.append(f"| Ten crafted files that spend the layout check's whole budget / ten intact programs of another "
                 f"family, each beside one launcher: selection, median of {len(crafted)} rounds (interquartile "
                 f"range) | {ratio:.3f} ({quantile([r for r, _, _ in crafted], 0.25):.3f}–"
                 f"{quantile([r for r, _, _ in crafted], 0.75):.3f}); medians "
                 f"{quantile([c for _, c, _ in crafted], 0.5) * 1000:.2f} ms / "
                 f"{quantile([f for _, _, f in crafted], 0.5) * 1000:.2f} ms | at most 1.5 | {yes[ratio <= 1.5]} |")
    for n in SIZES:
        h = handoff[n]
        target = "at most 1.2" if n == 10 else "-"
        met = yes[h["ratio"] <= 1.2] if n == 10 else "-"
        lines.append(f"| Hand-off with {n} candidates: KestrelwoodStart.exe / direct launch, median of "
                     f"{h['pairs']} alternated pairs (interquartile range) | {h['ratio']:.3f} "
                     f"({h['q1']:.3f}–{h['q3']:.3f}); medians {h['a'] * 1000:.1f} ms / {h['b'] * 1000:.1f} ms | "
                     f"{target} | {met} |")
    for mb in SIGNED_MB:
        p = pinning[mb]
        lines.append(f"| Start to launch beside a {mb} MB signed launcher: pinned / not pinned start program, median "
                     f"of {p['pairs']} alternated pairs (interquartile range) | {p['ratio']:.3f} "
                     f"({p['q1']:.3f}–{p['q3']:.3f}); medians {p['a'] * 1000:.1f} ms / {p['b'] * 1000:.1f} ms | - | - |")
    w = waiting["launch"]
    lines.append(f"| Start to launch beside one launcher: the start program that waits (KES_START_WAITS) / the default "
                 f"one, median of {w['pairs']} alternated pairs (interquartile range) | {w['ratio']:.3f} "
                 f"({w['q1']:.3f}–{w['q3']:.3f}); medians {w['a'] * 1000:.1f} ms / {w['b'] * 1000:.1f} ms | - | - |")
    lines.append(f"| The start program that waits, while the launcher's tree runs 10 s: CPU time while it waits (from "
                 f"the second second to the ninth, read from the Linux process) and its start-up before that | "
                 f"{waiting['waiting_cpu'] * 1000:.0f} ms while waiting; {waiting['startup_cpu'] * 1000:.0f} ms "
                 f"start-up | - | - |")
    lines.append(f"| The start program that waits, while the tree runs: private memory (anonymous resident) | "
                 f"{waiting['memory']:,} KiB | - | - |")
    waits_size = os.path.getsize(os.path.join(kt.BIN, "KestrelwoodStart_waits.exe"))
    default_size = os.path.getsize(os.path.join(kt.BIN, "KestrelwoodStart.exe"))
    lines.append(f"| Size of the start program that waits / the default one (as built) | {waits_size:,} / "
                 f"{default_size:,} bytes | at most 57,344 | {yes[max(waits_size, default_size) <= 57344]} |")
    per_selection = selection[1000]["selection"] / 1000 * 1000
    per_floor = selection[1000]["floor"] / 1000 * 1000
    lines.append("")
    q1, share, q3, _ = selection[1000]["share"]
    lines.append(f"Per candidate (1000 candidates), the selection takes {per_selection:.2f} ms and the platform's "
                 f"calls alone (the layout check's open, reads and close among them) take {per_floor:.2f} ms.")
    lines.append(f"A pass with the layout check takes a median {abs(share) * 100:.1f}% "
                 f"{'more' if share >= 0 else 'less'} than the pass without it in the same repetition "
                 f"(half the passes between {percent(q1)} and {percent(q3)}): "
                 f"{'within' if share <= 0.10 else 'above'} the 10% bound"
                 f"{', and within the 5% aim' if share <= 0.05 else ''}.")
    h10 = handoff[10]
    if h10["ratio"] <= 1.2:
        lines.append(f"At 10 candidates the hand-off is within 1.2 of the direct launch "
                     f"(median ratio {h10['ratio']:.3f}, half the pairs between {h10['q1']:.3f} and "
                     f"{h10['q3']:.3f}).")
    else:
        extra = (h10["a"] - h10["b"]) * 1000
        lines.append(f"At 10 candidates the hand-off is above 1.2 of the direct launch (median ratio "
                     f"{h10['ratio']:.3f}, half the pairs between {h10['q1']:.3f} and {h10['q3']:.3f}); the "
                     f"median start program run takes {extra:.0f} ms more than the median direct launch, and ten "
                     f"candidates' platform floor is {per_floor * 10:.0f} ms of that.")
    text = "\n".join(lines)
    if SMOKE:
        print("benchmark smoke: every measurement ran once, and its table was made")
        shutil.rmtree(WORK, ignore_errors=True)
        return
    print(text)
    with open(os.path.join(HERE, "results.md"), "w") as f:
        f.write("# Benchmark results\n\n" + text + "\n")
    shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    main()
