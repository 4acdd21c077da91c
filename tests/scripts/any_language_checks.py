#!/usr/bin/env python3
"""Launchers in other languages adopt the hand-over through the C interface,
from the installed package, and hand over under Wine: each row builds its
example launcher at 1.0.0.0 and 2.0.0.0, starts the older one with arguments
that hold a blank and a double quote, and requires the newer one to run as
itself with the same arguments and the trailing skip flag. Beside them lies
the newer one as an ARM64 build at 3.0.0.0, which this computer cannot start
and which the routine must pass over.

  any_language_checks.py SOURCE_DIR"""
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import kestrelwood_wine as kt  # noqa: E402

import pefile  # noqa: E402

SOURCE = os.path.abspath(sys.argv.pop(1)) if __name__ == "__main__" else ""
EXAMPLES = os.path.join(SOURCE, "examples", "any_language")
WORK = os.path.join(kt.BUILD, "any-language")
PREFIX = os.path.join(WORK, "prefix")
ARGS = ["a b", 'say "hi"']
SKIP = "--no-self-update-scan"
MINGW = {"x64": "x86_64-w64-mingw32", "x86": "i686-w64-mingw32"}
# Debian names clang-cl after its LLVM release.
CLANG_CL = shutil.which("clang-cl") or shutil.which("clang-cl-14") or "/usr/lib/llvm-14/bin/clang-cl"


def run(command, env_extra=None, cwd=None):
    env = dict(os.environ, **(env_extra or {}))
    done = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(command)} failed:\n{done.stdout.decode(errors='replace')}")


def resource(arch, version, out, form="coff"):
    """The version resource, made with windres as a launcher author would: a
    COFF object for MinGW's linkers, a .res file for lld-link."""
    run([f"{MINGW[arch]}-windres", f"-I{PREFIX}/include", f"-DKES_EXAMPLE_VERSION={version.replace('.', ',')}",
         f'-DKES_EXAMPLE_VERSION_TEXT=\\"{version}\\"', os.path.join(EXAMPLES, "version.rc"), "-O", form,
         "-o", out])
    return out


def c_mingw(arch, lib_dir):
    def build(version, exe, scratch):
        run([f"{MINGW[arch]}-gcc", "-std=c11", "-O2", "-Wall", "-Wextra", "-Werror", "-static",
             f"-I{PREFIX}/include", f'-DKES_EXAMPLE_VERSION_TEXT="{version}"', os.path.join(EXAMPLES, "launcher.c"),
             resource(arch, version, os.path.join(scratch, "version.o")),
             os.path.join(PREFIX, lib_dir, "libkes_selfupdate.dll.a"), "-o", exe])
    return build


def c_msvc(version, exe, scratch):
    # MSVC's tools only: clang-cl, lld-link, kes_selfupdate.lib, and an
    # import library for the three KERNEL32 functions the example declares.
    kernel32 = os.path.join(scratch, "kernel32.def")
    with open(kernel32, "w") as f:
        f.write("LIBRARY KERNEL32.dll\nEXPORTS\nGetStdHandle\nWriteFile\nGetCommandLineA\nExitProcess\n")
    run(["llvm-dlltool", "-m", "i386:x86-64", "-d", kernel32, "-l", os.path.join(scratch, "kernel32.lib")])
    obj = os.path.join(scratch, "launcher.obj")
    # Paths begin with "/", which clang-cl would take for options: the input
    # file comes after "--".
    run([CLANG_CL, "--target=x86_64-pc-windows-msvc", "/c", "/W4", "/WX", "/O2", "/GS-", "/clang:-ffreestanding",
         f"/I{PREFIX}/include", f'/DKES_EXAMPLE_VERSION_TEXT="{version}"', f"/Fo{obj}", "--",
         os.path.join(EXAMPLES, "launcher_msvc.c")])
    res = resource("x64", version, os.path.join(scratch, "version.res"), "res")
    run(["lld-link", "/nologo", "/nodefaultlib", "/entry:start", "/subsystem:console", f"/out:{exe}", obj, res,
         os.path.join(PREFIX, "lib", "kes_selfupdate.lib"), os.path.join(scratch, "kernel32.lib")])


def rust(version, exe, scratch):
    # Debian's rustc, which carries the Windows target (one earlier in PATH may not).
    run(["/usr/bin/rustc", "--target", "x86_64-pc-windows-gnu", "-C", "opt-level=1", "-C",
         "linker=x86_64-w64-mingw32-gcc", "-L", os.path.join(PREFIX, "lib"), "-C",
         "link-arg=" + resource("x64", version, os.path.join(scratch, "version.o")),
         os.path.join(EXAMPLES, "main.rs"), "-o", exe], env_extra={"KES_EXAMPLE_VERSION_TEXT": version})


