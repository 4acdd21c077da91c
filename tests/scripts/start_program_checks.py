#!/usr/bin/env python3
"""Checks of the built KestrelwoodStart.exe from the outside: its PE imports
and resources read with Debian's pefile, and its behaviour under Wine that the
GoogleTest suites cannot see from inside (message box arguments and the
application identity, via Wine's relay trace; DLL planting; deep paths)."""
import html
import json
import os
import re
import shutil
import struct
import sys
import threading
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import kestrelwood_wine as kt  # noqa: E402

import pefile  # noqa: E402

START = os.path.join(kt.BIN, "KestrelwoodStart.exe")

NO_SIGNED_LAUNCHER = ("No Kestrelwood launcher signed by the game's publisher was found.\n\n"
                      "The game folder may hold a changed or foreign launcher.\n"
                      "Extract the complete game download again.")
NOT_FOUND = ("The Kestrelwood launcher could not be found.\n\n"
             "Keep KestrelwoodStart.exe in the game folder alongside the launcher.\n"
             "If files are missing, extract the complete game download again.")
COULD_NOT_START = ("Could not start the Kestrelwood launcher.\n"
                   "Open the game folder and try the versioned launcher directly.")
ENGLISH = [NOT_FOUND, NO_SIGNED_LAUNCHER, COULD_NOT_START, "Windows error: "]
# The languages that a start program built with languages carries beside English.
LANGIDS = {"zh-CN": 0x0804, "zh-TW": 0x0404, "ru-RU": 0x0419, "es-ES": 0x0C0A, "pt-BR": 0x0416, "de-DE": 0x0407,
           "ja-JP": 0x0411, "fr-FR": 0x040C, "pl-PL": 0x0415, "ko-KR": 0x0412, "tr-TR": 0x041F, "it-IT": 0x0410,
           "uk-UA": 0x0422}


def string_tables(built):
    """{(block, language): its 16 strings} of a built program, read with pefile."""
    pe = pefile.PE(os.path.join(kt.BIN, built))
    tables = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for block in kind.directory.entries if kind.id == 6 else []:
            for lang in block.directory.entries:
                data, strings = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size), []
                while len(strings) < 16:
                    n = struct.unpack_from("<H", data)[0]
                    strings.append(data[2:2 + 2 * n].decode("utf-16-le"))
                    data = data[2 + 2 * n:]
                tables[block.id, lang.id] = strings
    pe.close()
    return tables


def box_texts(built, language):
    """The four box texts (not found, none signed, could not start, error label):
    English for None, else the program's own table in `language`."""
    return ENGLISH if language is None else string_tables(built)[13, language][8:12]


