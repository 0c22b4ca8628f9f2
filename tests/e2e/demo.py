#!/usr/bin/python3
"""Demo: sample publications run under Wine, with screenshots.

    demo.py [--list] [--only NAME ...] [--out DIR]

Builds nothing: build the win32 and host presets first. Each demo stamps a
publication from the built loader.exe, runs it as a reader would, prints what
happened and saves screenshots (PNG) whose paths it prints. With DISPLAY set
(and no bench session running) the windows appear on that display; otherwise
on the bench's private Xvfb display.

A new demo is one function decorated with @demo("name", "what it shows"),
taking the Demo object: d.case(name) gives a fresh case folder (see
bench.Case: publication(), register_runtime(), run(), probe()), d.shot(name)
saves a screenshot, d.say() prints.
"""

import argparse
import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402

SAMPLE_VIEWER = bench.WIN32_DIR / "sample_viewer.exe"
DEMOS = []


def demo(name, summary):
    def register(function):
        DEMOS.append((name, summary, function))
        return function
    return register


class Demo:
    def __init__(self, session, out_dir):
        self.session = session
        self.out_dir = Path(out_dir)
        self.out_dir.mkdir(parents=True, exist_ok=True)

    def case(self, name):
        return bench.Case(self.session, "demo-" + name)

    def shot(self, name):
        path = self.session.screenshot(self.out_dir / (name + ".png"))
        self.say("screenshot: %s" % path)
        return path

    def say(self, text=""):
        print("  " + text if text else "", flush=True)

    def windows(self, run, stage=0):
        """Prints the windows a watch step saw."""
        step = run.step(0, stage)
        for window in (step or {}).get("windows", []):
            kind = "message box" if window["message_box"] else "window"
            self.say("the loader showed a %s of class %s, caption %r, at %s" % (
                kind, window["class"], window["text"], window["rect"]))

    def box(self, step):
        self.say("message box %r: %r" % (step.get("caption"), step.get("text")))
        self.say("  icon %s, buttons %s" % (step.get("icon"),
                                            [b["text"] for b in step.get("buttons", [])]))

    def ending(self, run):
        self.say("the loader %s with exit code %s after %.1f s" % (
            "ended" if run.ended else "was stopped", run.exit_code,
            run.result["elapsed_ms"] / 1000.0))


@demo("installed-runtime", "a publication whose runtime is installed: splash, then the viewer")
def installed_runtime(d):
    case = d.case("installed-runtime")
    program = case.publication(case.settings({1: "Demo publication",
                                              10: "Opening the demo publication..."}))
    sample = SAMPLE_VIEWER.is_file()
    case.register_runtime(SAMPLE_VIEWER if sample else bench.VIEWER_PROBE)
    d.say("publication: %s (runtime key %s)" % (program, case.key))
    run = case.run(program, '"chapter one.htm" -x', env=case.viewer_env(),
                   ui=["watch", "--for", "20000"])
    d.windows(run)
    d.ending(run)
    viewer = case.record("viewer.json")
    if viewer:
        d.say("the viewer was started with: %s" % viewer["command_line"])
        d.say("in the folder: %s" % viewer["cwd"])
    if sample:
        tree = case.probe(["--image", "sample_viewer.exe"], ["tree"], timeout=10)
        for window in (tree or {}).get("steps", [{}])[0].get("windows", []):
            d.say("viewer window %r shows:" % window["text"])
            for child in window["children"]:
                if child["class"].lower() == "edit":
                    d.say("    %s" % child["text"].replace("\r\n", " | "))
        d.shot("installed-runtime-viewer")
        case.probe(["--image", "sample_viewer.exe"], ["press", "Close", "gone"], timeout=10)


@demo("splash", "the please-wait window, held on the screen while an installer runs")
def splash(d):
    case = d.case("splash")
    release = case.path("release")
    # The embedded installer is the viewer probe, held until the demo releases it.
    program = case.publication(
        case.settings({1: "Demo publication", 5: "1", 10: "Installing the viewer..."}),
        extra={"RUN": case.packed("run", "no program\r\n"),
               "INST": case.packed("inst", bench.VIEWER_PROBE.read_bytes())})

    def while_installing():
        try:
            record = case.record("viewer.json", timeout=45)
            splash = (record or {}).get("splash") or {}
            d.say("the splash shows %r at %s" % (splash.get("text"), splash.get("rect")))
            d.shot("splash")
        finally:
            release.write_bytes(b"")

    run = case.run(program, env=case.viewer_env(until_file=bench.win_path(release)),
                   ui=[while_installing, ["watch", "--for", "25000"]], timeout=60)
    d.ending(run)


