#!/usr/bin/env python3
"""The self-update routine as launchers run it: real reference launchers in
scratch folders under Wine, their debugger output captured write by write with
kes-debug-capture, and the launcher they hand over to checked by its record."""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import kestrelwood_wine as kt  # noqa: E402

CAPTURE = os.path.join(kt.BIN, "kes-debug-capture.exe")
TAG = b"[keslauncher][selfupdate] "
DASH = " \u2014 ".encode()
SKIP = "--no-self-update-scan"


def capture_tool():
    """The capture tool, copied once to the short test drive so that its own
    path does not eat into the command lines the tests build."""
    copy = os.path.join(os.path.dirname(kt.SCRATCH), "tools", "kes-debug-capture.exe")
    if not os.path.exists(copy) or os.path.getmtime(copy) < os.path.getmtime(CAPTURE):
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        kt.shutil.copy2(CAPTURE, copy)
    return copy


def capture(program, args=(), children=False, argv0=None, cwd=None, delete_when=None, env_extra=None):
    """Runs program under the capture tool; returns (exit code, list of writes).
    delete_when=(text, file): the file vanishes when the program writes text."""
    out_file = os.path.join(kt.SCRATCH, "capture-%d.bin" % os.getpid())
    options = ["--framed", "--out", kt.windows_path(out_file)]
    options += (["--children"] if children else []) + (["--argv0", argv0] if argv0 else [])
    if delete_when:
        options += ["--delete-when", delete_when[0], kt.windows_path(delete_when[1])]
    for _ in range(2):
        code, out, err = kt.run_wine(capture_tool(), options + [kt.windows_path(program), *args], cwd=cwd,
                                     env_extra=env_extra)
        if code == 2 or not os.path.exists(out_file):
            raise AssertionError(f"kes-debug-capture failed with {code}:\n"
                                 f"{(out + err).decode('utf-8', 'replace')[-2000:]}")
        with open(out_file, "rb") as f:
            out = f.read()
        os.remove(out_file)
        # A hand-over that Wine fails with ERROR_INTERNAL_ERROR (1359) under
        # load is logged and falls back, as it should; run it once more.
        if not kt.wine_failed_start(out):
            break
        sys.stderr.write("Wine failed the hand-over's process start with 1359: once more\n")
        kt.clear_records(os.path.dirname(program))
    writes = []
    pos = 0
    while True:
        m = re.compile(rb"(\d+):").match(out, pos)
        if not m:
            break
        n = int(m.group(1))
        start = m.end()
        writes.append(out[start:start + n])
        pos = start + n + 1  # the frame's own line feed
    return code, writes


def lines_of(writes):
    """Joins the writes into log lines, checking that each line is exactly the
    three writes tag, message, line feed."""
    log = writes
    lines = []
    i = 0
    while i < len(log):
        if log[i] != TAG:
            i += 1  # a write from elsewhere (not a log line)
            continue
        assert i + 2 < len(log) and log[i + 2] == b"\n", log[i:i + 3]
        lines.append(log[i + 1])
        i += 3
    return lines


def msg(text):
    return text.replace(" -- ", " \u2014 ").encode()