class Resources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(START)

    def resource(self, type_id, name_id):
        for t in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if t.id == type_id:
                for n in t.directory.entries:
                    if n.id == name_id:
                        lang = n.directory.entries[0]
                        rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                        return self.pe.get_data(rva, size)
        self.fail(f"no resource type {type_id} id {name_id}")

    def test_64_bit_gui_program_with_only_system_imports(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, 0x8664)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 2)  # Windows GUI
        dlls = sorted(e.dll.decode() for e in self.pe.DIRECTORY_ENTRY_IMPORT)
        self.assertEqual(dlls, ["KERNEL32.dll", "msvcrt.dll"])
        # user32, shell32, version, wintrust and crypt32 are reached only at
        # run time, after the entry point has restricted the search to System32:
        # neither imported nor delay-loaded.
        names = {i.name for e in self.pe.DIRECTORY_ENTRY_IMPORT for i in e.imports}
        self.assertFalse(names & {b"MessageBoxW", b"CommandLineToArgvW", b"GetFileVersionInfoW", b"WinVerifyTrust"})
        self.assertFalse(hasattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT"))
        # Small, publisher pinning included, and so is the build that waits;
        # the build with languages, waiting and pinned keys within 72 KiB.
        # None imports anything more.
        for built, limit in (("KestrelwoodStart.exe", 57344), ("KestrelwoodStart_waits.exe", 57344),
                             ("KestrelwoodStart_languages_waits_pinned.exe", 73728)):
            other = pefile.PE(os.path.join(kt.BIN, built))
            self.assertEqual(sorted(e.dll.decode() for e in other.DIRECTORY_ENTRY_IMPORT),
                             ["KERNEL32.dll", "msvcrt.dll"], built)
            other.close()
            self.assertLessEqual(os.path.getsize(os.path.join(kt.BIN, built)), limit, built)

    def test_version_resource(self):
        raw = self.resource(16, 1)
        nodes = list(kt.walk_version_nodes(raw))
        self.assertEqual(nodes[0][1], "VS_VERSION_INFO")
        fixed = struct.unpack("<13I", nodes[0][2])
        self.assertEqual(fixed[0], 0xFEEF04BD)
        self.assertEqual(fixed[2:6], (0x00010000, 0, 0x00010000, 0))  # file and product 1.0.0.0
        self.assertEqual(fixed[7], 0)  # no flags
        self.assertEqual(fixed[8], 0x00000004)  # VOS__WINDOWS32
        self.assertEqual(fixed[9], 1)  # VFT_APP

        tables = [n for n in nodes if n[0] == 2 and n[1] != "Translation"]
        self.assertEqual([t[1] for t in tables], ["040904E4"])
        strings = {n[1]: n[2] for n in nodes if n[0] == 3}
        self.assertEqual(set(strings), {"CompanyName", "FileDescription", "FileVersion", "OriginalFilename",
                                        "ProductName", "KesLauncherID"})
        expected = {"CompanyName": "Kestrelwood", "FileDescription": "Kestrelwood", "ProductName": "Kestrelwood",
                    "FileVersion": "1.0.0.0", "OriginalFilename": "KestrelwoodStart.exe",
                    "KesLauncherID": "A07E5D93-1C4B-4F26-8E7D-52B9C3F1E604"}
        for key, value in expected.items():
            # Stored with exactly one terminating NUL.
            self.assertEqual(strings[key].decode("utf-16-le"), value + "\0", key)
        translations = [n[2] for n in nodes if n[1] == "Translation"]
        self.assertEqual(translations, [struct.pack("<HH", 0x0409, 1252)])

    def test_icon_is_one_64_by_64_32_bit_image(self):
        group = self.resource(14, 101)  # RT_GROUP_ICON, IDI_ICON1
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((kind, count), (1, 1))
        width, height, colors, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
        self.assertEqual((width, height, bits), (64, 64, 32))
        # PNG-compressed, as icons may be since Windows Vista: 64 by 64, 8 bits
        # for each of red, green, blue and alpha.
        image = self.resource(3, icon_id)
        self.assertEqual(image[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack_from(">4sIIBB", image, 12), (b"IHDR", 64, 64, 8, 6))
        self.assertEqual(len(image), size)

    def test_string_101(self):
        block = self.resource(6, 101 // 16 + 1)
        pos = 0
        for index in range(16):
            n = struct.unpack_from("<H", block, pos)[0]
            text = block[pos + 2:pos + 2 + 2 * n].decode("utf-16-le")
            if index == 101 % 16:
                self.assertEqual(text, "Kestrelwood")
            pos += 2 + 2 * n
        # The default build carries no other string table. The build with
        # languages carries one block of box texts per language, which say
        # what docs/languages.md shows for review, English included.
        self.assertEqual(list(string_tables("KestrelwoodStart.exe")), [(7, 0x0409)])
        self.assertEqual(sorted(string_tables("KestrelwoodStart_languages.exe")),
                         sorted([(7, 0x0409)] + [(13, lang) for lang in LANGIDS.values()]))
        documented = {}
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "docs", "languages.md"), encoding="utf-8") as f:
            for tag, text in re.findall(r"^\| [^|]+ \| ([a-z]{2}-[A-Z]{2}) \| (.*) \|$", f.read(), re.M):
                documented.setdefault(tag, []).append(html.unescape(text.replace("<br>", "\n")))
        self.assertEqual(sorted(documented), sorted(["en-US"] + list(LANGIDS)))
        for tag, texts in documented.items():
            want = box_texts("KestrelwoodStart_languages.exe", LANGIDS.get(tag))
            self.assertEqual(texts, want[:3] + [want[3] + "193"], tag)

    def test_manifest(self):
        root = ET.fromstring(self.resource(24, 1))
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
              "c": "urn:schemas-microsoft-com:compatibility.v1"}
        levels = root.findall(".//v3:requestedExecutionLevel", ns)
        self.assertEqual([e.get("level") for e in levels], ["asInvoker"])
        ids = sorted(e.get("Id").lower() for e in root.findall(".//c:supportedOS", ns))
        self.assertEqual(ids, sorted([
            "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
            "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
            "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]))
        # Nothing else: no DPI awareness, no dependency on a controls version.
        tags = {e.tag.split("}")[1] for e in root.iter()}
        self.assertEqual(tags, {"assembly", "trustInfo", "security", "requestedPrivileges",
                                "requestedExecutionLevel", "compatibility", "application", "supportedOS"})


class RelayTrace(unittest.TestCase):
    """Message boxes and the identity as the real program hands them to Windows."""

    def run_traced(self, folder, args=()):
        exe = os.path.join(folder, "KestrelwoodStart.exe")
        code, _, err = kt.run_wine(exe, args, cwd=folder, env_extra={"WINEDEBUG": "+relay"})
        return code, err

    def expected_identity(self, folder):
        return "Kestrelwood.Launcher.Install" + kt.fnv1a_units(kt.windows_path(folder).lower())

    def message_boxes(self, err):
        boxes = []
        for raw in kt.relay_calls(err, "user32.MessageBoxW"):
            owner, style = raw.split(",")[0], raw.split(",")[-1]
            boxes.append((int(owner, 16), kt.wide_args(raw), int(style, 16)))
        return boxes

    def identity_calls(self, err):
        return [kt.wide_args(raw)[0] for raw in kt.relay_calls(err, "shcore.SetCurrentProcessExplicitAppUserModelID")]

    def check_not_found(self, folder):
        code, err = self.run_traced(folder)
        self.assertEqual(code, 1)
        self.assertEqual(self.message_boxes(err), [(0, [NOT_FOUND, "Kestrelwood"], 0x30)])
        self.assertEqual(self.identity_calls(err), [self.expected_identity(folder)])
        # The identity is given before the folder is searched.
        text = err.decode("utf-8", "replace")
        first_identity = text.find("SetCurrentProcessExplicitAppUserModelID")
        first_search = text.find("FindFirstFileW(")
        self.assertGreaterEqual(first_identity, 0)
        self.assertGreater(first_search, first_identity)
        self.assertEqual(kt.started_launchers(folder), [])

    def test_not_found_box_and_identity(self):
        folder = kt.fresh_dir("relay_not_found")
        kt.place(folder, "KestrelwoodStart.exe", "KestrelwoodStart.exe")
        kt.place(folder, "fx_other_family.exe", "Other.exe")
        self.check_not_found(folder)

    def test_identity_of_a_folder_outside_ascii(self):
        folder = kt.fresh_dir("relay Spi\u00ebl \u00c4 \u4e2d\U0001F600")
        kt.place(folder, "KestrelwoodStart.exe", "KestrelwoodStart.exe")
        self.check_not_found(folder)

    def test_identity_is_given_also_when_a_launcher_starts(self):
        folder = kt.fresh_dir("relay_launcher_starts")
        kt.place(folder, "KestrelwoodStart.exe", "KestrelwoodStart.exe")
        kt.place(folder, "fx_family_1_0_0_0.exe", "Launcher.exe")
        code, err = self.run_traced(folder)
        self.assertEqual(code, 0)
        self.assertEqual(self.message_boxes(err), [])
        self.assertEqual(self.identity_calls(err), [self.expected_identity(folder)])

    def test_only_launchers_of_the_family_cost_path_normalisations(self):
        # The identity's normalisation, then two (the start program's path and
        # the candidate's) for each launcher of the family; none for the
        # foreign program or the start program itself.
        folder = kt.fresh_dir("relay_normalisations")
        for built, name in (("KestrelwoodStart.exe", "KestrelwoodStart.exe"), ("fx_family_1_0_0_0.exe", "L10.exe"),
                            ("fx_family_2_0_0_0.exe", "L20.exe"), ("fx_other_family.exe", "Other.exe")):
            kt.place(folder, built, name)
        code, err = self.run_traced(folder)
        self.assertEqual(code, 0)
        self.assertEqual(len(kt.relay_calls(err, "user32.CharLowerBuffW")), 5)

    def test_a_launcher_joins_the_start_programs_identity(self):
        # Wine's shell cannot report an identity back, so both sides are read
        # from the trace; kes-inspect must print the same text.
        rows = (("relay join Spi\u00ebl \u00c4 \u4e2d\U0001F600", str, "lifecycle_probe_1_2_0_0.exe", None),
                ("relay_join_case", str.upper, "lifecycle_probe_1_2_0_0.exe", None),
                ("relay join x86 DLL \u00c4", str, "lifecycle_probe32_dll_1_2_0_0.exe", "x86"))
        for name, spelling, probe, dll in rows:
            with self.subTest(name):
                if dll == "x86" and not kt.host_runs_32_bit():
                    self.skipTest("this kernel does not execute 32-bit programs, so Wine starts no 32-bit one")
                folder = kt.fresh_dir(name)
                kt.place(folder, "KestrelwoodStart.exe", "KestrelwoodStart.exe")
                kt.place(folder, probe, "Launcher.exe")
                if dll:
                    shutil.copy(os.path.join(kt.BUILD, dll, "bin", "kes_selfupdate.dll"), folder)
                _, err = self.run_traced(folder)
                expected = self.expected_identity(folder)
                self.assertEqual(self.identity_calls(err), [expected])
                launcher = spelling(kt.windows_path(os.path.join(folder, "Launcher.exe")))
                code, out, err = kt.run_wine(launcher, ["identity"], env_extra={"WINEDEBUG": "+relay"})
                self.assertEqual(code, 0, out)
                self.assertIn(b"result 1", out)
                self.assertEqual(self.identity_calls(err), [expected])
                code, out, _ = kt.run_wine(os.path.join(kt.BIN, "kes-inspect.exe"), [kt.windows_path(folder), "--json"])
                self.assertEqual(json.loads(out.decode("utf-8"))["identity"], expected)

    def test_pinning_that_refuses_every_launcher_says_so(self):
        # (start program, files, box, debug lines that must appear)
        studio = kt.key_digest("studio").encode()
        rows = (("KestrelwoodStart_pinned.exe", [("fx_family_5_0_0_0.exe", "L50.exe"),
                                                 ("fx_signed_other_4_0_0_0.exe", "L40.exe"),
                                                 ("fx_mixed_signer_5_0_0_0.exe", "L57.exe"),
                                                 ("fx_signed_unpinning_5_0_0_0.exe", "L58.exe"),
                                                 ("link:fx_signed_5_0_0_0.exe", "L90.exe")], NO_SIGNED_LAUNCHER,
                 [b"L50.exe refused (not signed, 0x800B0100) -- passed over",
                  b"L40.exe refused (signed with a key that is not pinned, 0x00000000, signer " +
                  kt.key_digest("other").encode() + b") -- passed over",
                  b"L57.exe refused (signature parts do not match, 0x00000000, signer " + studio + b") -- passed over",
                  b"L58.exe refused (signed, but does not pin the publisher's keys, 0x00000000, signer " + studio +
                  b") -- passed over",
                  b"L90.exe refused (a link, not a file, 0x00000000) -- passed over"]),
                # A launcher signed before the studio pinned, alone.
                ("KestrelwoodStart_pinned.exe", [("fx_signed_unpinning_5_0_0_0.exe", "L58.exe")],
                 NO_SIGNED_LAUNCHER, [b"L58.exe refused (signed, but does not pin the publisher's keys"]),
                # Nothing of the family: nothing was refused.
                ("KestrelwoodStart_pinned.exe", [("fx_other_family.exe", "Other.exe")], NOT_FOUND, []),
                # Its own version block cannot be parsed: whether it pins is
                # unknown, so it starts nothing.
                ("KestrelwoodStart_unreadable_own_version.exe", [("fx_signed_2_0_0_0.exe", "L20.exe")], NOT_FOUND,
                 [b"own version block cannot be read or parsed from the image"]))
        for start, files, box, lines in rows:
            with self.subTest(box=box[:20], files=files):
                folder = kt.fresh_dir("relay_pinned_refusal")
                kt.place(folder, start, "KestrelwoodStart.exe")
                for built, name in files:
                    kt.place(folder, built, name)
                exe = os.path.join(folder, "KestrelwoodStart.exe")
                code, _, err = kt.run_wine(exe, cwd=folder, env_extra={"WINEDEBUG": "+relay,+debugstr"})
                self.assertEqual(code, 1)
                self.assertEqual(self.message_boxes(err), [(0, [box, "Kestrelwood"], 0x30)])
                for line in lines:
                    self.assertIn(line, err)
                self.assertEqual(kt.started_launchers(folder), [])

    def test_only_the_build_that_waits_makes_a_job_and_waits(self):
        # (start program, launcher files, arguments, exit code, box, job and wait calls seen, drive letters
        # mapped onto the folder: the program runs from the first one's root, the game from the last one's)
        job_calls = ("CreateJobObjectW", "AssignProcessToJobObject", "GetQueuedCompletionStatus", "WaitForSingleObject")
        game = [("fx_family_1_0_0_0.exe", "L10.exe"), ("fx_other_family.exe", "Game.exe")]
        rows = (("KestrelwoodStart.exe", [("fx_family_1_0_0_0.exe", "L10.exe")], ["--exit", "7"], 0, None, False, ()),
                ("KestrelwoodStart_waits.exe", [("fx_family_1_0_0_0.exe", "L10.exe")], ["--exit", "7"], 7, None, True,
                 ()),
                # When none loads, the box names the loader's status.
                ("KestrelwoodStart_waits.exe", [("fx_missing_dll_9_0_0_0.exe", "L90.exe")], [], 1,
                 COULD_NOT_START + "\n\nWindows error: 3221225781", True, ()),
                # The game's code from a drive's root, and from a folder that
                # the game's image reaches by another spelling.
                ("KestrelwoodStart_waits.exe", game, ["--exit", "3", "--child", "R:\\Game.exe", "--sleep", "300",
                                                      "--exit", "42"], 42, None, True, ("r",)),
                ("KestrelwoodStart_waits.exe", game, ["--exit", "3", "--child", "S:\\Game.exe", "--sleep", "300",
                                                      "--exit", "42"], 42, None, True, ("r", "s")))
        fallback = b"L90.exe could not load, status 0xC0000135 -- trying the next launcher"
        dosdevices = os.path.join(os.path.dirname(kt.DRIVE_C), "dosdevices")
        for start, files, args, want_code, box, waits, drives in rows:
            with self.subTest(start=start, files=files, drives=drives):
                folder = kt.fresh_dir("relay_waits")
                kt.place(folder, start, "KestrelwoodStart.exe")
                for built, name in files:
                    kt.place(folder, built, name)
                exe = os.path.join(folder, "KestrelwoodStart.exe")
                try:
                    for letter in drives:
                        os.symlink(folder, os.path.join(dosdevices, letter + ":"))
                    if drives:
                        exe = drives[0].upper() + ":\\KestrelwoodStart.exe"
                    code, _, err = kt.run_wine(exe, args, cwd=folder, env_extra={"WINEDEBUG": "+relay,+debugstr"})
                finally:
                    for letter in drives:
                        os.remove(os.path.join(dosdevices, letter + ":"))
                self.assertEqual(code, want_code, err[-3000:])
                self.assertEqual(self.message_boxes(err), [(0, [box, "Kestrelwood"], 0x30)] if box else [])
                self.assertEqual(fallback in err, box is not None)
                traced = err.decode("utf-8", "replace")
                for call in job_calls[:3]:
                    self.assertEqual(f".{call}(" in traced, waits, call)
                # It sleeps on the job's port and wakes every few seconds to
                # ask the job: no polling, no timer, no blocking wait on a
                # process of its own (one asked whether it has ended, at once).
                waited_on = kt.relay_calls(err, "KERNEL32.WaitForSingleObject")
                self.assertLessEqual({raw.split(",")[-1] for raw in waited_on}, {"00000000"})
                waited = kt.relay_calls(err, "KERNEL32.GetQueuedCompletionStatus")
                self.assertEqual(bool(waited), waits)
                self.assertTrue(all(1000 <= int(raw.split(",")[-1], 16) <= 5000 for raw in waited), waited)

    def test_boxes_in_the_players_language(self):
        # (locale, start program, files, box: 0 not found, 1 none signed, or
        # the number after the "could not start" box's error label; language
        # of the table the box must show, None for English)
        not_found = ("KestrelwoodStart_languages.exe", [("fx_other_family.exe", "Other.exe")], 0)
        rows = [(tag.replace("-", "_") + ".UTF-8", *not_found, lang) for tag, lang in LANGIDS.items()] + [
            # Chinese by the script of its region, then any language by its
            # primary language; English when no table is near.
            ("zh_HK.UTF-8", *not_found, 0x0404), ("zh_SG.UTF-8", *not_found, 0x0804),
            ("pt_PT.UTF-8", *not_found, 0x0416), ("es_MX.UTF-8", *not_found, 0x0C0A),
            ("de_AT.UTF-8", *not_found, 0x0407), ("sw_KE.UTF-8", *not_found, None), ("C", *not_found, None),
            ("en_GB.UTF-8", *not_found, None),
            # The default build speaks English whatever the locale.
            ("de_DE.UTF-8", "KestrelwoodStart.exe", [], 0, None),
            # Every box, with every option on, and the error in decimal.
            ("ja_JP.UTF-8", "KestrelwoodStart_languages_waits_pinned.exe", [("fx_family_5_0_0_0.exe", "L.exe")], 1,
             0x0411),
            ("sw_KE.UTF-8", "KestrelwoodStart_languages_waits_pinned.exe", [("fx_family_5_0_0_0.exe", "L.exe")], 1,
             None),
            ("fr_FR.UTF-8", "KestrelwoodStart_languages_waits_pinned.exe",
             [("fx_signed_missing_dll_9_0_0_0.exe", "L.exe")], "3221225781", 0x040C),
            ("zh_TW.UTF-8", "KestrelwoodStart_languages.exe", [("fx_refused_by_loader_5_0_0_0.exe", "L.exe")], "193",
             0x0404),
            ("C", "KestrelwoodStart_languages.exe", [("fx_refused_by_loader_5_0_0_0.exe", "L.exe")], "193", None)]
        for locale, start, files, box, language in rows:
            with self.subTest(locale=locale, start=start, box=box):
                folder = kt.fresh_dir("relay_language")
                kt.place(folder, start, "KestrelwoodStart.exe")
                for built, name in files:
                    kt.place(folder, built, name)
                env = dict(kt.locale_env(locale), WINEDEBUG="+relay")
                code, _, err = kt.run_wine(os.path.join(folder, "KestrelwoodStart.exe"), cwd=folder, env_extra=env)
                texts = box_texts(start, language)
                want = texts[box] if box in (0, 1) else texts[2] + "\n\n" + texts[3] + box
                [(owner, (text, caption), style)] = self.message_boxes(err)
                self.assertEqual((code, owner, caption, style), (1, 0, "Kestrelwood", 0x30))
                # Wine's trace cuts a string at about 300 characters of its
                # escaped form (5 for each one outside ASCII) and says so with
                # "...": the box starts with the cut text; the rest is the
                # table's, which test_string_101 reads whole. The error line is
                # never cut here.
                cut = '"...,' in kt.relay_calls(err, "user32.MessageBoxW")[0]
                self.assertEqual(text, want[:len(text)] if cut and box in (0, 1) else want)
                self.assertGreater(len(text), 50)

    def test_could_not_start_box_with_windows_error_193(self):
        folder = kt.fresh_dir("relay_193")
        kt.place(folder, "KestrelwoodStart.exe", "KestrelwoodStart.exe")
        kt.place_refused_by_loader(folder, "Launcher.exe")
        code, err = self.run_traced(folder)
        self.assertEqual(code, 1)
        self.assertEqual(self.message_boxes(err),
                         [(0, [COULD_NOT_START + "\n\nWindows error: 193", "Kestrelwood"], 0x30)])
        self.assertEqual(kt.started_launchers(folder), [])


class CommandLineLimit(unittest.TestCase):
    """Process creation takes at most 32767 characters with the final NUL. A
    launcher command line one character too long must be refused with Windows
    error 206, never started cut short; one character less must start whole."""

    def layout(self):
        folder = kt.fresh_dir("command_line_limit")
        kt.place(folder, "KestrelwoodStart.exe", "KestrelwoodStart.exe")
        launcher = os.path.join(folder, "KestrelwoodLauncher-with-a-longer-name-1.2.exe")
        kt.place(folder, "fx_family_1_2_0_0.exe", os.path.basename(launcher))
        return folder, launcher

    def argument_for(self, launcher, total):
        # "launcher path" + blank + "argument": 2 + path + 1 + 2 + k units.
        k = total - (len(kt.windows_path(launcher)) + 2) - 1 - 2
        return "a" * k

    def test_longest_command_line_starts_whole(self):
        folder, launcher = self.layout()
        arg = self.argument_for(launcher, 32766)
        code, _, _ = kt.run_wine(os.path.join(folder, "KestrelwoodStart.exe"), [arg], cwd=folder)
        self.assertEqual(code, 0)
        record = kt.read_record(launcher)
        self.assertIsNotNone(record)
        self.assertEqual(len(record["command_line"]), 32766)
        self.assertEqual(record["args"][1:], [arg])

    def test_one_character_more_is_refused_with_206(self):
        folder, launcher = self.layout()
        arg = self.argument_for(launcher, 32767)
        code, _, err = kt.run_wine(os.path.join(folder, "KestrelwoodStart.exe"), [arg], cwd=folder,
                                   env_extra={"WINEDEBUG": "+relay"})
        self.assertEqual(code, 1)
        boxes = [kt.wide_args(raw) for raw in kt.relay_calls(err, "user32.MessageBoxW")]
        self.assertEqual(boxes, [[COULD_NOT_START + "\n\nWindows error: 206", "Kestrelwood"]])
        kt.time.sleep(0.3)
        self.assertEqual(kt.started_launchers(folder), [])


class DllPlanting(unittest.TestCase):
    # (program started, files placed, launcher it must start, that launcher's
    # arguments, programs the planted version.dll may be loaded into)
    ROWS = [
        # The fixture launcher loads version.dll by name, so the plant is live
        # in this folder; the start program must not be among its victims.
        ("KestrelwoodStart.exe", [("KestrelwoodStart.exe", "KestrelwoodStart.exe"),
                                  ("fx_family_1_2_0_0.exe", "Launcher.exe")], "Launcher.exe", ["--planted"],
         ["Launcher.exe"]),
        # Launchers that link the self-update routine: the older hands over,
        # and neither loads the plant.
        ("L10.exe", [("ref_1_0_0_0.exe", "L10.exe"), ("ref_2_0_0_0.exe", "L20.exe")], "L20.exe",
         ["--planted", "--no-self-update-scan"], []),
        # The newer one then joins the start program's identity (shell32 and
        # user32, whose Wine builds import version.dll) and prunes.
        ("L10.exe", [("ref_1_0_0_0.exe", "L10.exe"), ("ref_2_0_0_0.exe", "L20.exe")], "L20.exe",
         ["--planted", "--join-identity", "--prune", "2", "--no-self-update-scan"], []),
    ]

    def test_version_dll_in_the_game_folder_is_never_loaded(self):
        for starter, files, started, args, victims in self.ROWS:
            with self.subTest(starter=starter, args=args):
                folder = kt.fresh_dir("planting_" + starter[:-4])
                for built, name in files:
                    kt.place(folder, built, name)
                kt.place(folder, "planted_version.dll", "version.dll")
                given = [a for a in args if a != "--no-self-update-scan"] if starter == "L10.exe" else ["--planted"]
                code, _, _ = kt.run_wine(os.path.join(folder, starter), given, cwd=folder,
                                         env_extra={"WINEDLLOVERRIDES": "mscoree,mshtml=;version=n,b"})
                self.assertEqual(code, 0)
                record = kt.read_record(os.path.join(folder, started))
                self.assertIsNotNone(record, f"{starter} did not start {started}")
                self.assertEqual(record["args"][1:], args)
                log = os.path.join(folder, "planted-loads.txt")
                kt.wait_for(lambda: os.path.exists(log) or not victims, 5.0)
                loaders = []
                if os.path.exists(log):
                    with open(log, "rb") as f:
                        loaders = f.read().decode("utf-16-le").splitlines()
                self.assertEqual(loaders, [kt.windows_path(os.path.join(folder, v)) for v in victims])

    def test_a_name_replaced_from_outside_never_starts_another_file(self):
        # A Unix process (outside the Wine server, where share modes bind
        # nothing) replaces the newest launcher's name once, by rename, with a
        # program that writes a marker, at moments spread over the start:
        # whatever was held and checked, the process created from that name
        # runs the checked file or is ended before it runs. The pinned start
        # program, as it ships and as it waits, and a pinned launcher's
        # hand-over.
        for starter, files in (("KestrelwoodStart_pinned.exe", [("fx_signed_2_0_0_0.exe", "L20.exe")]),
                               ("KestrelwoodStart_waits_pinned.exe", [("fx_signed_2_0_0_0.exe", "L20.exe")]),
                               ("ref_pinned_1_0_0_0.exe", [])):
            for delay in (0.03, 0.08, 0.15, 0.25, 0.4):
                with self.subTest(starter=starter, delay=delay):
                    folder = kt.fresh_dir("swapped_name")
                    kt.place(folder, starter, "Start.exe")
                    for built, name in files:
                        kt.place(folder, built, name)
                    kt.place(folder, "fx_signed_5_0_0_0.exe", "L50.exe")
                    kt.place(folder, "self_path_probe.exe", "impostor.tmp")
                    marker = os.path.join(folder, "impostor-ran")
                    swap = threading.Timer(delay, os.replace, (os.path.join(folder, "impostor.tmp"),
                                                               os.path.join(folder, "L50.exe")))
                    swap.start()
                    kt.run_wine(os.path.join(folder, "Start.exe"), [kt.windows_path(marker)], cwd=folder)
                    swap.join()
                    self.assertFalse(kt.wait_for(lambda: os.path.exists(marker), 1.0),
                                     "a file other than the checked one ran")


class Inspect(unittest.TestCase):
    """kes-inspect: a verdict and a plain-words note for each file, the launcher
    the start program would start, and its exit codes."""
    INSPECT = os.path.join(kt.BIN, "kes-inspect.exe")
    INTACT_SIZE = os.path.getsize(os.path.join(kt.BIN, "fx_family_2_0_0_0.exe"))
    # (built file, name in the folder, verdict, words the note must hold)
    ROWS = [
        ("fx_family_2_0_0_0.exe", "Launcher_a.exe", "chosen", ""),
        ("fx_family_2_0_0_0.exe", "Launcher_b.exe", "tie-lost", "sorts first"),
        ("fx_family_1_0_0_0.exe", "Old.exe", "older", ""),
        ("fx_family_0_0_0_0.exe", "Zero0.exe", "older", "fixed file version is 0.0.0.0; only"),
        ("fx_zero_fixed_version_text.exe", "Zero.exe", "older", "fixed file version is 0.0.0.0 while the "
                                                                "FileVersion text says 2.5.0.0"),
        ("fx_id_codepage_04b0.exe", "Unicode.exe", "other-family", "string table 040904B0"),
        ("fx_id_lowercase.exe", "Lower.exe", "other-family", "case or braces"),
        ("fx_id_braced.exe", "Braced.exe", "other-family", "case or braces"),
        ("fx_id_two_nuls.exe", "TwoNuls.exe", "other-family", "two terminating NULs"),
        ("fx_id_trailing_blank.exe", "Blank.exe", "other-family", "trailing blank"),
        ("fx_id_absent.exe", "NoKey.exe", "other-family", "no KesLauncherID"),
        ("fx_other_family.exe", "Other.exe", "other-family", "another family"),
        ("fx_no_version.exe", "Plain.exe", "no-version-resource", ""),
        (os.path.join("corpus", "240_rsrc_data_size_past_file.exe"), "Cut.exe", "damaged", "damaged"),
        # A stripped launcher's image ends with the file: one byte short of it.
        (os.path.join("corpus", "420_newer_stripped_one_byte_short.exe"), "Short.exe", "damaged",
         "cut short: {:,} of {:,} bytes".format(INTACT_SIZE - 1, INTACT_SIZE)),
        # Cut behind the image (in its symbol table): the image is whole.
        (os.path.join("corpus", "424_newer_debug_cut_behind_image.exe"), "Launcher_c.exe", "tie-lost", "sorts first"),
        ("KestrelwoodStart.exe", "KestrelwoodStart.exe", "self", "start program itself"),
        # The same entries hundreds of times over: more than the check looks at.
        (os.path.join("corpus", "436_crafted_fanout_700_repeats.exe"), "FanOut.exe", "damaged",
         "resource directory too large to check"),
        # A names directory that names itself as its languages.
        (os.path.join("corpus", "642_crafted_names_directory_names_itself.exe"), "Loop.exe", "damaged",
         "layout is damaged"),
        # Never handed to the platform's version calls.
        (os.path.join("corpus", "639_crafted_ne_claims_much.exe"), "Old16.exe", "not-an-image", "an NE executable"),
        (os.path.join("corpus", "641_crafted_signature_pe00.exe"), "Pe00.exe", "not-an-image",
         "no PE\\0\\0 signature"),
        # Of the family and newer, but not what Windows starts as a program.
        ("fx_family_dll.dll", "Library.exe", "not-a-program", "a DLL (its DLL flag is set)"),
        (os.path.join("corpus", "635_crafted_not_executable.exe"), "Unmarked.exe", "not-a-program",
         "executable-image flag is clear"),
        (os.path.join("corpus", "636_crafted_subsystem_efi_application.exe"), "Efi.exe", "not-a-program",
         "built for an EFI application"),
        (os.path.join("corpus", "441_crafted_machine_arm64.exe"), "Launcher-2.0-arm64.exe", "other-machine",
         "built for ARM64; this computer runs x64 and x86"),
        (os.path.join("corpus", "443_crafted_machine_unknown.exe"), "Other-machine.exe", "other-machine",
         "built for machine 0x1234; this computer runs x64 and x86"),
    ]

    def inspect(self, *args):
        code, out, err = kt.run_wine(self.INSPECT, list(args))
        return code, out.decode("utf-8"), err.decode("utf-8", "replace")

    def test_verdicts(self):
        folder = kt.fresh_dir("inspect")
        for built, name, _, _ in self.ROWS:
            kt.place(folder, built, name)
        code, out, _ = self.inspect(kt.windows_path(folder), "--json")
        self.assertEqual(code, 0)
        report = json.loads(out)
        self.assertIsNone(report["publisherKeys"])
        self.assertIs(report["waits"], False)
        self.assertIsNone(report["tryOrder"])
        self.assertEqual(report["folder"], kt.windows_path(folder))
        self.assertEqual(report["startProgram"], kt.windows_path(os.path.join(folder, "KestrelwoodStart.exe")))
        files = {f["name"]: f for f in report["files"]}
        self.assertEqual(sorted(files), sorted(name for _, name, _, _ in self.ROWS))
        for _, name, verdict, words in self.ROWS:
            self.assertEqual(files[name]["verdict"], verdict, name)
            self.assertIn(words, files[name]["note"], name)
        self.assertEqual(files["Old.exe"]["fileVersion"], "1.0.0.0")
        self.assertEqual(files["Launcher_a.exe"]["launcherId"], kt.FAMILY_ID)
        self.assertIsNone(files["Plain.exe"]["fileVersion"])
        winner = kt.windows_path(os.path.join(folder, "Launcher_a.exe"))
        self.assertEqual(report["chosen"], winner)
        self.assertEqual(report["commandLine"], f'"{winner}"')
        # Given the start program's own path, the same report.
        code, again, _ = self.inspect(kt.windows_path(os.path.join(folder, "KestrelwoodStart.exe")), "--json")
        self.assertEqual((code, json.loads(again)), (0, report))
        # And the start program starts that launcher.
        code, _, _ = kt.run_wine(os.path.join(folder, "KestrelwoodStart.exe"), cwd=folder)
        self.assertEqual(code, 0)
        self.assertIsNotNone(kt.read_record(os.path.join(folder, "Launcher_a.exe")))

    def test_publisher_pinning(self):
        folder = kt.fresh_dir("inspect_pinned")
        kt.place(folder, "KestrelwoodStart_pinned.exe", "KestrelwoodStart.exe")
        for built, name in (("fx_signed_2_0_0_0.exe", "L20.exe"), ("fx_family_5_0_0_0.exe", "L50.exe"),
                            ("fx_signed_other_4_0_0_0.exe", "L40.exe"), ("fx_family_1_0_0_0.exe", "L10.exe"),
                            ("fx_mixed_signer_5_0_0_0.exe", "L57.exe"), ("fx_signed_unpinning_5_0_0_0.exe", "L58.exe"),
                            ("link:fx_signed_5_0_0_0.exe", "L59.exe")):
            kt.place(folder, built, name)
        digests = {publisher: kt.key_digest(publisher) for publisher in ("studio", "other")}
        code, out, _ = self.inspect(kt.windows_path(folder), "--json")
        self.assertEqual(code, 0, out)
        report = json.loads(out)
        self.assertEqual(report["publisherKeys"], [digests["studio"]])
        self.assertIs(report["waits"], False)
        files = {f["name"]: f for f in report["files"]}
        self.assertEqual(report["chosen"], kt.windows_path(os.path.join(folder, "L20.exe")))
        self.assertEqual((files["L20.exe"]["verdict"], files["L10.exe"]["verdict"]), ("chosen", "older"))
        self.assertEqual(files["L50.exe"]["verdict"], "publisher-refused")
        self.assertIn("not signed", files["L50.exe"]["note"])
        self.assertEqual(files["L40.exe"]["verdict"], "publisher-refused")
        self.assertIn("not pinned (0x00000000); its signer's key digest is " + digests["other"], files["L40.exe"]["note"])
        # What the start program refuses and why, as it refuses them.
        for name, why in (("L57.exe", "signature parts do not match"),
                          ("L58.exe", "signed, but does not pin the publisher's keys"),
                          ("L59.exe", "a link, not a file")):
            self.assertEqual(files[name]["verdict"], "publisher-refused", name)
            self.assertIn("publisher pinning: " + why, files[name]["note"])
        for name in ("L57.exe", "L58.exe", "L59.exe"):
            os.remove(os.path.join(folder, name))
        # Each file's signature, whatever its verdict.
        kt.place(folder, "fx_signed_5_0_0_0_changed.exe", "L55.exe")
        kt.place(folder, "fx_signed_other_family.exe", "Helper.exe")
        with open(os.path.join(folder, "Notes.exe"), "wb") as f:
            f.write(b"not a program")
        code, out, _ = self.inspect(kt.windows_path(folder), "--json")
        files = {f["name"]: f["signature"] for f in json.loads(out)["files"]}
        self.assertEqual(files, {
            "KestrelwoodStart.exe": "none", "L10.exe": "none", "L50.exe": "none", "Notes.exe": "none",
            "L20.exe": "signed with key " + digests["studio"], "Helper.exe": "signed with key " + digests["studio"],
            "L40.exe": "signed with key " + digests["other"], "L55.exe": "broken (0x80096010)"})
        code, text, _ = self.inspect(kt.windows_path(folder))
        self.assertIn("signature: signed with key " + digests["studio"], text)
        self.assertIn("signature: broken (0x80096010)", text)
        # --key: the digest to pin, or why there is none.
        kt.place(folder, "fx_mixed_signer_5_0_0_0.exe", "L57.exe")
        for name, want_code, want in (("L20.exe", 0, digests["studio"] + "\n"), ("L40.exe", 0, digests["other"] + "\n"),
                                      ("L57.exe", 1, "does not hold: broken (signature parts do not match)"),
                                      ("L50.exe", 1, "is not signed"), ("L55.exe", 1, "does not hold"),
                                      ("Missing.exe", 2, "cannot open")):
            code, out, err = self.inspect("--key", kt.windows_path(os.path.join(folder, name)))
            self.assertEqual(code, want_code, name)
            if want_code == 0:
                self.assertEqual(out.replace("\r\n", "\n"), want)
            else:
                self.assertEqual(out, "")
                self.assertIn(want, err)

    def test_exit_codes(self):
        folder = kt.fresh_dir("inspect_none")
        kt.place(folder, "fx_other_family.exe", "Other.exe")
        code, out, _ = self.inspect(kt.windows_path(folder), "--json")
        self.assertEqual((code, json.loads(out)["chosen"], json.loads(out)["commandLine"]), (1, None, None))
        code, out, _ = self.inspect(kt.windows_path(folder))
        self.assertEqual(code, 1)
        self.assertIn("would start no launcher", out)
        self.assertIn("Waits: no", out)
        # A start program that stays with the game says so; and the languages
        # of its boxes, English first, then as its resources order them.
        by_id = ["en-US"] + sorted(LANGIDS, key=LANGIDS.get)
        for start, waits, languages in ((None, False, None), ("KestrelwoodStart_waits.exe", True, ["en-US"]),
                                        ("KestrelwoodStart_languages.exe", False, by_id)):
            if start:
                kt.place(folder, start, "KestrelwoodStart.exe")
            code, out, _ = self.inspect(kt.windows_path(folder), "--json")
            self.assertEqual((json.loads(out)["waits"], json.loads(out)["languages"]), (waits, languages), start)
            code, out, _ = self.inspect(kt.windows_path(folder))
            self.assertIn("Waits: yes" if waits else "Waits: no", out)
            self.assertEqual("Languages of its boxes: " + ", ".join(languages or ["-"]) in out, bool(languages))
        kt.place(folder, "KestrelwoodStart_waits.exe", "KestrelwoodStart.exe")
        # And the order in which it would try the launchers, the first marked.
        for built, name in (("fx_family_1_0_0_0.exe", "L10.exe"), ("fx_family_2_0_0_0.exe", "L20b.exe"),
                            ("fx_family_2_0_0_0.exe", "L20.exe")):
            kt.place(folder, built, name)
        order = [kt.windows_path(os.path.join(folder, name)) for name in ("L20.exe", "L20b.exe", "L10.exe")]
        code, out, _ = self.inspect(kt.windows_path(folder), "--json")
        self.assertEqual(json.loads(out)["tryOrder"], order)
        code, out, _ = self.inspect(kt.windows_path(folder))
        self.assertIn(f"1. {order[0]}  (first: the player's arguments)\n  2. {order[1]}  (the player's arguments, "
                      f"then --no-self-update-scan)\n  3. {order[2]}  (", out.replace("\r\n", "\n"))
        for args in (["--verbose"], [kt.windows_path(folder), "second"], [kt.windows_path(folder) + "\\missing"]):
            code, _, err = self.inspect(*args)
            self.assertEqual(code, 2, args)


class PublisherKeysAtConfigure(unittest.TestCase):
    """A malformed key digest stops the configuration, naming it: the programs
    would ignore it and pin fewer keys than meant."""
    MODULE = os.path.join(kt.BUILD, "generated", "cmake", "KestrelwoodLauncherVersionInfo.cmake")
    GOOD = "9f" * 32

    def configure(self, call):
        script = os.path.join(kt.fresh_dir("cmake_keys"), "check.cmake")
        with open(script, "w") as f:
            f.write(f'include("{self.MODULE}")\n{call}\n')
        proc = kt.subprocess.run(["cmake", "-P", script], stdout=kt.subprocess.PIPE, stderr=kt.subprocess.STDOUT)
        return proc.returncode, proc.stdout.decode()

    def test_malformed_digests_are_refused(self):
        # (call, words the error must hold; None: the keys pass)
        rows = ((f"kes_launcher_version_info(L VERSION 1.0.0.0 PUBLISHER_KEYS xyz)", "'xyz' is not a publisher key"),
                (f"kes_launcher_version_info(L VERSION 1.0.0.0 PUBLISHER_KEYS {self.GOOD} {self.GOOD[:63]})",
                 f"'{self.GOOD[:63]}' is not"),
                (f"kes_launcher_version_info(L VERSION 1.0.0.0 PUBLISHER_KEYS {self.GOOD[:63]}g)", "g' is not"),
                ("kes_launcher_version_info(L VERSION 1.0.0.0 PUBLISHER_KEYS)", "PUBLISHER_KEYS names no key"),
                (f"kes_check_publisher_keys(KES_START_PUBLISHER_KEYS {self.GOOD} {self.GOOD}0)",
                 f"KES_START_PUBLISHER_KEYS: '{self.GOOD}0' is not"),
                (f"kes_check_publisher_keys(KES_START_PUBLISHER_KEYS {self.GOOD.upper()} {self.GOOD})", None),
                # The keys pass; in script mode the function then stops at the
                # resource compiler, which only a project has.
                (f"kes_launcher_version_info(L VERSION 1.0.0.0 PUBLISHER_KEYS {self.GOOD})", "enable the RC language"))
        for call, words in rows:
            with self.subTest(call):
                code, out = self.configure(call)
                if words is None:
                    self.assertEqual(code, 0, out)
                else:
                    self.assertNotEqual(code, 0, out)
                    self.assertIn(words, out.replace("\n  ", " "))


class Landing(unittest.TestCase):
    """An update lands while players start the game again and again: every
    start starts the intact older launcher or the complete newer one, never a
    cut file, and an updater's rename, tried again while it is refused, goes
    through."""
    WRITER = os.path.join(kt.BIN, "update_writer.exe")
    # (how the update lands, the old launcher's name, the name the update is
    # written under, the name it ends up with)
    ROWS = [
        ("in place", "Launcher-1.0.exe", "Launcher-2.0.exe", None),
        ("renamed into place", "Launcher.exe", "Launcher.exe.part", "Launcher.exe"),
    ]
    CHUNK, PAUSE_MS = 2048, 60

    def start_once(self, folder):
        """One player's start: (seconds it began and ended, launcher started).
        The start program is the build that waits, whose selection is the
        same: when it has ended, its launcher has written its record, and
        nothing is waited for by the clock."""
        for _ in range(2):
            begin = kt.time.time()
            code, _, err = kt.run_wine(os.path.join(folder, "KestrelwoodStart.exe"), cwd=folder,
                                       env_extra={"WINEDEBUG": "+relay"})
            end = kt.time.time()
            boxes = [kt.wide_args(raw) for raw in kt.relay_calls(err, "user32.MessageBoxW")]
            if code == 0 or not kt.wine_failed_start(err):
                break
        self.assertEqual((code, boxes), (0, []))
        started = kt.started_launchers(folder)
        self.assertEqual(len(started), 1, started)
        kt.clear_records(folder)
        return begin, end, started[0]

    def test_update_lands_while_the_game_is_started(self):
        for mode, old, written, final in self.ROWS:
            with self.subTest(mode):
                folder = kt.fresh_dir("landing")
                kt.place(folder, "KestrelwoodStart_waits.exe", "KestrelwoodStart.exe")
                kt.place(folder, "fx_family_1_0_0_0.exe", old)
                log = os.path.join(folder, "writer.log")
                args = [kt.windows_path(os.path.join(kt.BIN, "fx_family_2_0_0_0.exe")),
                        kt.windows_path(os.path.join(folder, written)), str(self.CHUNK), str(self.PAUSE_MS)]
                with open(log, "wb") as out:
                    writer = kt.subprocess.Popen([kt.WINE_RUN, self.WRITER, *args] +
                                                 ([kt.windows_path(os.path.join(folder, final))] if final else []),
                                                 stdin=kt.subprocess.DEVNULL, stdout=out, stderr=kt.subprocess.DEVNULL)
                starts = []
                while writer.poll() is None:
                    starts.append(self.start_once(folder))
                starts += [self.start_once(folder) for _ in range(3)]
                with open(log, "rb") as f:
                    report = f.read().decode().split()
                self.assertEqual((writer.returncode, report[:1]), (0, ["complete"]), report)
                # FILETIME: 100 ns units since 1601.
                complete = int(report[1]) / 1e7 - 11644473600
                before = [s[2] for s in starts if s[1] < complete]
                after = [s[2] for s in starts if s[0] > complete]
                newest = final or written
                self.assertLessEqual(set(before), {old}, "a start before the update was whole")
                self.assertEqual(set(after), {newest}, "a start after the update was whole")
                self.assertLessEqual({s[2] for s in starts}, {old, newest})
                print(f"{mode}: renames refused {report[2]}; {len(starts)} starts, {len(before)} before the update "
                      f"was whole, {len(after)} after; started: {[s[2] for s in starts]}")


    # Ten landings by a running launcher of the family, two names per version.
    LANDINGS = [(f"fx_family_{v}.exe", f"L-{v.replace('_', '.')}-{n}.exe")
                for v in ("2_0_0_0", "2_1_0_0", "4_0_0_0", "5_0_0_0", "10_0_0_0") for n in "ab"]

    def test_ten_landings_while_the_game_is_started(self):
        for scanned in (False, True):
            with self.subTest("with a scanner" if scanned else "without a scanner"):
                folder = kt.fresh_dir("landings")
                kt.place(folder, "KestrelwoodStart_waits.exe", "KestrelwoodStart.exe")
                kt.place(folder, "lifecycle_probe_1_2_0_0.exe", "Lander-1.2.exe")
                kt.place(folder, "fx_family_1_2_3_4.exe", "L-1.2.3.4.exe")
                scanner = None
                if scanned:
                    scanner = kt.subprocess.Popen([kt.WINE_RUN, os.path.join(kt.BIN, "scanner.exe"),
                                                   kt.windows_path(folder), "300"], stdin=kt.subprocess.DEVNULL,
                                                  stdout=kt.subprocess.DEVNULL, stderr=kt.subprocess.DEVNULL)
                results = []

                def land_all():
                    for built, name in self.LANDINGS:
                        _, out, _ = kt.run_wine(os.path.join(folder, "Lander-1.2.exe"),
                                                ["land", kt.windows_path(os.path.join(kt.BIN, built)), name,
                                                 "60000"])
                        results.append(out.decode("utf-8", "replace").strip())
                        kt.time.sleep(0.5)  # room for more starts between landings

                lander = threading.Thread(target=land_all)
                lander.start()
                starts = []
                try:
                    while lander.is_alive():
                        starts.append(self.start_once(folder)[2])
                    starts.append(self.start_once(folder)[2])
                finally:
                    lander.join()
                    if scanner:
                        scanner.kill()
                        scanner.wait()
                self.assertEqual(results, ["result 1"] * len(self.LANDINGS))
                whole = {"L-1.2.3.4.exe"} | {name for _, name in self.LANDINGS}
                self.assertLessEqual(set(starts), whole, "a start found something other than a whole launcher")
                self.assertEqual(starts[-1], "L-10.0.0.0-a.exe")
                self.assertEqual([n for n in os.listdir(folder) if n.endswith(".kes-landing")], [])
                print(f"{'with' if scanned else 'without'} a scanner: {len(starts)} starts during ten landings; "
                      f"started: {starts}")


class DeepPaths(unittest.TestCase):
    def make_at_length(self, name, length, start="KestrelwoodStart.exe"):
        folder = kt.deep_folder(name, "KestrelwoodStart.exe", length)
        kt.place(folder, start, "KestrelwoodStart.exe")
        kt.place(folder, "fx_signed_2_0_0_0.exe", "L.exe")
        return folder

    def test_own_path_of_260_or_more_finds_nothing(self):
        # Without its own path the start program lists nothing: not the root
        # of the current drive either, where a newer launcher, signed with the
        # pinned key, lies. 259 characters with the name included still works.
        root = os.path.join(kt.DRIVE_C, f"KesRootLauncher-{os.getpid()}.exe")
        kt.place(kt.DRIVE_C, "fx_signed_5_0_0_0.exe", os.path.basename(root))
        try:
            for start in ("KestrelwoodStart.exe", "KestrelwoodStart_pinned.exe"):
                folder = self.make_at_length("deep259", 259, start)
                code, _, _ = kt.run_wine(os.path.join(folder, "KestrelwoodStart.exe"), cwd=folder)
                self.assertEqual(code, 0, start)
                self.assertIsNotNone(kt.read_record(os.path.join(folder, "L.exe")), start)
                for length in (260, 271, 300):
                    folder = self.make_at_length(f"deep{length}", length, start)
                    code, _, err = kt.run_wine(os.path.join(folder, "KestrelwoodStart.exe"), cwd=folder,
                                               env_extra={"WINEDEBUG": "+relay,+debugstr"})
                    self.assertEqual(code, 1, (start, length))
                    boxes = [kt.wide_args(raw) for raw in kt.relay_calls(err, "user32.MessageBoxW")]
                    self.assertEqual(boxes, [[NOT_FOUND, "Kestrelwood"]], (start, length))
                    self.assertEqual(kt.started_launchers(folder), [], (start, length))
                    self.assertIsNone(kt.read_record(root, timeout=0.5), (start, length))
                    self.assertIn(b"own path cannot be read", err)
        finally:
            for leftover in (root, root + kt.RECORD_SUFFIX):
                if os.path.exists(leftover):
                    os.remove(leftover)


if __name__ == "__main__":
    unittest.main(verbosity=2)
