#!/usr/bin/env python3
"""getSelfPath reads the running program's path into 260 characters: a path of
259 characters is returned, one of 260 or more gives an empty path. The probe
is started from the Unix side, because Wine's CreateProcessW refuses
application paths of MAX_PATH or more."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import kestrelwood_wine as kt  # noqa: E402


class SelfPathLength(unittest.TestCase):
    def test_lengths_around_the_limit(self):
        for length in (200, 258, 259, 260, 261, 300):
            folder = kt.deep_folder(f"self_path_{length}", "self_path_probe.exe", length)
            probe = os.path.join(folder, "self_path_probe.exe")
            kt.place(folder, "self_path_probe.exe", "self_path_probe.exe")
            out = os.path.join(kt.SCRATCH, f"self_path_{length}.txt")
            if os.path.exists(out):
                os.remove(out)
            code, _, _ = kt.run_wine(probe, [kt.windows_path(out)])
            with open(out, "rb") as f:
                reported = f.read().decode("utf-8")
            if length < 260:
                self.assertEqual((code, reported), (0, kt.windows_path(probe)), length)
            else:
                self.assertEqual((code, reported), (1, ""), length)


if __name__ == "__main__":
    unittest.main(verbosity=2)
