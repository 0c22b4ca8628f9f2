#!/usr/bin/python3
"""The Wine bench of the end-to-end tests: the real loader.exe, run as a
reader's Windows would run it.

Library (used by test_*.py and demo.py) and command line:

    bench.py setup       make or reuse the Wine prefix, start Xvfb and a
                         persistent wineserver, write the state file
    bench.py teardown [--force]
                         leave the session; stop the wineserver and Xvfb
                         when no other process holds it (--force: at once)
    bench.py status      print the state file

One fixture serves a whole ctest run: ctest runs `setup` first and `teardown`
last; each suite reads the state file. A suite run by hand without a state
file sets up and tears down by itself (see run_suite).

Paths come from the environment, with defaults inside the source tree:
    KORVEL_WIN32_DIR   build folder of the win32 preset (loader.exe, probes)
    KORVEL_HOST_DIR    build folder of the host preset (blobtool)
    KORVEL_E2E_DIR     the bench's own folder (prefix, state, case folders)
    BLOBTOOL           the packer (default KORVEL_HOST_DIR/tools/blobtool/blobtool)
"""

import fcntl
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import uuid
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WIN32_DIR = Path(os.environ.get("KORVEL_WIN32_DIR", REPO / "build" / "win32"))
HOST_DIR = Path(os.environ.get("KORVEL_HOST_DIR", REPO / "build" / "host"))
BENCH_DIR = Path(os.environ.get("KORVEL_E2E_DIR", HOST_DIR / "e2e"))
BLOBTOOL = Path(os.environ.get("BLOBTOOL", HOST_DIR / "tools" / "blobtool" / "blobtool"))

PREFIX = BENCH_DIR / "prefix"
STATE_FILE = BENCH_DIR / "state.json"
CASES_DIR = BENCH_DIR / "cases"
LOG_DIR = BENCH_DIR / "logs"
SCREEN = (1024, 768)

LOADER = WIN32_DIR / "loader.exe"
STAMP = WIN32_DIR / "stamp.exe"
RUN_EXACT = WIN32_DIR / "run_exact.exe"
UI_PROBE = WIN32_DIR / "ui_probe.exe"
VIEWER_PROBE = WIN32_DIR / "viewer_probe.exe"
INSTALLER_PROBE = WIN32_DIR / "installer_probe.exe"
OPENED_PROBE = WIN32_DIR / "opened_probe.exe"

RT_RCDATA = 10
SKIP = 77  # exit code that ctest reports as "skipped"

SIGNATURE = "Korvel Loader"
# The settings of a valid compiled publication, line by line; line 2 (the
# runtime key name) is filled with each case's own key.
DEFAULT_SETTINGS = [
    SIGNATURE,                            # 0 signature
    "Bench publication",                  # 1 title
    None,                                 # 2 runtime key name, "{GUID}"
    "12000",                              # 3 required runtime version
    "0",                                  # 4 temporary runtime
    "0",                                  # 5 embedded runtime
    "Download",                           # 6 first button
    "Close",                              # 7 second button
    "http://runtime.example.invalid/get", # 8 download page
    "koviewer.exe",                       # 9 runtime file name
    "Please wait...",                     # 10 splash text
]

MESSAGE_1_START = "This program cannot be run directly.\r\nPlease use Korvel at "
MESSAGE_1_END = " to create your own compiled HTML publications."
MESSAGE_2 = "Unable to read the publication data (or it may be corrupted): cannot continue."
MESSAGE_3 = "This publication seems not to have been compiled with Korvel. Unable to continue."
MESSAGE_4 = "Unable to prepare the runtime module"
MESSAGE_5 = "Unable to install the runtime module"
MESSAGE_6 = "Unable to read the publication data (or it may be corrupted)."


class BenchError(Exception):
    pass


class MachineNotReady(BenchError):
    """Wine or Xvfb is missing: the suites are skipped, not failed."""


def win_path(path):
    """The Windows path of a Unix path inside the prefix's Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def raw(text):
    """The exact bytes of a probe's JSON string (bytes above 0x7F are \\u00XX)."""
    return text.encode("latin-1")