class Scan(unittest.TestCase):
    def folder(self, name, files):
        folder = kt.fresh_dir("selfupdate_" + name)
        for built, as_name in files:
            kt.place(folder, built, as_name)
        return folder

    def run_launcher(self, folder, name, args=(), **kw):
        return capture(os.path.join(folder, name), args, cwd=folder, **kw)

    def test_skip_flag_among_the_arguments(self):
        folder = self.folder("skip", [("ref_1_0_0_0.exe", "L10.exe"), ("ref_2_0_0_0.exe", "L20.exe")])
        for args in ([SKIP], ["-x", SKIP, "-y"], ["-x", SKIP]):
            code, writes = self.run_launcher(folder, "L10.exe", args)
            self.assertEqual(code, 0)
            self.assertEqual(writes, [TAG, msg("skip flag present -- bypassing scan"), b"\n"], args)
            record = kt.read_record(os.path.join(folder, "L10.exe"))
            self.assertEqual(record["args"][1:], args)
            os.remove(os.path.join(folder, "L10.exe.started"))
        self.assertEqual(kt.started_launchers(folder), [])

    def test_not_the_skip_flag(self):
        folder = self.folder("not_skip", [("ref_1_0_0_0.exe", "L10.exe")])
        for args, argv0 in ((["--No-Self-Update-Scan"], None), ([SKIP + "=1"], None), ([SKIP + " "], None),
                            (["-" + SKIP], None), ([], SKIP)):
            code, writes = self.run_launcher(folder, "L10.exe", args, argv0=argv0)
            self.assertEqual(lines_of(writes), [b"scan: 0 sibling keslauncher(s) found",
                                                msg("self is newest -- continuing normally")], (args, argv0))

    def test_alone(self):
        folder = self.folder("alone", [("ref_1_0_0_0.exe", "L10.exe")])
        code, writes = self.run_launcher(folder, "L10.exe")
        self.assertEqual(code, 0)
        self.assertEqual(writes, [TAG, b"scan: 0 sibling keslauncher(s) found", b"\n",
                                  TAG, msg("self is newest -- continuing normally"), b"\n"])
        self.assertEqual(kt.started_launchers(folder), ["L10.exe"])  # went on as itself

    def test_siblings_that_do_not_count_or_do_not_win(self):
        cases = [
            ("same_version", [("ref_1_0_0_0.exe", "Copy.exe")], 1),
            ("other_family", [("fx_other_family.exe", "Other.exe")], 0),
            ("no_version", [("fx_no_version.exe", "Plain.exe"), ("ref_no_version.exe", "Plain2.exe")], 0),
            ("start_program", [("KestrelwoodStart.exe", "KestrelwoodStart.exe")], 0),
            ("broken", [("fx_id_two_nuls.exe", "TwoNuls.exe"), ("fx_id_length_lies.exe", "Lies.exe"),
                        ("fx_fixed_short.exe", "Short.exe"), ("fx_id_codepage_04b0.exe", "Unicode.exe")], 0),
            ("older", [("ref_1_0_0_0.exe", "Older.exe")], 1),
        ]
        for name, files, count in cases:
            main = "ref_2_0_0_0.exe" if name == "older" else "ref_1_0_0_0.exe"
            folder = self.folder(name, [(main, "Main.exe")] + files)
            if name == "older":
                kt.place(folder, "ref_1_0_0_0.exe", "Older.exe")
            code, writes = self.run_launcher(folder, "Main.exe")
            self.assertEqual(lines_of(writes), [f"scan: {count} sibling keslauncher(s) found".encode(),
                                                msg("self is newest -- continuing normally")], name)
            self.assertEqual(kt.started_launchers(folder), ["Main.exe"], name)

    def check_hand_over(self, folder, winner, count, args):
        code, writes = self.run_launcher(folder, "L10.exe", args)
        self.assertEqual(code, 0)
        winner_path = os.path.join(folder, winner)
        self.assertEqual(lines_of(writes), [f"scan: {count} sibling keslauncher(s) found".encode(),
                                            b"delegating to newer launcher: " + kt.windows_path(winner_path).encode()])
        record = kt.read_record(winner_path)
        self.assertIsNotNone(record)
        return record

    def test_newest_of_two_in_either_listing_order(self):
        # (older, newer): 2.1.0.0 over 2.0.0.0; 1.2.0.0 over 1.1.65535.65535,
        # since the minor part fills higher bits than build and revision.
        for older, newer in (("ref_2_0_0_0.exe", "ref_2_1_0_0.exe"), ("ref_1_1_65535_65535.exe", "ref_1_2_0_0.exe")):
            for layout in (((older, "A.exe"), (newer, "B.exe")), ((newer, "A.exe"), (older, "B.exe"))):
                self.check_newest_of_two(layout, newer)

    def check_newest_of_two(self, layout, newer):
        with self.subTest(layout=layout):
            folder = self.folder("two_" + layout[0][0], [("ref_1_0_0_0.exe", "L10.exe"), *layout])
            winner = [name for built, name in layout if built == newer][0]
            record = self.check_hand_over(folder, winner, 2, ["-x", "a b"])
            winner_path = kt.windows_path(os.path.join(folder, winner))
            # Every forwarded argument quoted, one unquoted skip flag at the end.
            self.assertEqual(record["command_line"], f'"{winner_path}" "-x" "a b" {SKIP}')
            self.assertEqual(record["args"][1:], ["-x", "a b", SKIP])
            self.assertEqual(kt.started_launchers(folder), [winner])

    def test_forwarded_arguments_drop_every_skip_flag_but_keep_the_rest(self):
        folder = self.folder("forward", [("ref_1_0_0_0.exe", "L10.exe"), ("ref_2_0_0_0.exe", "L20.exe")])
        # Skip flags only differing in case stay; the program name is never forwarded.
        args = ["", 'say "hi"', "C:\\dir\\", "tab\there", "\u4e2d\U0001F600", "--No-Self-Update-Scan"]
        record = self.check_hand_over(folder, "L20.exe", 1, args)
        self.assertEqual(record["args"][1:], args + [SKIP])
        self.assertTrue(record["command_line"].endswith(" " + SKIP))
        self.assertEqual(record["cwd"], kt.windows_path(folder))

    def test_tie_at_the_highest_version_goes_to_the_first_listed(self):
        folder = self.folder("tie", [("ref_1_0_0_0.exe", "L10.exe"), ("ref_2_0_0_0.exe", "Twin_a.exe"),
                                     ("ref_2_0_0_0.exe", "Twin_b.exe"), ("ref_2_0_0_0.exe", "Twin_c.exe")])
        # The order in which Windows' directory search yields them.
        _, out, _ = kt.run_wine(os.path.join(kt.BIN, "list_probe.exe"), [kt.windows_path(folder) + "\\*.exe"])
        listed = [n for n in out.decode().splitlines() if n.startswith("Twin_")]
        self.assertEqual(len(listed), 3)
        self.check_hand_over(folder, listed[0], 3, [])
        self.assertEqual(kt.started_launchers(folder), [listed[0]])

    def test_folder_with_blanks_and_characters_outside_ascii(self):
        folder = self.folder("Spi\u00ebl \u4e2d\U0001F600 x", [("ref_1_0_0_0.exe", "L\u00e4uncher 1.exe"),
                                                           ("ref_2_0_0_0.exe", "L\u00e4uncher \U0001F600.exe")])
        code, writes = self.run_launcher(folder, "L\u00e4uncher 1.exe", ["a b"])
        winner = os.path.join(folder, "L\u00e4uncher \U0001F600.exe")
        self.assertEqual(lines_of(writes), [b"scan: 1 sibling keslauncher(s) found",
                                            b"delegating to newer launcher: " + kt.windows_path(winner).encode()])
        record = kt.read_record(winner)
        self.assertEqual(record["args"][1:], ["a b", SKIP])

    def test_command_line_limit(self):
        # The hand-over line: "path" + ' "argument"' + " --no-self-update-scan".
        # The winner's long name keeps the hand-over line longer than the
        # capture tool's own command line, which must itself fit; its whole
        # path stays below MAX_PATH, which Wine's CreateProcessW requires.
        folder = self.folder("limit", [("ref_1_0_0_0.exe", "L10.exe")])
        long_name = "L" + "x" * (250 - len(kt.windows_path(folder)) - 1 - len("L-2.0.exe")) + "-2.0.exe"
        winner = os.path.join(folder, long_name)
        kt.place(folder, "ref_2_0_0_0.exe", long_name)
        capture_overhead = len(kt.windows_path(capture_tool())) + len(kt.windows_path(os.path.join(folder, "L10.exe"))) + 120
        self.assertGreater(len(kt.windows_path(winner)) + 27, capture_overhead, "build tree too deep for this test")
        fixed = len(kt.windows_path(winner)) + 2 + 1 + 2 + len(" " + SKIP)
        code, writes = self.run_launcher(folder, "L10.exe", ["a" * (32767 - fixed)])
        self.assertEqual(lines_of(writes)[2:], [b"CreateProcess failed: GLE=206",
                                                msg("delegation failed -- falling back to self")])
        self.assertEqual(kt.started_launchers(folder), ["L10.exe"])
        os.remove(os.path.join(folder, "L10.exe.started"))
        code, writes = self.run_launcher(folder, "L10.exe", ["a" * (32766 - fixed)])
        self.assertEqual(len(lines_of(writes)), 2, lines_of(writes))
        record = kt.read_record(winner)
        self.assertEqual(len(record["command_line"]), 32766)
        self.assertEqual(record["args"][1:], ["a" * (32766 - fixed), SKIP])

    def test_own_identifier_empty_or_foreign(self):
        for built, shown in (("ref_empty_id.exe", ""), ("ref_foreign_id.exe", "0B9D3E61-2C7A-4F58-A1E4-6C8D2F0B7A95")):
            folder = self.folder("mismatch", [(built, "L10.exe"), ("ref_2_0_0_0.exe", "L20.exe")])
            code, writes = self.run_launcher(folder, "L10.exe")
            self.assertEqual(lines_of(writes), [msg(f"self KesLauncherID mismatch ('{shown}' vs '{kt.FAMILY_ID}')"
                                                    " -- build bug, bypassing scan")])
            self.assertEqual(kt.started_launchers(folder), ["L10.exe"])

    def test_own_version_resource_unreadable(self):
        # (launcher, DLL overrides, lines before the bypass)
        rows = [
            ("ref_no_version.exe", None, []),
            # Wine told never to load version.dll: every file reads as unreadable.
            ("ref_1_0_0_0.exe", "version=", [b"version library not loaded from the system folder: GLE=126"]),
        ]
        for built, overrides, before in rows:
            folder = self.folder("no_self_version", [(built, "L10.exe"), ("ref_2_0_0_0.exe", "L20.exe")])
            env = {"WINEDLLOVERRIDES": "mscoree,mshtml=;" + overrides} if overrides else None
            code, writes = self.run_launcher(folder, "L10.exe", env_extra=env)
            self.assertEqual(lines_of(writes), before + [msg("self has no valid VS_VERSIONINFO -- bypassing scan")])
            self.assertEqual(kt.started_launchers(folder), ["L10.exe"])

    def test_publisher_pinning(self):
        # (row, the running launcher, siblings, the log after the count, the launchers started)
        rows = (
            # Newer ones refused: unsigned, signed by another key, a signature
            # whose signer's parts come from another file, one signed with the
            # key that pins nothing itself, a link to a signed launcher.
            ("pinned: the newest signed with the key", "ref_pinned_1_0_0_0.exe",
             [("fx_family_5_0_0_0.exe", "L50.exe"), ("fx_signed_other_4_0_0_0.exe", "L40.exe"),
              ("fx_mixed_signer_5_0_0_0.exe", "L57.exe"), ("fx_signed_unpinning_5_0_0_0.exe", "L58.exe"),
              ("link:fx_signed_5_0_0_0.exe", "L59.exe"), ("ref_signed_2_0_0_0.exe", "L20.exe")],
             [("L50.exe", "not signed, 0x800B0100"), ("L57.exe", "signature parts do not match, 0x00000000"),
              ("L58.exe", "signed, but does not pin the publisher's keys, 0x00000000"),
              ("L59.exe", "a link, not a file, 0x00000000"),
              ("L40.exe", "signed with a key that is not pinned, 0x00000000")],
             "L20.exe"),
            ("pinned: none passes", "ref_pinned_1_0_0_0.exe", [("fx_family_5_0_0_0.exe", "L50.exe")],
             [("L50.exe", "not signed, 0x800B0100")], None),
            ("not pinned: the newest", "ref_1_0_0_0.exe",
             [("ref_signed_2_0_0_0.exe", "L20.exe"), ("fx_family_5_0_0_0.exe", "L50.exe")], [], "L50.exe"),
        )
        for row, running, siblings, refused, winner in rows:
            with self.subTest(row):
                folder = self.folder("pinning", [(running, "L10.exe")] + siblings)
                code, writes = self.run_launcher(folder, "L10.exe", ["-x"])
                self.assertEqual(code, 0)
                lines = lines_of(writes)
                self.assertEqual(lines[0], f"scan: {len(siblings)} sibling keslauncher(s) found".encode())
                # Launchers of one version are tried in the folder's listing order.
                refusals = [msg(f"publisher: {kt.windows_path(os.path.join(folder, name))} refused ({why}) -- "
                                "passed over") for name, why in refused]
                self.assertEqual(sorted(lines[1:1 + len(refusals)]), sorted(refusals))
                self.assertEqual(lines[1 + len(refusals)],
                                 b"delegating to newer launcher: " + kt.windows_path(os.path.join(folder, winner)).encode()
                                 if winner else msg("self is newest -- continuing normally"))
                self.assertIsNotNone(kt.read_record(os.path.join(folder, winner or "L10.exe")))

    def test_newer_sibling_that_cannot_start(self):
        folder = self.folder("bad_newer", [("ref_1_0_0_0.exe", "L10.exe")])
        kt.place_refused_by_loader(folder, "L50.exe")
        code, writes = self.run_launcher(folder, "L10.exe", ["-x"])
        self.assertEqual(lines_of(writes), [
            b"scan: 1 sibling keslauncher(s) found",
            b"delegating to newer launcher: " + kt.windows_path(os.path.join(folder, "L50.exe")).encode(),
            b"CreateProcess failed: GLE=193",
            msg("delegation failed -- falling back to self")])
        # false: the launcher went on as itself.
        self.assertEqual(kt.started_launchers(folder), ["L10.exe"])

    def test_newer_sibling_that_disappears_before_its_start(self):
        # The newer launcher is deleted after the scan has chosen it and before
        # the routine starts it.
        folder = self.folder("vanishing", [("ref_1_0_0_0.exe", "L10.exe"), ("ref_2_0_0_0.exe", "L20.exe")])
        newer = os.path.join(folder, "L20.exe")
        code, writes = self.run_launcher(folder, "L10.exe", delete_when=("delegating to newer launcher", newer))
        self.assertFalse(os.path.exists(newer))
        self.assertEqual(lines_of(writes), [
            b"scan: 1 sibling keslauncher(s) found",
            b"delegating to newer launcher: " + kt.windows_path(newer).encode(),
            b"CreateProcess failed: GLE=2",
            msg("delegation failed -- falling back to self")])
        self.assertEqual(kt.started_launchers(folder), ["L10.exe"])

    def test_hand_over_goes_one_step_only(self):
        folder = self.folder("one_step", [("ref_1_0_0_0.exe", "L10.exe"), ("ref_2_0_0_0.exe", "L20.exe")])
        code, writes = self.run_launcher(folder, "L10.exe", ["-x"], children=True)
        self.assertEqual(lines_of(writes), [
            b"scan: 1 sibling keslauncher(s) found",
            b"delegating to newer launcher: " + kt.windows_path(os.path.join(folder, "L20.exe")).encode(),
            msg("skip flag present -- bypassing scan")])
        record = kt.read_record(os.path.join(folder, "L20.exe"))
        self.assertEqual(record["args"][1:], ["-x", SKIP])
        self.assertEqual(kt.started_launchers(folder), ["L20.exe"])


