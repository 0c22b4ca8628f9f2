#!/usr/bin/python3
"""Runtime provisioning of the real loader under Wine: a publication that
embeds the viewer probe as "RUN" (and the installer probe as "INST") and
finds no installed runtime unpacks it into the temporary folder, then runs it
as a temporary runtime or runs the installer first.

Every case has a temporary folder of its own inside its case folder (TEMP and
TMP of the loader's environment), so the files that remain can be listed
exactly. No case registers a runtime beforehand: discovery always finds no
key, and provisioning runs."""

import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402

TITLE = "Atlas of rivers"
FORM_CLASS = "KorvelForm"
INFO_RTF = "{\\rtf1\\ansi\\deff0 The runtime module is missing.\\par}\n"
# Longer than any run may take: a viewer told to wait for a file must be
# released by the case, never by its own limit.
VIEWER_LIMIT_MS = 180000
RUN_TIMEOUT_S = 60.0


def quoted_if_blank(path):
    """A program path as the loader's process start writes it."""
    return '"%s"' % path if " " in path and '"' not in path else path


class ProvisionTest(bench.BenchTestCase):

    # --- helpers ---------------------------------------------------------------

    def temp_folder(self, case, name="temp", create=True):
        """The case's own temporary folder: (Unix path, Windows path with a
        final backslash as the loader forms it, environment for the run)."""
        folder = case.path(name)
        if create:
            folder.mkdir()
        win = bench.win_path(folder)
        return folder, win + "\\", {"TEMP": win, "TMP": win}

    def publication(self, case, overrides, run=True, inst=True, info=False):
        extra = {}
        if run:
            extra["RUN"] = case.packed("run", bench.VIEWER_PROBE.read_bytes())
        if inst:
            extra["INST"] = case.packed("inst", bench.INSTALLER_PROBE.read_bytes())
        if info:
            extra["INFO"] = case.packed("info", INFO_RTF)
        settings = {1: TITLE, 5: "1"}
        settings.update(overrides)
        return case.publication(case.settings(settings), extra=extra)

    @staticmethod
    def installer_env(case, mode, **more):
        env = {"INSTALLER_PROBE_OUT": case.win("installer.json"), "INSTALLER_PROBE_MODE": mode}
        for name, value in more.items():
            env["INSTALLER_PROBE_" + name.upper()] = str(value)
        return env

    def viewer_held_env(self, case):
        """The viewer stays alive until the case writes the file "release"."""
        return case.viewer_env(until_file=case.win("release"), max_ms=VIEWER_LIMIT_MS)

    @staticmethod
    def listing(folder):
        return sorted(p.name for p in Path(folder).iterdir())

    def assertInstallerStarted(self, case, program, temp_win, runtime_win, run):
        """The installer ran from the packed temporary file with the runtime
        path as its argument, in the loader's folder; returns its record."""
        installer = case.record("installer.json")
        self.assertIsNotNone(installer, "the installer was not started")
        packed = re.escape(temp_win) + r"kov[0-9A-Fa-f]{1,4}\.tmp"
        line = bench.raw(installer["command_line"]).decode("latin-1")
        match = re.fullmatch('(%s|"%s") (.*)' % (packed, packed), line)
        self.assertIsNotNone(match, line)
        program_part, argument = match.group(1), match.group(2)
        self.assertEqual(program_part, quoted_if_blank(installer["module"]), line)
        self.assertEqual(argument, runtime_win, line)
        self.assertEqual(installer["cwd"], bench.win_path(program.parent))
        self.assertEqual(installer["parent_pid"], run.result["pid"])
        # The runtime was complete when the installer got it.
        self.assertTrue(installer["argument_existed"], installer)
        self.assertEqual(installer["argument_size"], bench.VIEWER_PROBE.stat().st_size)
        self.assertTrue(installer["done"], installer)
        return installer

    def assertViewerStarted(self, case, program, viewer_win, run):
        """The viewer ran from viewer_win with the loader's path after -p, in
        the loader's folder; returns its record."""
        viewer = case.record("viewer.json")
        self.assertIsNotNone(viewer, "the viewer was not started")
        self.assertEqual(viewer["module"], viewer_win)
        self.assertEqual(viewer["command_line"],
                         '%s  -p "%s"' % (quoted_if_blank(viewer_win), bench.win_path(program)))
        self.assertEqual(viewer["cwd"], bench.win_path(program.parent))
        self.assertEqual(viewer["parent_pid"], run.result["pid"])
        return viewer

    def runWaitedFor(self, case, program, env, folder):
        """Runs a publication whose viewer is a temporary runtime: once the
        viewer is up, looks at the loader for a while, notes what the
        temporary folder holds, then lets the viewer end. Returns the run and
        what was seen while the viewer lived."""
        seen = {}

        def while_viewer_lives():
            seen["viewer_ended"] = case.path("viewer.json.ended").exists()
            seen["loader_result"] = case.path("run1.result.json").exists()
            seen["temp"] = self.listing(folder)
            case.write("release", b"")

        run = case.run(program, env=env, timeout=RUN_TIMEOUT_S, ui=[
            ["wait-file", case.win("viewer.json"), "watch", "--for", "500"],
            while_viewer_lives,
        ])
        return run, seen

    def assertWaitedForViewer(self, case, run, seen):
        self.assertStagesOk(run)
        watch = run.step(1)
        # While the viewer lived the loader was still running, and showed no window:
        # the splash had been hidden before the start.
        self.assertFalse(watch["target_ended"], watch)
        self.assertEqual(watch["windows"], [], watch)
        self.assertFalse(seen["viewer_ended"], "the viewer ended before it was released")
        self.assertFalse(seen["loader_result"], "the loader ended while the viewer lived")
        self.assertEndedByItself(run)
        ended = case.record("viewer.json.ended")
        self.assertIsNotNone(ended, "the viewer did not end")
        self.assertEqual(ended["reason"], "file", ended)

    # --- temporary runtime ---------------------------------------------------------

    def test_temporary_runtime_is_waited_for_and_deleted(self):
        case = self.case()
        folder, temp_win, env = self.temp_folder(case)
        # Line 9 names the runtime file; the installer must not run in this mode.
        program = self.publication(case, {4: "1", 9: "atlasview.exe"})
        env.update(self.viewer_held_env(case))
        env.update(self.installer_env(case, "keep"))
        run, seen = self.runWaitedFor(case, program, env, folder)

        self.assertWaitedForViewer(case, run, seen)
        viewer = self.assertViewerStarted(case, program, temp_win + "atlasview.exe", run)
        self.assertIsNone(viewer["splash"], viewer)
        self.assertIsNone(case.record("installer.json"), "the installer ran in temporary mode")
        # While the viewer ran only the runtime file was there; the packed
        # temporary file had gone already.
        self.assertEqual(seen["temp"], ["atlasview.exe"])
        self.assertEqual(self.listing(folder), [])

    # --- installer mode ------------------------------------------------------------

    def test_installer_that_keeps_the_runtime_makes_it_temporary(self):
        case = self.case()
        folder, temp_win, env = self.temp_folder(case)
        program = self.publication(case, {4: "0"})
        env.update(self.viewer_held_env(case))
        env.update(self.installer_env(case, "keep"))
        run, seen = self.runWaitedFor(case, program, env, folder)

        self.assertWaitedForViewer(case, run, seen)
        self.assertInstallerStarted(case, program, temp_win, temp_win + "koviewer.exe", run)
        viewer = self.assertViewerStarted(case, program, temp_win + "koviewer.exe", run)
        self.assertIsNone(viewer["splash"], viewer)
        self.assertEqual(seen["temp"], ["koviewer.exe"])
        self.assertEqual(self.listing(folder), [])

    def test_installer_that_registers_the_runtime_leads_to_it(self):
        case = self.case()
        folder, temp_win, env = self.temp_folder(case)
        installed = case.path("installed") / "koviewer.exe"
        program = self.publication(case, {4: "0"})
        env.update(self.viewer_held_env(case))
        # A registered "Version" other than the required 12000 does not matter here.
        env.update(self.installer_env(case, "move", key=case.key, target=bench.win_path(installed),
                                      version=11000))
        run = case.run(program, env=env, timeout=RUN_TIMEOUT_S)

        # An installed runtime is not waited for: the loader ended while the viewer lived.
        self.assertEndedByItself(run)
        self.assertFalse(case.path("viewer.json.ended").exists(), "the viewer ended before it was released")
        installer = self.assertInstallerStarted(case, program, temp_win, temp_win + "koviewer.exe", run)
        self.assertEqual(installer["registered_path"], bench.win_path(installed))
        viewer = self.assertViewerStarted(case, program, bench.win_path(installed), run)
        # Not a temporary runtime: the splash stood until the viewer was up.
        self.assertEqual((viewer["splash"] or {}).get("text"), "Please wait...", viewer)
        case.write("release", b"")
        self.assertIsNotNone(case.record("viewer.json.ended", timeout=30), "the viewer did not end")
        # The installed runtime is left alone; the temporary folder is empty.
        self.assertEqual(installed.read_bytes(), bench.VIEWER_PROBE.read_bytes())
        self.assertEqual(self.listing(folder), [])

    def test_installer_that_removes_the_runtime_leads_to_the_dialog(self):
        case = self.case()
        folder, temp_win, env = self.temp_folder(case)
        program = self.publication(case, {4: "0"}, info=True)
        env.update(case.viewer_env())
        env.update(self.installer_env(case, "delete"))
        run = case.run(program, env=env, timeout=RUN_TIMEOUT_S,
                       ui=["wait-window", "--class", FORM_CLASS, "press", "Close", "gone"])

        self.assertStagesOk(run)
        self.assertEndedByItself(run)
        self.assertEqual(bench.raw(run.step(0)["windows"][0]["text"]), TITLE.encode("latin-1"))
        self.assertInstallerStarted(case, program, temp_win, temp_win + "koviewer.exe", run)
        self.assertIsNone(case.record("viewer.json"), "a viewer was started without a runtime")
        self.assertEqual(self.listing(folder), [])

    def test_temporary_folder_with_blanks(self):
        case = self.case()
        folder, temp_win, env = self.temp_folder(case, "temp folder")
        program = self.publication(case, {4: "0"})
        env.update(case.viewer_env())
        env.update(self.installer_env(case, "keep"))
        run = case.run(program, env=env, timeout=RUN_TIMEOUT_S)

        self.assertEndedByItself(run)
        installer = self.assertInstallerStarted(case, program, temp_win, temp_win + "koviewer.exe", run)
        # Its own path in double quotes, one blank, the runtime path as it stands.
        self.assertEqual(installer["command_line"],
                         '"%s" %skoviewer.exe' % (installer["module"], temp_win))
        # The viewer's path with a blank is quoted.
        self.assertViewerStarted(case, program, temp_win + "koviewer.exe", run)
        self.assertEqual(self.listing(folder), [])

    # --- failures ------------------------------------------------------------------

    def runToMessageBox(self, case, program, env):
        run = case.run(program, env=env, timeout=RUN_TIMEOUT_S, ui=["msgbox", "gone"])
        self.assertStagesOk(run)
        self.assertEndedByItself(run)
        return run.step(0)

    def test_missing_run_shows_message_4(self):
        case = self.case()
        folder, _, env = self.temp_folder(case)
        program = self.publication(case, {4: "0"}, run=False)
        env.update(case.viewer_env())
        env.update(self.installer_env(case, "keep"))
        box = self.runToMessageBox(case, program, env)

        self.assertMessageBox(box, bench.MESSAGE_4, TITLE)
        # The packed temporary file is gone; the runtime file stays, empty.
        self.assertEqual(self.listing(folder), ["koviewer.exe"])
        self.assertEqual((folder / "koviewer.exe").stat().st_size, 0)
        self.assertIsNone(case.record("installer.json"), "the installer ran")
        self.assertIsNone(case.record("viewer.json"), "a viewer was started")

    def test_missing_inst_shows_message_5_over_a_stale_runtime(self):
        case = self.case()
        folder, _, env = self.temp_folder(case)
        viewer_bytes = bench.VIEWER_PROBE.read_bytes()
        # A runtime file of an earlier run, longer than the new one.
        (folder / "koviewer.exe").write_bytes(b"stale runtime " * (len(viewer_bytes) // 10))
        program = self.publication(case, {4: "0"}, inst=False)
        env.update(case.viewer_env())
        box = self.runToMessageBox(case, program, env)

        self.assertMessageBox(box, bench.MESSAGE_5, TITLE)
        # The runtime holds exactly the new bytes; the installer's file stays, empty.
        names = self.listing(folder)
        self.assertEqual(len(names), 2, names)
        self.assertEqual(names[1], "koviewer.exe", names)
        self.assertRegex(names[0], r"^kov[0-9A-Fa-f]{1,4}\.tmp$")
        self.assertEqual((folder / names[0]).stat().st_size, 0)
        self.assertTrue((folder / "koviewer.exe").read_bytes() == viewer_bytes,
                        "the runtime file does not hold the viewer's bytes")
        self.assertIsNone(case.record("viewer.json"), "a viewer was started")

    def test_missing_temporary_folder_shows_message_4(self):
        case = self.case()
        folder, _, env = self.temp_folder(case, "missing-temp", create=False)
        program = self.publication(case, {4: "0"})
        env.update(case.viewer_env())
        env.update(self.installer_env(case, "keep"))
        before = set(self.listing(case.folder))
        box = self.runToMessageBox(case, program, env)

        self.assertMessageBox(box, bench.MESSAGE_4, TITLE)
        self.assertFalse(folder.exists())
        # Nothing in the case folder but the run's own files.
        made = sorted(set(self.listing(case.folder)) - before)
        self.assertEqual([n for n in made if not n.startswith("run1.")], [], made)


if __name__ == "__main__":
    bench.run_suite()