@demo("embedded-runtime", "a publication that carries its runtime: unpacked, waited for, deleted")
def embedded_runtime(d):
    case = d.case("embedded-runtime")
    temp = case.path("temp")
    temp.mkdir()
    viewer = SAMPLE_VIEWER if SAMPLE_VIEWER.is_file() else bench.VIEWER_PROBE
    program = case.publication(
        case.settings({1: "Demo publication with its own viewer", 4: "1", 5: "1",
                       9: "demoview.exe", 10: "Preparing the viewer..."}),
        extra={"RUN": case.packed("run", viewer.read_bytes())})
    d.say("publication: %s, carrying %s as its temporary runtime (no registry)" % (program, viewer.name))
    env = dict(case.viewer_env(), TEMP=bench.win_path(temp), TMP=bench.win_path(temp))

    def while_viewer_runs():
        # The viewer is there once its window is: keep asking until it answers.
        record = None
        bench._wait_until(lambda: (temp / "demoview.exe").is_file(), 40, "the unpacked viewer")
        for _ in range(10):
            record = case.probe(["--image", "demoview.exe"], ["wait-window"], timeout=10)
            if record and record.get("ok"):
                break
        ok = bool(record and record.get("ok"))
        d.say("the viewer runs from %s: %s" % (bench.win_path(temp / "demoview.exe"),
                                                  "yes" if (temp / "demoview.exe").is_file() and ok else "no"))
        d.say("files in the temporary folder meanwhile: %s" % sorted(p.name for p in temp.iterdir()))
        d.shot("embedded-runtime-viewer")
        case.probe(["--image", "demoview.exe"], ["press", "Close", "gone"], timeout=20)

    run = case.run(program, "intro.htm", env=env, ui=[while_viewer_runs], timeout=60)
    d.ending(run)
    d.say("files in the temporary folder after the loader ended: %s" % sorted(p.name for p in temp.iterdir()))


@demo("missing-runtime", "no runtime anywhere: the dialog that says where to get one")
def missing_runtime(d):
    case = d.case("missing-runtime")
    info = (r"{\rtf1\ansi\deff0{\fonttbl{\f0 Tahoma;}}\f0\fs20 "
            r"{\b The viewer of this publication is not installed.}\par\par "
            r"This publication needs the Korvel viewer, version 12000 or later. "
            r"It is free and takes a minute to install: https://korvel.example/runtime \par\par "
            r"Press Download to open the download page, or Close to leave.\par}")
    program = case.publication(case.settings({1: "Demo publication without a viewer"}),
                               extra={"INFO": case.packed("info", info)})
    d.say("publication: %s (no runtime registered, none embedded)" % program)
    form = ["--class", "KorvelForm"]
    run = case.run(program, ui=[["wait-window"] + form,
                                lambda: d.shot("missing-runtime-dialog"),
                                ["press", "Close", "gone"]], timeout=60)
    window = ((run.step(0) or {}).get("windows") or [{}])[0]
    d.say("the loader showed %r (class %s) at %s" % (window.get("text"), window.get("class"),
                                                      window.get("rect")))
    d.ending(run)


@demo("unstamped", "the loader as built, without a publication: message 1")
def unstamped(d):
    case = d.case("unstamped")
    run = case.run(bench.LOADER, ui=[["msgbox", "--no-press"],
                                     lambda: d.shot("unstamped-message-1"),
                                     ["msgbox", "gone"]])
    d.box(run.step(0) or {})
    d.ending(run)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", action="store_true", help="list the demos")
    parser.add_argument("--only", nargs="+", metavar="NAME", help="run only these demos")
    parser.add_argument("--out", default=str(bench.BENCH_DIR / "demo"),
                        help="folder of the screenshots")
    options = parser.parse_args(argv[1:])
    if options.list:
        for name, summary, _ in DEMOS:
            print("%-20s %s" % (name, summary))
        return 0
    problems = bench.built_problems()
    if problems:
        print("\n".join(problems))
        return 1
    chosen = [d for d in DEMOS if not options.only or d[0] in options.only]

    # Joins a running bench session; otherwise starts one on DISPLAY when set.
    session = bench.setup(display=os.environ.get("DISPLAY") or None)
    print("Wine prefix %s, display %s" % (session.prefix, session.display), flush=True)
    failed = 0
    try:
        runner = Demo(session, options.out)
        for name, summary, function in chosen:
            print("\n%s: %s" % (name, summary), flush=True)
            try:
                function(runner)
            except bench.BenchError as e:
                failed += 1
                print("  failed: %s" % e, flush=True)
    finally:
        bench.teardown()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
