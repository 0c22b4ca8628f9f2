// dialog_check: builds the loader's missing-runtime dialog in its own process
// and writes down what only the owning process can read: the form's icons and
// size limits, the buttons' fonts, the text area's character format, options
// and links, the results of modal runs, and what releasing the dialog frees.
//
//   dialog_check.exe --out FILE
//
// FILE receives one JSON object (see the keys below). Exit code 0 when the
// dialog could be built, 1 otherwise, 2 for a usage error.
#include "probe_common.h"

#include <richedit.h>

#include "packed/byte_stream.h"
#include "ui/missing_runtime_dialog.h"

using probe::Buffer;
using probe::Json;

namespace {

const char kLink[] = "https://korvel.example/runtime";
// Four bytes before the document: the text area must start reading where the
// stream stands, not at its start.
const char kStreamBytes[] =
    "SKIP{\\rtf1\\ansi Get the viewer from https://korvel.example/runtime today.\\par}";

struct Windows {
    HWND form = nullptr;
    HWND application = nullptr;
};

BOOL CALLBACK collect(HWND window, LPARAM param) {
    Windows& found = *reinterpret_cast<Windows*>(param);
    if (probe::isClass(window, "KorvelForm")) found.form = window;
    if (probe::isClass(window, "KorvelApplication")) found.application = window;
    return TRUE;
}

Windows findWindows() {
    Windows found;
    EnumThreadWindows(GetCurrentThreadId(), collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

void writeFont(Json& json, HWND control) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    LOGFONTA f;
    ZeroMemory(&f, sizeof f);
    bool known = font && GetObjectA(font, sizeof f, &f) == sizeof f;
    json.beginObject();
    json.key("known").boolean(known);
    json.key("face").string(f.lfFaceName);
    json.key("height").number(f.lfHeight);
    json.key("charset").number(f.lfCharSet);
    // Every other field, in LOGFONT order.
    json.key("others").beginArray();
    json.number(f.lfWidth);
    json.number(f.lfEscapement);
    json.number(f.lfOrientation);
    json.number(f.lfWeight);
    json.number(f.lfItalic);
    json.number(f.lfUnderline);
    json.number(f.lfStrikeOut);
    json.number(f.lfOutPrecision);
    json.number(f.lfClipPrecision);
    json.number(f.lfQuality);
    json.number(f.lfPitchAndFamily);
    json.endArray();
    json.endObject();
}

void writeCharFormat(Json& json, HWND edit, LONG from, LONG to) {
    CHARRANGE range = {from, to};
    SendMessageA(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2A format;
    ZeroMemory(&format, sizeof format);
    format.cbSize = sizeof format;
    SendMessageA(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    json.beginObject();
    json.key("mask").number(format.dwMask);
    json.key("effects").number(format.dwEffects);
    json.key("height").number(format.yHeight);
    json.key("colour").number(format.crTextColor);
    json.key("charset").number(format.bCharSet);
    json.key("face").string(format.szFaceName);
    json.endObject();
}

// What a timer saw during a modal run, and the message it then sent.
struct DuringRun {
    bool seen;
    bool ownerEnabled;
    bool formVisible;
    int focusId;
    HWND form;
    HWND target;
    UINT message;
};
DuringRun during;

void CALLBACK lookDuringRun(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    Windows found = findWindows();
    during.seen = true;
    during.ownerEnabled = IsWindowEnabled(found.application) != 0;
    during.formVisible = IsWindowVisible(found.form) != 0;
    HWND focus = GetFocus();
    during.focusId = focus ? GetDlgCtrlID(focus) : 0;
    if (during.message == WM_QUIT) PostQuitMessage(0);
    else PostMessageA(during.target, during.message, 0, 0);
}

// One modal run that a timer ends by posting `message` to `target`.
int runEndedBy(MissingRuntimeDialog* dialog, HWND target, UINT message) {
    ZeroMemory(&during, sizeof during);
    during.target = target;
    during.message = message;
    SetTimer(nullptr, 0, 50, lookDuringRun);
    return runDialogModal(dialog);
}

// A close request sent from another thread: it is handled inside the run's
// wait for messages, and the run must still end on it. Should it not, a
// WM_NULL posted 3 s later ends the wait, and the run is marked as late.
struct SentFromThread {
    HWND form;
    volatile LONG fallbackPosted;
};

DWORD WINAPI sendCloseFromThread(LPVOID param) {
    SentFromThread& sent = *static_cast<SentFromThread*>(param);
    Sleep(50);
    SendMessageA(sent.form, WM_CLOSE, 0, 0);
    Sleep(3000);
    InterlockedExchange(&sent.fallbackPosted, 1);
    PostMessageA(sent.form, WM_NULL, 0, 0);
    return 0;
}

void writeRun(Json& json, const char* name, int result) {
    json.key(name).beginObject();
    json.key("result").number(result);
    json.key("seen").boolean(during.seen);
    json.key("owner_enabled_during").boolean(during.ownerEnabled);
    json.key("form_visible_during").boolean(during.formVisible);
    json.key("focus_id_during").number(during.focusId);
    json.key("owner_enabled_after").boolean(IsWindowEnabled(findWindows().application) != 0);
    json.endObject();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || strcmp(argv[1], "--out")) {
        fprintf(stderr, "usage: dialog_check --out FILE\n");
        return 2;
    }
    Buffer text;
    Json json(text);
    json.beginObject();

    Application* application = createApplication("Check title");
    MissingRuntimeDialog* dialog = buildMissingRuntimeDialog(application);
    Windows found = findWindows();
    bool built = dialog && found.form && found.application;
    json.key("built").boolean(built);
    if (built) {
        HWND form = found.form;
        HWND first = GetDlgItem(form, 100), second = GetDlgItem(form, 101), info = GetDlgItem(form, 102);
        setDialogCaptions(dialog, "Check title", "&First", "Second");
        MemoryStream* stream = MemoryStream::create();
        stream->write(kStreamBytes, sizeof kStreamBytes - 1);
        stream->seekToStart();
        char skipped[4];
        stream->read(skipped, sizeof skipped);
        loadDialogText(dialog, *stream);
        json.key("stream_left").number(stream->size() - stream->position());
        stream->release();

        json.key("form_visible_before_run").boolean(IsWindowVisible(form) != 0);
        json.key("icon_big").number(reinterpret_cast<LONG_PTR>(
            reinterpret_cast<HICON>(SendMessageA(form, WM_GETICON, ICON_BIG, 0))));
        json.key("icon_small").number(reinterpret_cast<LONG_PTR>(
            reinterpret_cast<HICON>(SendMessageA(form, WM_GETICON, ICON_SMALL, 0))));
        json.key("class_icon").number(static_cast<long long>(GetClassLongPtrA(form, GCLP_HICON)));
        json.key("class_small_icon").number(static_cast<long long>(GetClassLongPtrA(form, GCLP_HICONSM)));
        json.key("class_background").number(static_cast<long long>(GetClassLongPtrA(form, GCLP_HBRBACKGROUND)));

        RECT outer;
        GetWindowRect(form, &outer);
        json.key("outer_size").beginArray();
        json.number(outer.right - outer.left);
        json.number(outer.bottom - outer.top);
        json.endArray();
        MINMAXINFO limits;
        ZeroMemory(&limits, sizeof limits);
        SendMessageA(form, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        json.key("min_track").beginArray();
        json.number(limits.ptMinTrackSize.x);
        json.number(limits.ptMinTrackSize.y);
        json.endArray();
        json.key("max_track").beginArray();
        json.number(limits.ptMaxTrackSize.x);
        json.number(limits.ptMaxTrackSize.y);
        json.endArray();

        json.key("first_font");
        writeFont(json, first);
        json.key("second_font");
        writeFont(json, second);
        HFONT firstFont = reinterpret_cast<HFONT>(SendMessageA(first, WM_GETFONT, 0, 0));
        HFONT secondFont = reinterpret_cast<HFONT>(SendMessageA(second, WM_GETFONT, 0, 0));

        char className[64] = {};
        GetClassNameA(info, className, sizeof className);
        json.key("info_class").string(className);
        json.key("event_mask").number(static_cast<long long>(SendMessageA(info, EM_GETEVENTMASK, 0, 0)));
        json.key("auto_url_detect").number(static_cast<long long>(SendMessageA(info, EM_GETAUTOURLDETECT, 0, 0)));
        json.key("options").number(static_cast<long long>(SendMessageA(info, EM_GETOPTIONS, 0, 0)));
        Buffer content;
        probe::controlText(info, content);
        json.key("info_text").string(content.text(), content.length());
        // The link's characters, found in the text the control holds.
        const char* at = strstr(content.text(), kLink);
        LONG linkStart = at ? static_cast<LONG>(at - content.text()) : 0;
        json.key("plain_format");
        writeCharFormat(json, info, 0, 3);
        json.key("link_format");
        writeCharFormat(json, info, linkStart, linkStart + static_cast<LONG>(sizeof kLink - 1));

        // Modal runs, each ended from a timer inside the run.
        writeRun(json, "run_first_button", runEndedBy(dialog, first, BM_CLICK));
        writeRun(json, "run_second_button", runEndedBy(dialog, second, BM_CLICK));
        writeRun(json, "run_close", runEndedBy(dialog, form, WM_CLOSE));
        writeRun(json, "run_quit", runEndedBy(dialog, form, WM_QUIT));
        {
            SentFromThread sent = {form, 0};
            HANDLE thread = CreateThread(nullptr, 0, sendCloseFromThread, &sent, 0, nullptr);
            int result = runDialogModal(dialog);
            bool late = InterlockedCompareExchange(&sent.fallbackPosted, 0, 0) != 0;
            json.key("run_close_sent_from_thread").beginObject();
            json.key("result").number(result);
            json.key("ended_on_the_request").boolean(thread && !late);
            json.endObject();
            if (thread) {
                WaitForSingleObject(thread, INFINITE);
                CloseHandle(thread);
            }
        }

        releaseDialog(dialog);
        json.key("form_exists_after_release").boolean(IsWindow(form) != 0);
        json.key("controls_exist_after_release").boolean(IsWindow(first) || IsWindow(second) || IsWindow(info));
        json.key("fonts_exist_after_release").boolean(GetObjectType(firstFont) != 0 ||
                                                      GetObjectType(secondFont) != 0);
        json.key("application_exists_after_release").boolean(IsWindow(found.application) != 0);
    }
    json.endObject();
    text.append('\n');
    if (!probe::writeFileAtomically(argv[2], text.text(), text.length())) {
        fprintf(stderr, "dialog_check: cannot write %s\n", argv[2]);
        return 1;
    }
    return built ? 0 : 1;
}