class DeepPath(unittest.TestCase):
    def test_own_path_too_long_to_read(self):
        # Wine's CreateProcessW refuses application paths this long, so the
        # launcher is started from the Unix side and its writes are read from
        # Wine's own debug-string trace instead of the capture tool. A newer
        # launcher in the root of the drive is never handed over to, and
        # nothing lands or is pruned.
        root = os.path.join(kt.DRIVE_C, f"KesRootLauncher-{os.getpid()}.exe")
        kt.place(kt.DRIVE_C, "ref_2_0_0_0.exe", os.path.basename(root))
        try:
            folder = kt.deep_folder("selfupdate_deep", "L10.exe", 300)
            kt.place(folder, "ref_1_0_0_0.exe", "L10.exe")
            kt.place(folder, "ref_2_0_0_0.exe", "L20.exe")
            code, _, err = kt.run_wine(os.path.join(folder, "L10.exe"), cwd=folder,
                                       env_extra={"WINEDEBUG": "+debugstr"})
            writes = re.findall(rb'OutputDebugStringA "((?:[^"\\]|\\.)*)"', err)
            self.assertEqual(writes, [TAG, b"getSelfPath failed", b"\\n"])
            self.assertEqual(kt.started_launchers(folder), ["L10.exe"])
            self.assertIsNone(kt.read_record(root, timeout=0.5))
            folder = kt.deep_folder("selfupdate_deep_cycle", "L12.exe", 271)
            kt.place(folder, "lifecycle_probe_1_2_0_0.exe", "L12.exe")
            download = kt.windows_path(os.path.join(kt.BIN, "fx_family_2_0_0_0.exe"))
            for args in (["land", download, "L20.exe", "0"], ["prune", "2"]):
                code, out, _ = kt.run_wine(os.path.join(folder, "L12.exe"), args, cwd=folder)
                self.assertEqual((code, out.strip().splitlines()[-1]), (0, b"result -2"), args)
                self.assertEqual(sorted(os.listdir(folder)), ["L12.exe"], args)
            self.assertTrue(os.path.exists(root))
        finally:
            for leftover in (root, root + kt.RECORD_SUFFIX):
                if os.path.exists(leftover):
                    os.remove(leftover)


class DebugLog(unittest.TestCase):
    def probe(self, which):
        code, writes = capture(os.path.join(kt.BIN, "debug_log_probe.exe"), [which])
        self.assertEqual(code, 0)
        return writes

    def test_lines(self):
        cases = {
            "empty": b"",
            "percent": b"100% done %s %d %n",
            "newline": b"ends in a line feed\n",
            "format": b"count -7, text 'x y', error 4294967295",
            "len511": b"a" * 511,
            "len512": b"a" * 511,
            "len600": b"a" * 511,
            "cutinside": b"b" * 510 + b"\xc3",
        }
        for which, message in cases.items():
            self.assertEqual(self.probe(which), [TAG, message, b"\n"], which)


if __name__ == "__main__":
    unittest.main(verbosity=2)
