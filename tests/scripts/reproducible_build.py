#!/usr/bin/env python3
"""The shipped programs are the same bytes from any build of the same
sources: copies the sources to a second place with another path (and a later
time), builds there only the programs compared, in build trees of their own
(x64 and x86), and compares the SHA-256 of KestrelwoodStart.exe, kes-inspect
and kes_selfupdate.dll of both architectures with those of the build under
test.

  reproducible_build.py SOURCE_DIR BUILD_DIR"""
import hashlib
import os
import shutil
import subprocess
import sys

# (toolchain, options, targets, [(path in the second tree, path in the build under test)])
BUILDS = [
    ("toolchain-mingw-x86_64.cmake", ["-DKES_BUILD_TESTS=OFF", "-DKES_BUILD_X86=OFF"],
     ["KestrelwoodStart", "kes-inspect", "kes_selfupdate_dll"],
     [("bin/KestrelwoodStart.exe",) * 2, ("bin/kes-inspect.exe",) * 2, ("bin/kes_selfupdate.dll",) * 2]),
    # As the x64 build makes its x86 part: the shared code and the routine only.
    ("toolchain-mingw-i686.cmake", ["-DKES_ROUTINE_ONLY=ON", "-DCMAKE_BUILD_TYPE=MinSizeRel"],
     ["kes_selfupdate_dll"], [("bin/kes_selfupdate.dll", "x86/bin/kes_selfupdate.dll")]),
]


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main(source, build):
    work = os.path.join(build, "repro-check")
    shutil.rmtree(work, ignore_errors=True)
    # Another checkout path, of another length, with a blank in it.
    other = os.path.join(work, "another checkout", "kestrelwood-start")
    shutil.copytree(source, other, symlinks=True,
                    ignore=lambda d, names: [n for n in names if n in (".git", "build") or n.startswith("build-")
                                             or os.path.join(d, n) == build])
    failed = False
    for toolchain, options, targets, compared in BUILDS:
        other_build = os.path.join(work, "another build tree", toolchain)
        configure = ["cmake", "-S", other, "-B", other_build, "-G", "Ninja",
                     "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(other, "cmake", toolchain), *options]
        for command in (configure, ["cmake", "--build", other_build, "--target", *targets]):
            result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL)
            if result.returncode != 0:
                print(result.stdout.decode("utf-8", "replace")[-3000:])
                print("FAIL: the second build failed:", " ".join(command))
                return 1
        for second_path, path in compared:
            first, second = sha256(os.path.join(build, path)), sha256(os.path.join(other_build, second_path))
            print(f"{path}: {first} / {second}")
            if first != second:
                print(f"FAIL: {path} differs between the two builds")
                failed = True
    if not failed:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
