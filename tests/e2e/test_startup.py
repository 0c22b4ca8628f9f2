#!/usr/bin/python3
"""Start-up of the real loader under Wine: the settings resource "GEN", its
signature line, and the three start-up messages. Every run must end by
itself with exit code 0 once its message box (if any) is closed."""

import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402


class StartupTest(bench.BenchTestCase):

    def runToMessageBox(self, case, program):
        """Runs the program, reads its message box, presses OK and waits for its end."""
        run = case.run(program, ui=["msgbox", "gone"])
        self.assertEqual(run.ui_exit, 0, run.ui)
        self.assertEndedByItself(run)
        return run.step(0)

    # Message 1: no settings at all.

    def test_unstamped_loader_shows_message_1(self):
        case = self.case()
        box = self.runToMessageBox(case, bench.LOADER)
        self.assertMessage1(box)

    def test_empty_gen_shows_message_1(self):
        case = self.case()
        program = case.stamp({"GEN": b""})
        self.assertEqual(bench.rcdata(program, "GEN"), {0: b""}, "the stamped GEN is not 0 bytes")
        box = self.runToMessageBox(case, program)
        self.assertMessage1(box)

    def assertMessage1(self, box):
        self.assertTrue(box["ok"], box)
        self.assertTrue(box["text"].startswith(bench.MESSAGE_1_START), box["text"])
        self.assertTrue(box["text"].endswith(bench.MESSAGE_1_END), box["text"])
        address = box["text"][len(bench.MESSAGE_1_START):-len(bench.MESSAGE_1_END)]
        self.assertTrue(address and not any(c in address for c in " \r\n"), address)
        self.assertMessageBox(box, box["text"], "Korvel")

    # Message 2: settings that do not unpack.

    def test_gen_that_does_not_unpack_shows_message_2(self):
        cases = [
            ("a flipped byte in the body", self.flipBodyByte),
            # No 32-bit process can have this buffer: the unpack must fail cleanly.
            ("an unpacked size of 0xFFFFFFF0", lambda blob: self.setField(blob, 16, 0xFFFFFFF0)),
            ("fewer bytes than a header", lambda blob: blob[:20]),
        ]
        for what, damage in cases:
            with self.subTest(what):
                case = self.case("message2-" + what.replace(" ", "-"))
                blob = case.packed("gen", case.settings())
                program = case.publication(gen=damage(blob))
                box = self.runToMessageBox(case, program)
                self.assertMessageBox(box, bench.MESSAGE_2, "Korvel")

    @staticmethod
    def flipBodyByte(blob):
        header_size, packed_size = struct.unpack_from("<II", blob, 4)
        damaged = bytearray(blob)
        damaged[header_size + packed_size // 2] ^= 0x01
        return bytes(damaged)

    @staticmethod
    def setField(blob, offset, value):
        damaged = bytearray(blob)
        struct.pack_into("<I", damaged, offset, value)
        return bytes(damaged)

    # Message 3: settings that unpack but are not a compiled publication's.

    def test_signature_mismatch_shows_message_3(self):
        cases = [
            ("signature with a trailing blank", {0: bench.SIGNATURE + " "}, b"\r\n"),
            ("signature in lower case", {0: bench.SIGNATURE.lower()}, b"\r\n"),
            ("lines separated by LF alone", None, b"\n"),
        ]
        for what, overrides, separator in cases:
            with self.subTest(what):
                case = self.case("message3-" + what.replace(" ", "-"))
                program = case.publication(case.settings(overrides, separator=separator))
                box = self.runToMessageBox(case, program)
                self.assertMessageBox(box, bench.MESSAGE_3, "Korvel")

    # Valid settings: no message, and the run goes on to the installed viewer.

    def test_valid_settings_reach_the_viewer(self):
        for separator, what in ((b"\r\n", "CR LF"), (b"\r", "CR alone")):
            with self.subTest(what):
                case = self.case("valid-" + what.replace(" ", "-"))
                program = case.publication(case.settings(separator=separator))
                case.register_runtime()
                run = case.run(program, env=case.viewer_env(), ui=["watch", "--for", "20000"])
                self.assertEndedByItself(run)
                windows = run.step(0)["windows"]
                self.assertFalse([w for w in windows if w["message_box"]], windows)
                viewer = case.record("viewer.json")
                self.assertIsNotNone(viewer, "the viewer was not started")
                viewer_path = bench.win_path(bench.VIEWER_PROBE)
                if " " in viewer_path:
                    viewer_path = '"%s"' % viewer_path
                self.assertEqual(viewer["command_line"],
                                 '%s  -p "%s"' % (viewer_path, bench.win_path(program)))
                # Line 10 read whole with either separator.
                self.assertEqual((viewer["splash"] or {}).get("text"), "Please wait...", viewer)


if __name__ == "__main__":
    bench.run_suite()
