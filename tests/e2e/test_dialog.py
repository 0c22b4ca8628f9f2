#!/usr/bin/python3
"""The missing-runtime dialog of the real loader under Wine: its windows as
they stand on the screen, its buttons, close requests, links, keyboard
navigation, fixed size, and message 6 for a missing or damaged "INFO".

Every publication here has no runtime: its key is not in the registry and it
embeds none, so the loader goes straight to the dialog."""

import json
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402

LINK = "https://korvel.example/runtime"

# An explanation long enough to scroll, with one web address of our own.
INFO_RTF = (
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Tahoma;}}\n"
    "\\f0\\fs20 {\\b The runtime module is missing.}\\par\n\\par\n"
    "This publication needs the Korvel viewer, version 1.2 or later, which is not "
    "installed on this computer.\\par\n\\par\n"
    "You can get it from " + LINK + " and then open the publication again.\\par\n"
    + "".join("Line %d of the explanation, so that the text is long enough to scroll.\\par\n" % i
              for i in range(1, 31))
    + "}\n")

DIALOG_CHECK = bench.WIN32_DIR / "dialog_check.exe"

FORM_CLASS = "KorvelForm"
# The controls' ids, in creation order (which is also the Tab order).
FIRST_BUTTON_ID, SECOND_BUTTON_ID, INFO_VIEW_ID = 100, 101, 102

WM_CLOSE, WM_QUIT, WM_ENDSESSION, WM_SYSCOMMAND, SC_CLOSE = 0x10, 0x12, 0x16, 0x112, 0xF060
HTCLIENT, HTCAPTION, HTBORDER, HTCLOSE = 1, 2, 18, 20
ENM_LINK, ECO_READONLY, CFE_BOLD, CFE_ITALIC, CFE_UNDERLINE, CFE_STRIKEOUT, CFE_LINK, CFE_AUTOCOLOR = (
    0x04000000, 0x0800, 0x1, 0x2, 0x4, 0x8, 0x20, 0x40000000)

WS_VSCROLL, WS_HSCROLL = 0x00200000, 0x00100000
FORM_STYLE = 0x16CC0000       # visible, clip siblings and children, caption, system menu, sizing frame
FORM_EXSTYLE = 0x00010101     # control parent, modal frame, window edge
BUTTON_STYLE = 0x56011000     # child, visible, clip siblings and children, tab stop, push-like
BUTTON_EXSTYLE = 0x00010000   # control parent
INFO_STYLE = 0x56211844       # + vertical scroll bar, want-return, read-only, auto-vscroll, multi-line
INFO_EXSTYLE = 0x00010200     # control parent, client edge

# How long a page that should not open is given to turn up anyway.
NOTHING_OPENS_S = 2.0