def go(version, exe, scratch):
    package = os.path.join(scratch, "go")
    os.makedirs(package, exist_ok=True)
    shutil.copy(os.path.join(EXAMPLES, "main.go"), package)
    with open(os.path.join(package, "go.mod"), "w") as f:
        f.write("module example.com/launcher\n\ngo 1.19\n")
    resource("x64", version, os.path.join(package, "rsrc_windows_amd64.syso"))
    run(["go", "build", "-ldflags", f"-X main.version={version}", "-o", exe, "."], cwd=package,
        env_extra={"GOOS": "windows", "GOARCH": "amd64", "CGO_ENABLED": "0", "GOFLAGS": "-mod=mod",
                   "GOCACHE": os.path.join(WORK, "gocache"), "GOPATH": os.path.join(WORK, "gopath"),
                   "GOPROXY": "off"})


def cpp_static_x86(version, exe, scratch):
    run(["i686-w64-mingw32-g++-posix", "-std=c++17", "-O2", "-Wall", "-Wextra", "-Werror", "-static",
         f"-I{PREFIX}/include", f'-DKES_EXAMPLE_VERSION_TEXT="{version}"', os.path.join(EXAMPLES, "launcher.cpp"),
         resource("x86", version, os.path.join(scratch, "version.o")),
         os.path.join(PREFIX, "x86", "lib", "libkes_selfupdate.a"), os.path.join(PREFIX, "x86", "lib", "libkes_common.a"),
         "-o", exe])


def arm64_copy(launcher, copy):
    """The launcher as though built for ARM64 at 3.0.0.0: whole and of the
    family, but not for this computer."""
    data = bytearray(open(launcher, "rb").read())
    pe = pefile.PE(data=bytes(data))
    fixed = pe.VS_FIXEDFILEINFO[0].get_file_offset()
    machine = pe.FILE_HEADER.get_file_offset()
    pe.close()
    struct.pack_into("<H", data, machine, 0xAA64)
    struct.pack_into("<I", data, fixed + 8, 0x00030000)  # dwFileVersionMS
    with open(copy, "wb") as f:
        f.write(data)


# What the newer launcher must say of its arguments: the older one's, then the skip flag.
ARGUMENT_LINES = [f"  argument {i}: [{arg}]" for i, arg in enumerate(ARGS + [SKIP], 1)]