def _wait_until(predicate, timeout, what, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise BenchError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


# --- The machine --------------------------------------------------------------

def machine_problems():
    """What keeps this machine from running the bench; empty when ready."""
    problems = []
    for tool in ("wine", "wineserver", "Xvfb"):
        if shutil.which(tool) is None:
            problems.append("%s is not installed" % tool)
    if not problems:
        probe = subprocess.run(["wine", "--version"], stdin=subprocess.DEVNULL,
                               capture_output=True, text=True)
        if probe.returncode != 0:
            problems.append("wine cannot start (%s)" % (probe.stderr.strip() or probe.stdout.strip()))
    if problems:
        problems.append("run tests/e2e/setup_machine.sh as root")
    return problems


def built_problems():
    """Which build outputs the suites need are missing."""
    missing = [p for p in (LOADER, STAMP, RUN_EXACT, UI_PROBE) if not p.is_file()]
    if not BLOBTOOL.is_file():
        missing.append(BLOBTOOL)
    return ["missing %s (build the win32 and host presets first)" % p for p in missing]


# --- The fixture: prefix, display, wineserver ------------------------------------

class Session:
    """A prepared prefix with a display. Everything the bench runs under Wine
    goes through wine()."""

    def __init__(self, display, xvfb_pid=None, prefix=PREFIX):
        self.display = display
        self.xvfb_pid = xvfb_pid
        self.prefix = Path(prefix)

    def env(self, extra=None):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEARCH": "win32",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "DISPLAY": self.display,
        })
        env.pop("WINELOADER", None)
        if extra:
            env.update(extra)
        return env

    def wine(self, args, *, timeout=120, check=True, env=None, cwd=None):
        """Runs `wine ARGS...` to its end; returns the CompletedProcess.

        Output goes through files, not pipes: the first program of a fresh
        wineserver starts Wine's services, which inherit its output handles
        and would keep a pipe open long after the program has ended."""
        command = ["wine"] + [str(a) for a in args]
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                code = subprocess.run(command, env=self.env(env), cwd=cwd, stdin=subprocess.DEVNULL,
                                      stdout=out, stderr=err, timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                raise BenchError("wine %s did not end within %s s" % (" ".join(command[1:]), timeout))
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(command, code, out.read(), err.read())
        if check and result.returncode != 0:
            raise BenchError("wine %s failed with %d: %s" % (
                " ".join(command[1:]), result.returncode,
                result.stderr.decode("latin-1", "replace")[-2000:]))
        return result

    def start_wine(self, args, *, env=None, log=None):
        """Starts `wine ARGS...` without waiting; returns the Popen."""
        out = open(log, "wb") if log else subprocess.DEVNULL
        try:
            return subprocess.Popen(["wine"] + [str(a) for a in args], env=self.env(env),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        finally:
            if log:
                out.close()

    def reg_import(self, text):
        """Imports registry text in REGEDIT4 form (one regedit process for many values)."""
        LOG_DIR.mkdir(parents=True, exist_ok=True)
        path = LOG_DIR / ("import-%s.reg" % uuid.uuid4().hex[:8])
        path.write_bytes(("REGEDIT4\r\n\r\n" + text.replace("\r\n", "\n").replace("\n", "\r\n")
                          + "\r\n").encode("latin-1"))
        try:
            self.wine(["regedit", "/S", win_path(path)])
        finally:
            path.unlink()

    def reg_query(self, key, value=None):
        """The text that `reg query` prints for a key (or one value), None when missing."""
        args = ["reg", "query", key] + (["/v", value] if value is not None else [])
        result = self.wine(args, check=False)
        if result.returncode != 0:
            return None
        return result.stdout.decode("latin-1")

    def screenshot(self, path):
        """Saves the whole screen of the session's display as a PNG."""
        path = Path(path)
        env = dict(os.environ, DISPLAY=self.display)
        if shutil.which("import"):
            subprocess.run(["import", "-window", "root", str(path)], env=env, check=True,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        else:
            xwd = subprocess.run(["xwd", "-root", "-silent"], env=env, check=True,
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
            subprocess.run(["convert", "xwd:-", str(path)], input=xwd.stdout, check=True,
                           capture_output=True, timeout=60)
        return path


def _prefix_marker():
    version = subprocess.run(["wine", "--version"], stdin=subprocess.DEVNULL,
                             capture_output=True, text=True).stdout.strip()
    return "win32 " + version


def _prefix_valid(prefix):
    marker = prefix / ".korvel-bench"
    return (marker.is_file() and marker.read_text() == _prefix_marker()
            and (prefix / "system.reg").is_file()
            and (prefix / "drive_c" / "windows" / "system32" / "user32.dll").is_file())


def _display_free(number):
    return not (Path("/tmp/.X%d-lock" % number).exists()
                or Path("/tmp/.X11-unix/X%d" % number).exists())


def _start_xvfb():
    """Starts Xvfb on a free display number; returns (display, pid)."""
    LOG_DIR.mkdir(parents=True, exist_ok=True)
    for number in range(91, 160):
        if not _display_free(number):
            continue
        log = open(LOG_DIR / "xvfb.log", "wb")
        process = subprocess.Popen(
            ["Xvfb", ":%d" % number, "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp",
             "-noreset"], stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
            start_new_session=True)
        log.close()
        socket = Path("/tmp/.X11-unix/X%d" % number)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and process.poll() is None and not socket.exists():
            time.sleep(0.05)
        if process.poll() is None and socket.exists():
            return ":%d" % number, process.pid
        if process.poll() is None:
            process.kill()
            process.wait()
    raise BenchError("could not start Xvfb on any display from :91 to :159")


def _is_our_xvfb(pid, display):
    try:
        cmdline = Path("/proc/%d/cmdline" % pid).read_bytes().split(b"\0")
    except OSError:
        return False
    return bool(cmdline) and cmdline[0].endswith(b"Xvfb") and display.encode() in cmdline


def _stop_xvfb(pid, display):
    if not pid or not _is_our_xvfb(pid, display):
        return
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and _is_our_xvfb(pid, display):
        time.sleep(0.05)
    if _is_our_xvfb(pid, display):
        os.kill(pid, signal.SIGKILL)


def _make_prefix(session):
    if PREFIX.exists():
        shutil.rmtree(PREFIX)
    PREFIX.mkdir(parents=True)
    session.wine(["wineboot", "-i"], timeout=600, check=False)
    # Wine's services can stay up after wineboot; give them a moment to end,
    # then stop the server, which writes the registry out as it ends.
    try:
        subprocess.run(["wineserver", "-w"], env=session.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    except subprocess.TimeoutExpired:
        pass
    _stop_wineserver(session)
    if not (PREFIX / "system.reg").is_file():
        raise BenchError("wineboot did not make a prefix in %s" % PREFIX)
    # A program that crashes must end with its exception code, not wait for
    # someone to close a crash dialog.
    session.reg_import('[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n')
    (PREFIX / ".korvel-bench").write_text(_prefix_marker())


def _start_session_server(session):
    """Starts the persistent server and clears the runtime keys of the last
    session. Under emulation the first programs of a fresh server now and
    then hang while Wine's services start; a second server is tried once."""
    for attempt in (1, 2):
        # A persistent server keeps each later wine start short.
        _start_persistent_wineserver(session)
        try:
            session.wine(["cmd", "/c", "exit"], timeout=300)
            # Each session starts from no runtime keys and no case folders; the
            # folders of the last one stay until then, for a look after a failure.
            session.reg_import("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\KOViewer]\n")
            return
        except BenchError as error:
            if attempt == 2:
                raise
            print("bench: %s; starting the server again" % error, file=sys.stderr)
            _stop_wineserver(session)


def _start_persistent_wineserver(session):
    """A persistent server keeps each later wine start short. One that is
    still running (from wineboot) is not persistent: it is stopped first."""
    for attempt in (1, 2):
        # The server stays behind as a daemon: it must not hold our pipes.
        code = subprocess.run(["wineserver", "-p"], env=session.env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=60).returncode
        if code == 0:
            return
        _stop_wineserver(session)
    raise BenchError("wineserver -p failed with exit code %d" % code)


class _Lock:
    """Serialises setup and teardown of the bench among processes."""

    def __enter__(self):
        BENCH_DIR.mkdir(parents=True, exist_ok=True)
        self.file = open(BENCH_DIR / "lock", "w")
        fcntl.flock(self.file, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exc):
        fcntl.flock(self.file, fcntl.LOCK_UN)
        self.file.close()


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return Path("/proc/%d" % pid).exists() and "Z" not in _process_state(pid)


def _process_state(pid):
    try:
        return Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return "Z"


def setup(display=None, holder=None):
    """Makes (or reuses) the prefix, starts Xvfb unless a display is given,
    starts a persistent wineserver and writes the state file.

    Several processes may use one session (ctest's fixture, a suite run by
    hand, the demo): each is a holder, a process id (default: this
    process), and teardown() stops the session only when no living holder
    is left."""
    problems = machine_problems()
    if problems:
        raise MachineNotReady("; ".join(problems))
    holder = holder or os.getpid()
    with _Lock():
        state = _read_state()
        if state:
            state["holders"] = sorted(set(state.get("holders", [])) | {holder})
            STATE_FILE.write_text(json.dumps(state))
            return _session_of(state)
        xvfb_pid = None
        if display is None:
            display, xvfb_pid = _start_xvfb()
        session = Session(display, xvfb_pid)
        try:
            if not _prefix_valid(PREFIX):
                _make_prefix(session)
            _start_session_server(session)
            if CASES_DIR.exists():
                shutil.rmtree(CASES_DIR)
        except BaseException:
            _stop_wineserver(session)
            _stop_xvfb(xvfb_pid, display)
            raise
        STATE_FILE.write_text(json.dumps({"display": display, "xvfb_pid": xvfb_pid,
                                          "prefix": str(PREFIX), "holders": [holder]}))
        return session


def _read_state():
    """The state file's content while its display is still there, else None."""
    try:
        state = json.loads(STATE_FILE.read_text())
    except (OSError, ValueError):
        return None
    pid, display = state.get("xvfb_pid"), state["display"]
    if pid and not _is_our_xvfb(pid, display):
        STATE_FILE.unlink()
        return None
    return state


def _session_of(state):
    return Session(state["display"], state.get("xvfb_pid"), state["prefix"])


def load_state():
    """The running session, or None."""
    state = _read_state()
    return _session_of(state) if state else None


def _stop_wineserver(session):
    for option in ("-k", "-w"):
        try:
            subprocess.run(["wineserver", option], env=session.env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        except subprocess.TimeoutExpired:
            pass


def teardown(holder=None, force=False):
    """Drops a holder of the session (default: this process) and stops the
    session when no living holder is left (or at once with force)."""
    holder = holder or os.getpid()
    with _Lock():
        state = _read_state()
        if state is None:
            return True
        holders = [h for h in state.get("holders", []) if h != holder and _alive(h)]
        if holders and not force:
            state["holders"] = holders
            STATE_FILE.write_text(json.dumps(state))
            return False
        session = _session_of(state)
        _stop_wineserver(session)
        _stop_xvfb(session.xvfb_pid, session.display)
        STATE_FILE.unlink()
        return True


# --- Settings, packing, stamping ------------------------------------------------

def settings_bytes(overrides=None, *, key="{00000000-0000-0000-0000-000000000000}",
                   lines=None, separator=b"\r\n", final_break=True):
    """The settings text of a publication: DEFAULT_SETTINGS (or `lines`) with
    the line numbers of `overrides` replaced, each line ended by `separator`
    (the last one only when final_break). Lines may be str (Latin-1) or bytes."""
    lines = list(DEFAULT_SETTINGS if lines is None else lines)
    if len(lines) > 2 and lines[2] is None:
        lines[2] = key
    for number, value in (overrides or {}).items():
        lines[number] = value
    encoded = [line if isinstance(line, bytes) else line.encode("latin-1") for line in lines]
    text = separator.join(encoded)
    return text + separator if final_break and encoded else text


def pack(source, destination):
    """Packs a file into a stored blob with blobtool."""
    if not BLOBTOOL.is_file():
        raise BenchError("blobtool is not built: %s" % BLOBTOOL)
    subprocess.run([str(BLOBTOOL), "pack", str(source), str(destination)], check=True,
                   stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return Path(destination)


def pe_resources(path):
    """The resources of a PE file: {(type, name, language): bytes}; type and
    name are ints or upper-case str, as the resource functions see them."""
    data = Path(path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise BenchError("%s is not a PE file" % path)
    sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rva, size = struct.unpack_from("<II", data, directories + 2 * 8)
    if rva == 0 or size == 0:
        return {}
    table = optional + optional_size
    spans = []
    for i in range(sections):
        vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        spans.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(address):
        for vaddr, span, rawptr in spans:
            if vaddr <= address < vaddr + span:
                return address - vaddr + rawptr
        raise BenchError("address %#x outside every section" % address)

    base = offset(rva)

    def name_at(field):
        if field & 0x80000000:
            at = base + (field & 0x7FFFFFFF)
            length = struct.unpack_from("<H", data, at)[0]
            return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return field

    def directory(at):
        named, ids = struct.unpack_from("<12xHH", data, at)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, at + 16 + 8 * i)
            yield name_at(name), target

    found = {}
    for rtype, t in directory(base):
        for rname, n in directory(base + (t & 0x7FFFFFFF)):
            for language, leaf in directory(base + (n & 0x7FFFFFFF)):
                address, length = struct.unpack_from("<II", data, base + leaf)
                start = offset(address) if length else 0
                found[(rtype, rname, language)] = data[start:start + length]
    return found


def rcdata(path, name):
    """The bytes of every RT_RCDATA resource `name` of a PE file, by language."""
    return {lang: body for (t, n, lang), body in pe_resources(path).items()
            if t == RT_RCDATA and n == name}


# --- Runs ------------------------------------------------------------------------

class Run:
    """What one run of a program under run_exact gave."""

    def __init__(self, result, records, command_line):
        self.result = result              # run_exact's record
        self.records = records            # [(ui_probe record or None, its exit code)] per stage
        self.command_line = command_line

    @property
    def ui(self):
        """The record of the first ui_probe stage."""
        return self.records[0][0] if self.records else None

    @property
    def ui_exit(self):
        return self.records[0][1] if self.records else None

    @property
    def exit_code(self):
        return self.result.get("exit_code")

    @property
    def ended(self):
        return self.result.get("ended", False)

    def step(self, number, stage=0):
        record = self.records[stage][0] if stage < len(self.records) else None
        return record["steps"][number] if record and number < len(record["steps"]) else None

    def __repr__(self):
        return "Run(result=%r, ui=%r)" % (self.result, [r for r, _ in self.records])


class Case:
    """One case: a fresh folder of its own and a registry key name of its own."""

    def __init__(self, session, name):
        self.session = session
        self.name = name
        self.folder = CASES_DIR / name
        if self.folder.exists():
            shutil.rmtree(self.folder)
        self.folder.mkdir(parents=True)
        self.key = "{%s}" % str(uuid.uuid4()).upper()
        self._runs = 0

    def path(self, name):
        return self.folder / name

    def win(self, name):
        return win_path(self.folder / name)

    def write(self, name, data):
        path = self.path(name)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data if isinstance(data, bytes) else data.encode("latin-1"))
        return path

    def settings(self, overrides=None, **options):
        """Settings bytes with this case's runtime key in line 2 (see settings_bytes)."""
        return settings_bytes(overrides, key=self.key, **options)

    def packed(self, name, data):
        """Writes data to NAME.txt, packs it to NAME.blob and returns the blob's bytes."""
        source = self.write(name + ".txt", data)
        return pack(source, self.path(name + ".blob")).read_bytes()

    def stamp(self, resources, out="publication.exe", base=None):
        """Copies the loader (or `base`) to OUT in the case folder and adds each
        resource: {NAME: bytes} adds RT_RCDATA NAME; "TYPE:NAME" keys and "-NAME"
        removals are passed to stamp.exe as they stand (value None)."""
        base = Path(base or LOADER)
        items = []
        for i, (name, body) in enumerate(resources.items()):
            if body is None:
                items.append(name)
                continue
            data_file = self.write("resource-%d-%s.bin" % (i, name.replace(":", "_").lstrip("-")), body)
            items.append("%s=%s" % (name, win_path(data_file)))
        result = self.session.wine([STAMP, win_path(base), self.win(out)] + items, check=False)
        if result.returncode != 0:
            raise BenchError("stamp failed: %s" % result.stderr.decode("latin-1", "replace"))
        return self.path(out)

    def publication(self, settings=None, *, gen=None, extra=None, out="publication.exe"):
        """A stamped publication: GEN packed from `settings` (bytes; default the
        valid settings of this case) or the exact GEN bytes `gen`, plus `extra`
        resources for stamp()."""
        if gen is None:
            gen = self.packed("gen", self.settings() if settings is None else settings)
        resources = {"GEN": gen}
        resources.update(extra or {})
        return self.stamp(resources, out=out)

    def run(self, program, args="", *, command_line=None, cwd=None, env=None, ui=None,
            timeout=30.0):
        """Runs a program under run_exact and, while it runs, ui_probe's steps on it.

        ui: the ui_probe steps, such as ["msgbox", "gone"] or ["watch", "--for",
        "3000"]; or a list of stages, each such a list or a callable run in
        between (for instance a screenshot while a box is up). command_line:
        the exact bytes (or Latin-1 str) of the command line; default: the
        program's Windows path in double quotes, then a blank and `args` when
        given. env: variables the program inherits. Returns a Run; a program
        still running after `timeout` seconds is ended by run_exact."""
        self._runs += 1
        tag = "run%d" % self._runs
        if command_line is None:
            command_line = '"%s"' % win_path(program) + (" " + args if args else "")
        command_line = command_line if isinstance(command_line, bytes) else command_line.encode("latin-1")
        cmd_file = self.write(tag + ".cmdline", command_line)
        pid_file, result_file = self.path(tag + ".pid"), self.path(tag + ".result.json")
        options = ["--cmdline-file", win_path(cmd_file), "--pid-file", win_path(pid_file),
                   "--result", win_path(result_file), "--timeout", str(int(timeout * 1000))]
        if cwd is not None:
            options += ["--cwd", cwd if isinstance(cwd, str) and ":" in cwd else win_path(cwd)]
        for name, value in (env or {}).items():
            options += ["--env", "%s=%s" % (name, value)]
        stages = [ui] if ui and isinstance(ui[0], str) else list(ui or [])
        runner = self.session.start_wine([RUN_EXACT] + options, log=self.path(tag + ".log"))
        records = []
        try:
            for number, stage in enumerate(stages):
                if callable(stage):
                    stage()
                    continue
                ui_file = self.path("%s.ui%s.json" % (tag, number or ""))
                probe = self.session.wine(
                    [UI_PROBE, "--out", win_path(ui_file), "--pid-file", win_path(pid_file),
                     "--timeout", str(int(timeout * 1000))] + list(stage),
                    timeout=timeout + 60, check=False)
                record = (json.loads(ui_file.read_text(encoding="latin-1"))
                          if ui_file.is_file() else None)
                records.append((record, probe.returncode))
            runner.wait(timeout=timeout + 60)
        finally:
            if runner.poll() is None:
                runner.kill()
                runner.wait()
        if not result_file.is_file():
            raise BenchError("run_exact left no result (log: %s)" % self.path(tag + ".log"))
        result = json.loads(result_file.read_text(encoding="latin-1"))
        return Run(result, records, command_line)

    def probe(self, target, steps, timeout=30.0):
        """Runs ui_probe once on a target given as ["--image", NAME] or
        ["--pid", N]; returns its record."""
        self._runs += 1
        out = self.path("probe%d.json" % self._runs)
        self.session.wine([UI_PROBE, "--out", win_path(out), "--timeout", str(int(timeout * 1000))]
                          + list(target) + list(steps), timeout=timeout + 60, check=False)
        return json.loads(out.read_text(encoding="latin-1")) if out.is_file() else None

    def register_runtime(self, path=None, version=12000, values=None):
        """Registers an installed runtime under this case's key:
        HKLM\\SOFTWARE\\KOViewer\\<key> with "Path" (default viewer_probe.exe)
        and "Version" as REG_DWORD (None leaves it out); `values` adds more
        lines of REGEDIT4 text, such as '"12000"="1"'."""
        lines = ['[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOViewer\\%s]' % self.key]
        target = path if isinstance(path, str) and path[1:3] == ":\\" else win_path(path or VIEWER_PROBE)
        lines.append('"Path"="%s"' % target.replace("\\", "\\\\").replace('"', '\\"'))
        if version is not None:
            lines.append('"Version"=dword:%08x' % (version & 0xFFFFFFFF))
        lines += list(values or [])
        self.session.reg_import("\n".join(lines) + "\n")

    def viewer_env(self, out_name="viewer.json", **settings):
        """Environment for viewer_probe: its record goes to OUT_NAME in the case
        folder; settings such as stay_ms=2000 or until_file=PATH become
        VIEWER_PROBE_STAY_MS, VIEWER_PROBE_UNTIL_FILE, ..."""
        env = {"VIEWER_PROBE_OUT": self.win(out_name)}
        for name, value in settings.items():
            env["VIEWER_PROBE_" + name.upper()] = str(value)
        return env

    def record(self, name, timeout=0.0):
        """A probe's JSON record in the case folder (waited for up to timeout
        seconds), or None when it is not there."""
        path = self.path(name)
        if timeout:
            try:
                _wait_until(path.is_file, timeout, name)
            except BenchError:
                return None
        if not path.is_file():
            return None
        return json.loads(path.read_text(encoding="latin-1"))

    def register_url_handler(self, out_name="opened.json"):
        """Makes opened_probe the prefix's handler of http and https, writing
        its record to OUT_NAME in this case's folder."""
        command = '"%s" --out "%s" "%%1"' % (win_path(OPENED_PROBE), self.win(out_name))
        escaped = command.replace("\\", "\\\\").replace('"', '\\"')
        text = ""
        for scheme in ("http", "https"):
            text += ('[HKEY_CLASSES_ROOT\\%s\\shell\\open\\command]\n@="%s"\n\n' % (scheme, escaped))
        self.session.reg_import(text)
        return self.path(out_name)


# --- Suites ----------------------------------------------------------------------

class BenchTestCase(unittest.TestCase):
    """Base of the suites: a session for the class, a fresh Case per test."""

    session = None

    @classmethod
    def setUpClass(cls):
        problems = built_problems()
        if problems:
            raise BenchError("; ".join(problems))
        cls.session = load_state()
        if cls.session is None:
            raise BenchError("no bench session: run `bench.py setup` or the suite through run_suite")

    def case(self, name=None):
        return Case(self.session, name or self.id().split(".", 1)[-1].replace(".", "-"))

    def assertEndedByItself(self, run):
        """The program started, ended on its own (run_exact did not stop it) with exit code 0."""
        self.assertTrue(run.result["started"], run)
        self.assertTrue(run.ended, "the loader did not end by itself: %r" % run)
        self.assertFalse(run.result["terminated"], run)
        self.assertEqual(run.exit_code, 0, run)

    def assertStagesOk(self, run):
        """Every ui_probe stage of the run left a record and succeeded."""
        for record, code in run.records:
            self.assertIsNotNone(record, run)
            self.assertEqual(code, 0, record)

    def assertMessageBox(self, step, text, caption):
        """A message box with this text and caption, the stop icon and one OK button."""
        self.assertIsNotNone(step, "no message box step")
        self.assertTrue(step.get("ok"), step.get("error"))
        self.assertEqual(step["caption"], caption)
        self.assertEqual(step["text"], text)
        self.assertEqual(step["icon"], "stop", step)
        self.assertEqual([b["text"].replace("&", "") for b in step["buttons"]], ["OK"])
        self.assertTrue(step["closed"])


def run_suite(module_name="__main__"):
    """Runs a suite file's tests in the bench session, which it joins (or
    sets up) as a holder and leaves afterwards, so a suite can also be run by
    hand. Exit code 77 when the machine cannot run Wine."""
    try:
        setup()
    except MachineNotReady as e:
        print("skipped: %s" % e)
        sys.exit(SKIP)
    try:
        program = unittest.main(module=module_name, exit=False, verbosity=2)
        ok = program.result.wasSuccessful()
    finally:
        teardown()
    sys.exit(0 if ok else 1)


def main(argv):
    if len(argv) < 2 or argv[1] not in ("setup", "teardown", "status"):
        print(__doc__)
        return 2
    # From the command line the holder is the calling process: ctest, or the
    # shell of a person who keeps a session between runs.
    if argv[1] == "setup":
        try:
            session = setup(holder=os.getppid())
        except MachineNotReady as e:
            print("skipped: %s" % e)
            return SKIP
        print("bench ready: display %s, prefix %s" % (session.display, session.prefix))
    elif argv[1] == "teardown":
        stopped = teardown(holder=os.getppid(), force="--force" in argv)
        print("bench stopped" if stopped else "bench left running for its other holders")
    else:
        print(STATE_FILE.read_text() if STATE_FILE.is_file() else "no session")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