class DialogTest(bench.BenchTestCase):

    # --- helpers ---------------------------------------------------------------

    def publication(self, case, overrides=None, info=INFO_RTF, out="publication.exe"):
        """A publication without runtime; `info` is the RTF text (packed as
        "INFO"), or bytes to use as "INFO" as they stand, or None for none."""
        extra = {}
        if isinstance(info, str):
            extra["INFO"] = case.packed("info", info)
        elif info is not None:
            extra["INFO"] = info
        return case.publication(case.settings(overrides), extra=extra, out=out)

    def assertNothingOpened(self, case, name="opened.json"):
        self.assertIsNone(case.record(name, timeout=NOTHING_OPENS_S),
                          "%s was opened: %r" % (name, case.record(name)))

    def form(self, record_step):
        """The dialog's form in a `tree` or `wait-window` step."""
        forms = [w for w in record_step["windows"] if w["class"] == FORM_CLASS]
        self.assertEqual(len(forms), 1, record_step["windows"])
        return forms[0]

    @staticmethod
    def placed(window, client_rect):
        """A child window's rectangle as [x, y, width, height] in its form's client area."""
        left, top, right, bottom = window["rect"]
        return [left - client_rect[0], top - client_rect[1], right - left, bottom - top]

    # --- the dialog as it stands -------------------------------------------------

    def assertEachWayEndsWithoutOpening(self, prefix, ways):
        """Each (what, ui steps) ends the dialog and the run, and opens nothing."""
        for what, steps in ways:
            with self.subTest(what):
                case = self.case(prefix + what.replace(" ", "-").replace("+", ""))
                opened = case.register_url_handler()
                program = self.publication(case)
                run = case.run(program, ui=["wait-window", "--class", FORM_CLASS] + steps + ["gone"])
                self.assertStagesOk(run)
                self.assertEndedByItself(run)
                self.assertNothingOpened(case, opened.name)

    def test_dialog_matches_its_layout(self):
        case = self.case()
        title = "Bench publication \xe9t\xe9"
        program = self.publication(case, {1: title, 6: "Download", 7: "Close"})
        shot = case.path("dialog.png")
        run = case.run(program, ui=[
            ["wait-window", "--class", FORM_CLASS, "tree", "details", "--class", FORM_CLASS],
            lambda: self.session.screenshot(shot),
            ["press", "Close", "gone"],
        ])
        self.assertStagesOk(run)
        self.assertEndedByItself(run)

        # When the form first shows, it is the loader's only window: the splash has gone.
        first_seen = run.step(0)
        self.assertEqual([w["class"] for w in first_seen["windows"]], [FORM_CLASS], first_seen)

        form = self.form(run.step(1))
        self.assertEqual(bench.raw(form["text"]), title.encode("latin-1"))
        self.assertEqual(form["style"], FORM_STYLE, hex(form["style"]))
        self.assertEqual(form["exstyle"], FORM_EXSTYLE, hex(form["exstyle"]))
        client = form["client"]
        self.assertEqual([client[2] - client[0], client[3] - client[1]], [477, 354])
        left, top, right, bottom = form["rect"]
        screen_width, screen_height = bench.SCREEN
        self.assertEqual([left, top], [(screen_width - (right - left)) >> 1,
                                       (screen_height - (bottom - top)) >> 1], form["rect"])

        children = form["children"]
        self.assertEqual([(c["class"], c["id"]) for c in children],
                         [("Button", FIRST_BUTTON_ID), ("Button", SECOND_BUTTON_ID),
                          ("RichEdit20A", INFO_VIEW_ID)])
        first, second, info = children
        for button, text, x in ((first, "Download", 296), (second, "Close", 384)):
            with self.subTest(button=text):
                self.assertEqual(button["text"], text)
                self.assertEqual(self.placed(button, client), [x, 320, 81, 25])
                self.assertEqual(button["style"], BUTTON_STYLE, hex(button["style"]))
                self.assertEqual(button["exstyle"], BUTTON_EXSTYLE, hex(button["exstyle"]))
        self.assertEqual(self.placed(info, client), [8, 8, 457, 305])
        # The long text scrolls vertically and never horizontally.
        self.assertEqual(info["style"], INFO_STYLE, hex(info["style"]))
        self.assertFalse(info["style"] & WS_HSCROLL)
        self.assertEqual(info["exstyle"], INFO_EXSTYLE, hex(info["exstyle"]))
        self.assertIn("You can get it from " + LINK + " and then open", info["text"])
        self.assertIn("Line 30 of the explanation", info["text"])

        details = run.step(2)
        owner = details["owner"]
        self.assertEqual(owner["class"], "KorvelApplication")
        self.assertEqual(bench.raw(owner["text"]), title.encode("latin-1"))
        self.assertFalse(owner["visible"], owner)
        self.assertFalse(owner["enabled"], "the modal run leaves the owner enabled")
        self.assertEqual(details["focus"]["id"], FIRST_BUTTON_ID, details["focus"])
        self.assertEqual(details["foreground"], form["hwnd"])
        hits = details["hit_test"]
        for place in ("left", "right", "top", "bottom", "topleft", "topright", "bottomleft",
                      "bottomright"):
            self.assertEqual(hits[place], HTBORDER, "%s: %r" % (place, hits))
        self.assertEqual([hits["caption"], hits["client"]], [HTCAPTION, HTCLIENT], hits)
        self.assertTrue(shot.is_file())

    def test_edges_do_not_resize_the_dialog_and_its_close_button_closes_it(self):
        case = self.case()
        # Without a window manager on the display, only Wine's own frame handling
        # (Managed=N) makes a press on the frame do anything at all. (A drag on
        # the caption cannot serve as a check that drags arrive: Wine's own move
        # loop ends the 32-bit process with an X error here.)
        out = "fixed-size-%s.exe" % case.key[1:9].lower()
        self.session.reg_import('[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\X11 Driver]\n'
                                '"Managed"="N"\n' % out)
        program = self.publication(case, out=out)
        drags = [["drag", "--dx", "60", "--from", "right"],
                 ["drag", "--dy", "50", "--from", "bottom"],
                 ["drag", "--dx", "40", "--dy", "40", "--from", "bottomright"],
                 ["drag", "--dx", "-40", "--dy", "-40", "--from", "topleft"],
                 ["drag", "--dx", "-50", "--from", "left"]]
        steps = []
        for drag in drags:
            steps += drag + ["--class", FORM_CLASS]
        # Wine draws the caption and frame itself here: the screenshot shows the whole dialog.
        shot = case.path("dialog-framed.png")
        opened = case.register_url_handler()
        run = case.run(program, ui=[["wait-window", "--class", FORM_CLASS],
                                    lambda: self.session.screenshot(shot),
                                    steps,
                                    # The caption's close button closes it, and opens nothing.
                                    ["drag", "--from", "close", "--class", FORM_CLASS, "gone"]])
        self.assertStagesOk(run)
        self.assertEndedByItself(run)
        self.assertEqual(run.step(0, stage=2)["hit_test"], HTCLOSE)
        self.assertNothingOpened(case, opened.name)
        for number, drag in enumerate(drags):
            step = run.step(number, stage=1)
            with self.subTest(drag=step["from"]):
                self.assertEqual(step["hit_test"], HTBORDER, step)
                self.assertFalse(step["changed"], step)

    def test_what_only_the_loader_process_can_read(self):
        """dialog_check builds the dialog with the loader's own code in its own
        process: icons, size limits, fonts, character format, links, modal runs."""
        case = self.case()
        out = case.path("check.json")
        result = self.session.wine([DIALOG_CHECK, "--out", bench.win_path(out)], check=False, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        check = json.loads(out.read_text(encoding="latin-1"))
        self.assertTrue(check["built"])
        self.assertFalse(check["form_visible_before_run"])

        # No icon at all, and a fixed size.
        self.assertEqual([check["icon_big"], check["icon_small"], check["class_icon"],
                          check["class_small_icon"]], [0, 0, 0, 0])
        self.assertEqual(check["class_background"], 15 + 1)  # COLOR_BTNFACE + 1
        self.assertEqual(check["min_track"], check["outer_size"])
        self.assertEqual(check["max_track"], check["outer_size"])

        for name in ("first_font", "second_font"):
            with self.subTest(font=name):
                font = check[name]
                self.assertTrue(font["known"], font)
                self.assertEqual([font["face"], font["height"], font["charset"]], ["Tahoma", -11, 0])
                self.assertEqual(font["others"], [0] * 11, "LOGFONT fields other than face, height, charset")

        self.assertEqual(check["info_class"], "RichEdit20A")
        self.assertTrue(check["event_mask"] & ENM_LINK)
        self.assertEqual(check["auto_url_detect"], 1)
        self.assertTrue(check["options"] & ECO_READONLY)
        # Read from where the stream stood (4 bytes in) to its end.
        self.assertEqual(check["info_text"], "Get the viewer from " + LINK + " today.")
        self.assertEqual(check["stream_left"], 0)
        # The document sets no font: the text area's own format holds for its text.
        for name in ("plain_format", "link_format"):
            with self.subTest(format=name):
                fmt = check[name]
                self.assertEqual([fmt["face"], fmt["height"], fmt["colour"], fmt["charset"]],
                                 ["Tahoma", 195, 0, 0], fmt)
                self.assertFalse(fmt["effects"] & (CFE_BOLD | CFE_ITALIC | CFE_UNDERLINE | CFE_STRIKEOUT
                                                   | CFE_AUTOCOLOR), hex(fmt["effects"]))
        self.assertFalse(check["plain_format"]["effects"] & CFE_LINK)
        self.assertTrue(check["link_format"]["effects"] & CFE_LINK, "the address is not a link")

        # Modal runs: the owner is disabled during each and enabled after it.
        expected = {"run_first_button": 1, "run_second_button": -1, "run_close": -1, "run_quit": 0}
        for name, result_value in expected.items():
            with self.subTest(run=name):
                modal = check[name]
                self.assertTrue(modal["seen"], modal)
                self.assertEqual(modal["result"], result_value)
                self.assertTrue(modal["form_visible_during"])
                self.assertFalse(modal["owner_enabled_during"])
                self.assertTrue(modal["owner_enabled_after"])
        self.assertEqual(check["run_first_button"]["focus_id_during"], FIRST_BUTTON_ID)
        # A close request sent from another thread ends the run by itself.
        self.assertEqual(check["run_close_sent_from_thread"],
                         {"result": -1, "ended_on_the_request": True})

        # Releasing the dialog destroys its windows and deletes its fonts.
        self.assertFalse(check["form_exists_after_release"])
        self.assertFalse(check["controls_exist_after_release"])
        self.assertFalse(check["fonts_exist_after_release"])
        self.assertTrue(check["application_exists_after_release"])

    # --- buttons and close requests ----------------------------------------------------

    def test_first_button_closes_the_dialog_then_opens_the_download_page(self):
        case = self.case()
        opened = case.register_url_handler()
        program = self.publication(case, {8: "http://runtime.example.invalid/get?from=dialog"})
        run = case.run(program, ui=["press", "Download", "gone"])
        self.assertStagesOk(run)
        self.assertEndedByItself(run)
        record = case.record(opened.name, timeout=10)
        self.assertIsNotNone(record, "the download page was not opened")
        self.assertTrue(record["command_line"].endswith('"http://runtime.example.invalid/get?from=dialog"'),
                        record)
        self.assertEqual(record["show_window"], 1)  # SW_SHOWNORMAL
        self.assertNothingOpened(case, opened.name + ".2")

    def test_first_button_starts_a_program_named_by_line_8(self):
        case = self.case()
        program = self.publication(case, {8: bench.win_path(bench.OPENED_PROBE)})
        run = case.run(program, env={"OPENED_PROBE_OUT": case.win("opened.json")},
                       ui=["press", "Download", "gone"])
        self.assertStagesOk(run)
        self.assertEndedByItself(run)
        record = case.record("opened.json", timeout=10)
        self.assertIsNotNone(record, "line 8 was not started")
        # No parameters: the command line is the program alone.
        self.assertEqual(record["command_line"].strip().strip('"').lower(),
                         bench.win_path(bench.OPENED_PROBE).lower(), record)
        self.assertEqual(record["show_window"], 1)
        self.assertEqual(record["startup_flags"] & 1, 1)  # STARTF_USESHOWWINDOW

    def test_second_button_and_close_requests_open_nothing(self):
        ways = [
            ("second button", ["press", "Close"]),
            ("close on the system menu", ["post", "--msg", str(WM_SYSCOMMAND), "--wparam", str(SC_CLOSE),
                                          "--class", FORM_CLASS]),
            ("Alt+F4", ["keys", "--class", FORM_CLASS, "alt+f4"]),
            ("Alt+F4 with the focus in the text", ["keys", "--class", FORM_CLASS, "tab", "tab", "alt+f4"]),
            # Sent, not posted: handled while the run waits for messages.
            ("WM_CLOSE sent from another process", ["send", "--msg", str(WM_CLOSE), "--class", FORM_CLASS]),
        ]
        self.assertEachWayEndsWithoutOpening("closed-by-", ways)

    def test_quit_and_end_of_session_end_the_run_without_opening(self):
        ways = [
            ("WM_QUIT", ["post", "--msg", str(WM_QUIT), "--class", FORM_CLASS]),
            ("end of session", ["send", "--msg", str(WM_ENDSESSION), "--wparam", "1", "--class", FORM_CLASS]),
        ]
        self.assertEachWayEndsWithoutOpening("ended-by-", ways)

    def test_end_session_without_ending_keeps_the_dialog(self):
        case = self.case()
        program = self.publication(case)
        run = case.run(program, ui=[
            "send", "--msg", str(WM_ENDSESSION), "--wparam", "0", "--class", FORM_CLASS,
            "details", "--class", FORM_CLASS, "press", "Close", "gone"])
        self.assertStagesOk(run)
        self.assertEndedByItself(run)
        self.assertEqual(run.step(1)["form"]["class"], FORM_CLASS)

    # --- links ----------------------------------------------------------------------------

    def test_pressing_a_link_opens_it_at_once_and_the_dialog_stays(self):
        for button in ("left", "right"):
            with self.subTest(button=button):
                case = self.case("link-" + button)
                opened = case.register_url_handler()
                program = self.publication(case)
                # The button stays down until the page has opened: it opens on the press.
                run = case.run(program, ui=[
                    "link", "--text", LINK, "--button", button, "--release", "no", "--class", FORM_CLASS,
                    "wait-file", case.win(opened.name),
                    "mouse-up", "--button", button,
                    "details", "--class", FORM_CLASS,
                    "press", "Close", "gone"])
                self.assertStagesOk(run)
                self.assertEndedByItself(run)
                record = case.record(opened.name)
                self.assertTrue(record["command_line"].endswith('"%s"' % LINK), record)
                self.assertEqual(record["show_window"], 5)  # SW_SHOW
                self.assertEqual(run.step(3)["form"]["class"], FORM_CLASS, "the dialog closed")
                # The result stays the second button's: no download page after the dialog.
                self.assertNothingOpened(case, opened.name + ".2")

    def test_a_link_too_long_to_read_whole_is_not_opened(self):
        case = self.case()
        opened = case.register_url_handler()
        long_link = "https://korvel.example/" + "a" * 1100
        rtf = INFO_RTF.replace("You can get it from " + LINK, "Too long: " + long_link)
        program = self.publication(case, info=rtf)
        run = case.run(program, ui=["link", "--text", "https://korvel.example/aaa", "--class", FORM_CLASS,
                                    "details", "--class", FORM_CLASS, "press", "Close", "gone"])
        self.assertStagesOk(run)
        self.assertEndedByItself(run)
        self.assertNothingOpened(case, opened.name)

    # --- keyboard -------------------------------------------------------------------------

    def test_tab_and_shift_tab_move_the_focus_in_creation_order(self):
        case = self.case()
        program = self.publication(case)
        order = [("tab", SECOND_BUTTON_ID), ("tab", INFO_VIEW_ID), ("tab", FIRST_BUTTON_ID),
                 ("shift+tab", INFO_VIEW_ID), ("shift+tab", SECOND_BUTTON_ID),
                 ("shift+tab", FIRST_BUTTON_ID)]
        steps = ["focus", "--expect-id", str(FIRST_BUTTON_ID)]
        for key, expected in order:
            steps += ["keys", "--class", FORM_CLASS, key, "focus", "--expect-id", str(expected)]
        # In the text area, typing changes nothing: it is read-only.
        steps += ["keys", "--class", FORM_CLASS, "shift+tab", "focus", "--expect-id", str(INFO_VIEW_ID),
                  "keys", "--class", FORM_CLASS, "x", "y", "enter", "space", "tree"]
        run = case.run(program, ui=[["wait-window", "--class", FORM_CLASS, "tree"] + steps,
                                    ["press", "Close", "gone"]])
        self.assertStagesOk(run)
        self.assertEndedByItself(run)
        before = self.form(run.step(1))["children"][2]["text"]
        after = self.form(run.step(len(run.records[0][0]["steps"]) - 1))["children"][2]["text"]
        self.assertEqual(after, before)

    def test_captions_empty_or_with_an_access_key_work_as_usual(self):
        cases = [
            # (what, lines 1, 6, 7, keys, page opened)
            ("empty captions, first button by space", "", "", "", ["space"], True),
            ("empty captions, second button by space", "", "", "", ["tab", "space"], False),
            ("access key of the first button", "Title", "&Download", "&Close", ["alt+d"], True),
            ("access key of the second button", "Title", "&Download", "&Close", ["alt+c"], False),
        ]
        for what, title, first, second, keys, opens in cases:
            with self.subTest(what):
                case = self.case("captions-" + what.replace(" ", "-").replace(",", ""))
                opened = case.register_url_handler()
                program = self.publication(case, {1: title, 6: first, 7: second})
                run = case.run(program, ui=["wait-window", "--class", FORM_CLASS, "tree",
                                            "keys", "--class", FORM_CLASS] + keys + ["gone"])
                self.assertStagesOk(run)
                self.assertEndedByItself(run)
                form = self.form(run.step(1))
                self.assertEqual(form["text"], title)
                self.assertEqual([c["text"] for c in form["children"][:2]], [first, second])
                if opens:
                    record = case.record(opened.name, timeout=10)
                    self.assertIsNotNone(record, "the download page was not opened")
                    self.assertEqual(record["show_window"], 1)
                else:
                    self.assertNothingOpened(case, opened.name)

    # --- message 6 ------------------------------------------------------------------------

    def test_info_that_cannot_be_read_shows_message_6_and_no_dialog(self):
        good = None
        for what in ("missing", "empty", "damaged"):
            with self.subTest(what):
                case = self.case("message6-" + what)
                if what == "missing":
                    info = None
                elif what == "empty":
                    info = b""
                else:
                    good = case.packed("info", INFO_RTF)
                    header_size, packed_size = struct.unpack_from("<II", good, 4)
                    damaged = bytearray(good)
                    damaged[header_size + packed_size // 2] ^= 0x01
                    info = bytes(damaged)
                title = "Message six " + what
                program = self.publication(case, {1: title}, info=info)
                shot = case.path("message6.png")
                # "--no-press" ends its stage: ui_probe would read a step name after it as its value.
                run = case.run(program, ui=[["msgbox", "--no-press"], ["tree"],
                                            lambda: self.session.screenshot(shot),
                                            ["msgbox", "gone"]])
                self.assertStagesOk(run)
                self.assertEndedByItself(run)
                self.assertMessageBox(run.step(0, stage=2), bench.MESSAGE_6, title)
                shown = [w["class"] for w in run.step(0, stage=1)["windows"]]
                self.assertNotIn(FORM_CLASS, shown)


if __name__ == "__main__":
    bench.run_suite()