class AnyLanguage(unittest.TestCase):
    # (row, how it is built, the DLL beside it (none for a static link), what
    # the newer launcher prints: "args" lines or its "command line", and
    # whether it runs the update cycle: joins, prunes and lands a download)
    ROWS = [
        ("C, MinGW, x64, the DLL", c_mingw("x64", "lib"), "bin", ("C", "args"), True),
        ("C, MSVC mode, x64, kes_selfupdate.lib", c_msvc, "bin", ("C (MSVC)", "command line"), False),
        ("Rust, windows-gnu, the DLL", rust, "bin", ("Rust", "args"), True),
        ("Go, windows/amd64, the DLL loaded by its path", go, "bin", ("Go", "args"), True),
        ("C, MinGW, x86, the x86 DLL", c_mingw("x86", os.path.join("x86", "lib")), os.path.join("x86", "bin"),
         ("C", "args"), True),
        ("C++, MinGW, x86, the x86 static library", cpp_static_x86, None, ("C++", "args"), False),
    ]

    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        run(["cmake", "--install", kt.BUILD, "--prefix", PREFIX])

    # What one install holds for launcher authors, both architectures.
    INSTALLED = ["include/kestrelwood/kes_selfupdate.h", "include/kestrelwood/self_update.h",
                 "bin/kes_selfupdate.dll", "lib/libkes_selfupdate.dll.a", "lib/kes_selfupdate.lib",
                 "lib/kes_selfupdate.def", "lib/libkes_selfupdate.a", "lib/libkes_common.a",
                 "x86/bin/kes_selfupdate.dll", "x86/lib/libkes_selfupdate.dll.a", "x86/lib/kes_selfupdate.lib",
                 "x86/lib/kes_selfupdate.def", "x86/lib/libkes_selfupdate.a", "x86/lib/libkes_common.a"]
    EXPORTS = [b"kes_join_start_identity", b"kes_land_update", b"kes_prune_launchers", b"kes_self_update_abi_version",
               b"kes_self_update_scan", b"kes_self_update_scan_argv"]
    KNOWN_DLLS = {"kernel32.dll", "msvcrt.dll"}

    def test_installed_dlls(self):
        for path in self.INSTALLED:
            self.assertTrue(os.path.isfile(os.path.join(PREFIX, path)), path)
        for dll, machine in (("bin/kes_selfupdate.dll", 0x8664), ("x86/bin/kes_selfupdate.dll", 0x14C)):
            with self.subTest(dll):
                path = os.path.join(PREFIX, dll)
                self.assertLessEqual(os.path.getsize(path), 128 * 1024)
                pe = pefile.PE(path)
                self.assertEqual(pe.FILE_HEADER.Machine, machine)
                self.assertEqual(sorted(e.name for e in pe.DIRECTORY_ENTRY_EXPORT.symbols), self.EXPORTS)
                self.assertLessEqual({e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT}, self.KNOWN_DLLS)
                print(f"{dll}: {os.path.getsize(path)} bytes")

    def test_older_hands_over_to_newer(self):
        capture = os.path.join(kt.BIN, "kes-debug-capture.exe")
        runs_32_bit = kt.host_runs_32_bit()
        download = kt.windows_path(os.path.join(kt.BIN, "fx_family_5_0_0_0.exe"))
        for row, build, dll_dir, (language, shows), cycle in self.ROWS:
            with self.subTest(row):
                if "x86" in row and not runs_32_bit:
                    self.skipTest("this kernel does not execute 32-bit programs, so Wine starts no 32-bit one")
                slug = re.sub(r"[^a-z0-9]+", "_", row.lower())
                scratch = os.path.join(WORK, slug)
                os.makedirs(scratch)
                game = kt.fresh_dir("any_language_" + slug)
                older, newer = os.path.join(game, "Launcher-1.0.exe"), os.path.join(game, "Launcher-2.0.exe")
                build("1.0.0.0", older, scratch)
                build("2.0.0.0", newer, scratch)
                arm64_copy(newer, os.path.join(game, "Launcher-3.0-arm64.exe"))
                if dll_dir:
                    shutil.copy(os.path.join(PREFIX, dll_dir, "kes_selfupdate.dll"), game)
                code, out, err = kt.run_wine(capture, ["--children", kt.windows_path(older), *ARGS],
                                             env_extra={"KES_EXAMPLE_DOWNLOAD": download,
                                                        "KES_EXAMPLE_NAME": "Launcher-5.0.exe"})
                text = out.decode("utf-8", "replace").replace("\r", "")
                self.assertEqual(code, 0, text + err.decode("utf-8", "replace")[-2000:])
                newer_path = kt.windows_path(newer)
                self.assertIn(f"delegating to newer launcher: {newer_path}\n", text)
                self.assertIn("skip flag present \u2014 bypassing scan\n", text)
                self.assertNotIn(f"{language} launcher 1.0.0.0 running", text)
                if shows == "args":
                    lines = [line for line in text.splitlines() if line.startswith(f"{language} launcher ") or
                             line.startswith("  argument ")]
                    self.assertEqual(len(lines), 4, text)
                    self.assertTrue(lines[0].startswith(f"{language} launcher 2.0.0.0 running as "), text)
                    self.assertTrue(lines[0].endswith("Launcher-2.0.exe"), text)
                    self.assertEqual(lines[1:], ARGUMENT_LINES, text)
                else:
                    self.assertIn(f'{language} launcher 2.0.0.0 running with the command line "{newer_path}" '
                                  f'"a b" "say \\"hi\\"" {SKIP}\n', text)
                if cycle:
                    # Nothing to prune beside the running 2.0 and the 1.0
                    # before it; the download lands beside them, whole.
                    self.assertIn("  cycle: identity 1, pruned 0\n", text)
                    self.assertIn("  landed: 1\n", text)
                    with open(os.path.join(game, "Launcher-5.0.exe"), "rb") as landed, \
                            open(os.path.join(kt.BIN, "fx_family_5_0_0_0.exe"), "rb") as original:
                        self.assertEqual(landed.read(), original.read())
                    self.assertEqual(sorted(n for n in os.listdir(game) if n.endswith(".exe")),
                                     ["Launcher-1.0.exe", "Launcher-2.0.exe", "Launcher-3.0-arm64.exe",
                                      "Launcher-5.0.exe"])
                print(f"== {row}\n{text}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
