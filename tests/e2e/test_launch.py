#!/usr/bin/python3
"""The installed-runtime road of the real loader under Wine: the registry
lookup, the viewer's command line and folder, the splash window around the
launch, and a viewer that cannot be started.

viewer_probe stands in for the viewer: it writes down its exact command
line, its current folder and the loader's splash window as it saw it at its
start, then stays alive as long as it is told to."""

import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402

FORM_CLASS = "KorvelForm"   # the missing-runtime dialog's window class
REQUIRED_VERSION = 12000    # settings line 3 of the bench's publications
OTHER_VERSION = 11000

INFO_RTF = "{\\rtf1\\ansi The runtime module is missing.\\par}\n"

# Arguments as written on the loader's command line, and what the viewer must
# get for each (None: nothing). In the order of the command line; the tab
# inside the last entry stands between two arguments.
ARGUMENTS = [
    ('"abc"', "abc"),                       # quoted, no blank: loses its quotes
    ('""', None),                           # empty quoted argument between two others
    ('"two words"', '"two words"'),         # quoted with a blank: quoted again
    ('x"a b"y', '"x"a b"y"'),               # inner quoted section with a blank: one more pair
    ('""x', "x"),                           # empty pair at a token's start is dropped
    ('"tab\there"', "tab\there"),           # quoted with a tab, no blank: passed unquoted
    ("left\tright", "left right"),          # a tab separates arguments
]


def quoted_if_blank(path):
    return '"%s"' % path if " " in path else path


def centred_origin(screen, size):
    """Where a window of `size` starts when centred: a division truncated toward zero."""
    return int((screen - size) / 2)


def colour_count(image, left, top, width, height):
    """Number of distinct colours in a region of a PNG (ImageMagick)."""
    result = subprocess.run(
        ["convert", str(image), "-crop", "%dx%d+%d+%d" % (width, height, left, top), "+repage",
         "-format", "%k", "info:"], check=True, capture_output=True, text=True, timeout=60)
    return int(result.stdout.strip())


