#!/usr/bin/env python3
"""The shipped files are the same bytes from any build of the same sources:
copies the sources to a second place with another path (and a later time),
builds only what ships there in a build tree of its own, and compares the
SHA-256 of KestrelwoodStart.exe, kes-debug-capture.exe and the self-update
libraries and DLLs of both architectures with those of the build under test.

  reproducible_build.py SOURCE_DIR BUILD_DIR"""
import hashlib
import os
import shutil
import subprocess
import sys

SHIPPED = [  # (target, path in a build tree)
    ("KestrelwoodStart", "bin/KestrelwoodStart.exe"),
    ("kes-debug-capture", "bin/kes-debug-capture.exe"),
    ("kes_selfupdate", "selfupdate/libkes_selfupdate.a"),
    ("kes_selfupdate_dll", "bin/kes_selfupdate.dll"),
    ("kes_selfupdate_msvc_lib", "selfupdate/kes_selfupdate.lib"),
    ("kes_x86", "x86/bin/kes_selfupdate.dll"),
    ("kes_x86", "x86/selfupdate/kes_selfupdate.lib"),
    ("kes_x86", "x86/selfupdate/libkes_selfupdate.a"),
    ("kes_x86", "x86/common/libkes_common.a"),
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
    other_build = os.path.join(work, "another build tree")
    configure = ["cmake", "-S", other, "-B", other_build, "-G", "Ninja",
                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(other, "cmake", "toolchain-mingw-x86_64.cmake"),
                 "-DKES_BUILD_TESTS=OFF"]
    for command in (configure, ["cmake", "--build", other_build, "--target", *sorted({t for t, _ in SHIPPED})]):
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        if result.returncode != 0:
            print(result.stdout.decode("utf-8", "replace")[-3000:])
            print("FAIL: the second build failed:", " ".join(command))
            return 1
    failed = False
    for _, path in SHIPPED:
        first, second = sha256(os.path.join(build, path)), sha256(os.path.join(other_build, path))
        print(f"{path}: {first} / {second}")
        if first != second:
            print(f"FAIL: {path} differs between the two builds")
            failed = True
    if not failed:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