class LaunchTest(bench.BenchTestCase):

    # --- helpers ---------------------------------------------------------------

    def assertNoMessageBox(self, run):
        """The first stage watched the loader to its end and saw no message box."""
        watch = run.step(0)
        self.assertIsNotNone(watch, run)
        self.assertTrue(watch["ok"], watch)
        boxes = [w for w in watch["windows"] if w["message_box"]]
        self.assertEqual(boxes, [], "the loader showed a message box")
        self.assertTrue(watch["target_ended"], "the loader was still running: %r" % watch)
        return watch["windows"]

    def assertCentredSplash(self, splash, loader_pid, text, screen):
        """The viewer saw the loader's splash on the screen, with `text`, centred."""
        self.assertIsNotNone(splash, "no splash window of the loader when the viewer started")
        self.assertTrue(splash["visible"], splash)
        self.assertEqual(splash["pid"], loader_pid, "the splash is not the loader's")
        self.assertEqual(splash["text"], text)
        left, top, right, bottom = splash["rect"]
        self.assertEqual([left, top], [centred_origin(screen[0], right - left),
                                       centred_origin(screen[1], bottom - top)],
                         "splash %r is not centred on a %dx%d screen" % (splash["rect"], *screen))

    def expectedCommandLine(self, viewer, program, tail=""):
        return '%s  -p "%s"%s' % (quoted_if_blank(bench.win_path(viewer)), bench.win_path(program), tail)

    # --- an installed runtime is found ------------------------------------------------

    def test_installed_runtime_gets_exact_command_line_in_loader_folder(self):
        """Exact command line with the arguments table, the loader's folder as the
        viewer's current folder although the loader runs from another one, the
        splash up and centred while the viewer starts, and a loader that ends
        with 0 while the viewer runs on."""
        case = self.case()
        splash_text = "Opening the launch test..."
        for folder in ("pub", "elsewhere"):
            case.path(folder).mkdir()
        program = case.publication(case.settings({10: splash_text}), out="pub/publication.exe")
        case.register_runtime()
        written = " ".join(a for a, _ in ARGUMENTS)
        passed = "".join(" " + p for _, p in ARGUMENTS if p is not None)
        release = case.path("release")
        self.addCleanup(release.write_bytes, b"")  # lets the viewer end whatever happens

        run = case.run(program, command_line='"%s" %s' % (bench.win_path(program), written),
                       cwd=case.path("elsewhere"),
                       env=case.viewer_env(until_file=bench.win_path(release)),
                       ui=["watch", "--for", "25000"])
        self.assertEndedByItself(run)
        windows = self.assertNoMessageBox(run)
        # The viewer was told to stay until `release` exists, which is made only now.
        viewer = case.record("viewer.json")
        self.assertIsNotNone(viewer, "the viewer was not started")
        self.assertIsNone(case.record("viewer.json.ended"),
                          "the viewer had ended before the loader: the loader waited for it")
        release.write_bytes(b"")
        ended = case.record("viewer.json.ended", timeout=30)
        self.assertEqual((ended or {}).get("reason"), "file", ended)

        self.assertEqual(viewer["parent_pid"], run.result["pid"])
        self.assertEqual(viewer["cwd"], bench.win_path(program.parent))
        self.assertCentredSplash(viewer["splash"], run.result["pid"], splash_text, viewer["screen"])
        # The splash is the only kind of window the loader showed.
        self.assertTrue(all(w["class"] == "#32770" for w in windows), windows)
        self.assertEqual(viewer["command_line"],
                         self.expectedCommandLine(bench.VIEWER_PROBE, program, passed),
                         "arguments as written: %r" % written)

    def test_viewer_path_with_blank_and_compatibility_mark(self):
        """A viewer in a folder with a blank is quoted; a differing "Version"
        with the compatibility value "1" still launches; "*" shows no splash."""
        case = self.case()
        viewer_path = case.path("viewer folder/viewer_probe.exe")
        viewer_path.parent.mkdir()
        shutil.copyfile(bench.VIEWER_PROBE, viewer_path)
        # Left unquoted, the path would start the program named by its part
        # before the blank (Wine adds quotes to the command line it reports, so
        # only this decoy tells the two apart).
        decoy = case.path("viewer.exe")
        shutil.copyfile(bench.VIEWER_PROBE, decoy)
        case.path("my publications").mkdir()
        program = case.publication(case.settings({10: "*"}), out="my publications/publication.exe")
        case.register_runtime(viewer_path, version=OTHER_VERSION,
                              values=['"%d"="1"' % REQUIRED_VERSION])

        run = case.run(program, env=case.viewer_env(), ui=["watch", "--for", "25000"])
        self.assertEndedByItself(run)
        windows = self.assertNoMessageBox(run)
        viewer = case.record("viewer.json", timeout=10)
        self.assertIsNotNone(viewer, "the viewer was not started")
        self.assertEqual(viewer["module"], bench.win_path(viewer_path), "the decoy was started")
        self.assertEqual(viewer["command_line"], self.expectedCommandLine(viewer_path, program))
        self.assertEqual(viewer["cwd"], bench.win_path(program.parent))
        self.assertIsNone(viewer["splash"], "a splash window with settings line 10 \"*\"")
        self.assertEqual(windows, [], "the loader showed a window with settings line 10 \"*\"")

    # --- no usable runtime ---------------------------------------------------------------

    def test_no_usable_runtime_launches_nothing(self):
        """Each of these leaves the loader without a runtime: it must start no
        viewer and go on to the missing-runtime dialog (closed here)."""
        cases = [
            # what, the runtime key as register_runtime makes it (None: no key)
            ("compatibility value 1 and a blank",
             lambda case: dict(version=OTHER_VERSION, values=['"%d"="1 "' % REQUIRED_VERSION])),
            ("no compatibility value", lambda case: dict(version=OTHER_VERSION)),
            ("Path names a folder", lambda case: dict(path=case.folder)),
            ("no runtime key", None),
        ]
        for what, key in cases:
            with self.subTest(what):
                case = self.case("nothing-" + what.replace(" ", "-"))
                program = case.publication(extra={"INFO": case.packed("info", INFO_RTF)})
                if key:
                    case.register_runtime(**key(case))
                run = case.run(program, env=case.viewer_env(),
                               ui=["wait-window", "--class", FORM_CLASS, "press", "Close", "gone"])
                self.assertIsNone(case.record("viewer.json"), "a viewer was started")
                self.assertTrue(run.step(0) and run.step(0)["ok"],
                                "no missing-runtime dialog: %r" % run.ui)
                self.assertEqual(run.ui_exit, 0, run.ui)
                self.assertEndedByItself(run)

    def test_viewer_that_cannot_be_started(self):
        """"Path" names an existing file that is no program: the start fails,
        no message is shown, the splash goes and the loader ends with 0."""
        case = self.case()
        program = case.publication()
        broken = case.write("broken viewer.exe", "this is a text file, not a program\r\n")
        case.register_runtime(broken)

        run = case.run(program, env=case.viewer_env(), ui=["watch", "--for", "25000"])
        windows = self.assertNoMessageBox(run)
        self.assertEndedByItself(run)
        self.assertTrue(all(w["class"] == "#32770" for w in windows), windows)
        self.assertIsNone(case.record("viewer.json"))

    # --- the splash on the screen --------------------------------------------------------

    def test_splash_is_painted_while_the_viewer_is_not_yet_idle(self):
        """The splash stays up, painted, as long as the viewer is not ready for
        input. The "viewer" here is a second publication that is busy running
        its runtime installer (viewer_probe, held until a file appears) and so
        never looks at its message queue until it is released."""
        case = self.case()
        splash_text = "Opening the publication..."
        busy_viewer = case.publication(
            case.settings({2: case.key + "-busy", 5: "1", 10: "*"}), out="busy viewer.exe",
            extra={"RUN": case.packed("run", "a stand-in runtime that is no program\r\n"),
                   "INST": case.packed("inst", bench.VIEWER_PROBE.read_bytes())})
        program = case.publication(case.settings({10: splash_text}))
        case.register_runtime(busy_viewer)
        run, held, shot = self.runWhileInstallerHeld(case, program)
        self.assertNoMessageBox(run)
        self.assertIsNotNone(held, "the busy viewer's installer did not start")
        self.assertCentredSplash(held["splash"], run.result["pid"], splash_text, held["screen"])
        self.assertSplashPainted(held["splash"], shot)

    def test_splash_is_painted_while_the_installer_runs(self):
        """The loader runs no message loop while its runtime installer runs,
        which can take minutes: the please-wait window must have been painted
        when it was shown, or it stands on the screen as an empty box."""
        case = self.case()
        splash_text = "Installing the viewer..."
        program = case.publication(
            case.settings({5: "1", 10: splash_text}),
            extra={"RUN": case.packed("run", "a stand-in runtime that is no program\r\n"),
                   "INST": case.packed("inst", bench.VIEWER_PROBE.read_bytes())})
        # The installer leaves the runtime file in place, so the run ends by
        # trying to start it as a temporary runtime, which fails quietly.
        run, held, shot = self.runWhileInstallerHeld(case, program)
        self.assertIsNotNone(held, "the installer did not start")
        self.assertCentredSplash(held["splash"], run.result["pid"], splash_text, held["screen"])
        self.assertSplashPainted(held["splash"], shot)

    def runWhileInstallerHeld(self, case, program):
        """Runs the program, whose runtime installer is viewer_probe held until a
        release file appears; while it is held, takes a screenshot. Returns the
        run, the probe's record (None when it never started) and the screenshot."""
        release, shot = case.path("release"), case.path("splash.png")
        seen = {}

        def while_held():
            try:
                seen["installer"] = case.record("viewer.json", timeout=45)
                if seen["installer"]:
                    self.session.screenshot(shot)
            finally:
                release.write_bytes(b"")

        run = case.run(program, env=case.viewer_env(until_file=bench.win_path(release)),
                       ui=[while_held, ["watch", "--for", "25000"]], timeout=60)
        self.assertEndedByItself(run)
        return run, seen.get("installer"), shot

    def assertSplashPainted(self, splash, shot):
        """What is on the screen: the icon at the left of the client area, the
        text after it. The template is 162 dialog units wide, the icon at
        3..17 and the text from 25 on; an unpainted window is one colour."""
        left, top, right, bottom = splash["rect"]
        frame = 5
        width, height = right - left - 2 * frame, bottom - top - 2 * frame
        unit = width / 162.0
        icon = colour_count(shot, left + frame, top + frame, int(24 * unit), height)
        text = colour_count(shot, left + frame + int(25 * unit), top + frame,
                            int(107 * unit), height)
        self.assertGreaterEqual(icon, 8, "no icon drawn in the splash (%s)" % shot)
        self.assertGreaterEqual(text, 2, "no text drawn in the splash (%s)" % shot)

if __name__ == "__main__":
    bench.run_suite()
