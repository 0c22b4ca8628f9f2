// sample_viewer.exe: stands in for the runtime module in the demo. The loader
// starts it as  viewer  -p "publication" [the reader's arguments]  and waits
// until it is idle for input; this window then shows exactly what it was given:
// the raw command line, the working folder, and the publication path after -p.
//
// It creates its window and enters the message loop at once, so the loader's
// wait for input idle ends promptly.

#include <windows.h>

#include <stdlib.h>
#include <string.h>

namespace {

const char kClassName[] = "KorvelSampleViewer";

enum : int {
  kIdCommandLine = 101,
  kIdFolder,
  kIdPublication,
  kIdArguments,
  kIdFileState,
  kIdClose = IDOK,
};

// Text on the process heap that grows as needed: no fixed buffers, no C++ runtime.
class Text {
public:
  Text() = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text() { if (data_) HeapFree(GetProcessHeap(), 0, data_); }

  const char* c_str() const { return data_ ? data_ : ""; }
  size_t size() const { return size_; }

  Text& operator+=(const char* s) { return append(s, lstrlenA(s)); }
  Text& append(const char* s, size_t n) {
    if (!reserve(size_ + n + 1)) return *this;
    memcpy(data_ + size_, s, n);
    size_ += n;
    data_[size_] = 0;
    return *this;
  }
  // Makes room for `n` bytes and returns the buffer (for the Win32 "fill a buffer" calls).
  char* buffer(size_t n) {
    if (!reserve(n + 1)) return nullptr;
    return data_;
  }
  void setSize(size_t n) {
    size_ = n;
    if (data_) data_[n] = 0;
  }

private:
  bool reserve(size_t n) {
    if (n <= capacity_) return true;
    size_t want = capacity_ * 2 > n ? capacity_ * 2 : n;
    void* p = data_ ? HeapReAlloc(GetProcessHeap(), 0, data_, want)
                    : HeapAlloc(GetProcessHeap(), 0, want);
    if (!p) return false;
    data_ = static_cast<char*>(p);
    capacity_ = want;
    return true;
  }

  char* data_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
};

// What the program was started with, read once at start.
struct Received {
  Text commandLine;    // GetCommandLineA, as it is
  Text folder;         // the current directory
  Text publication;    // the argument after -p, or a note that there is none
  Text arguments;      // the arguments after the publication path, one per line
  Text fileState;      // whether the publication file exists, and its size
};

Received received;
HFONT textFont, labelFont, titleFont, fixedFont;
HBRUSH whiteBrush, bandBrush;

void readCommandLine() {
  received.commandLine += GetCommandLineA();

  DWORD need = GetCurrentDirectoryA(0, nullptr);
  if (char* buf = received.folder.buffer(need)) {
    DWORD got = GetCurrentDirectoryA(need, buf);
    received.folder.setSize(got < need ? got : 0);
  }

  // __argv is split by the C runtime with the usual Windows quoting rules.
  int p = -1;
  for (int i = 1; i < __argc; ++i) {
    if (lstrcmpA(__argv[i], "-p") == 0) {
      p = i;
      break;
    }
  }
  if (p < 0 || p + 1 >= __argc) {
    received.publication += p < 0 ? "(none: there is no -p option)" : "(none: -p is the last argument)";
    received.fileState += "-";
  } else {
    received.publication += __argv[p + 1];
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExA(__argv[p + 1], GetFileExInfoStandard, &info) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      char line[64];
      unsigned long long size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) |
                                info.nFileSizeLow;
      wsprintfA(line, "found, %I64u bytes", size);
      received.fileState += line;
    } else {
      received.fileState += "not found";
    }
  }

  // Everything but -p and its value, each in the quotes it would need.
  for (int i = 1; i < __argc; ++i) {
    if (p >= 0 && (i == p || i == p + 1)) continue;
    if (received.arguments.size()) received.arguments += "\r\n";
    received.arguments += "\"";
    received.arguments += __argv[i];
    received.arguments += "\"";
  }
  if (!received.arguments.size()) received.arguments += "(none)";
}

HFONT makeFont(const LOGFONTA& base, int heightPercent, int weight) {
  LOGFONTA f = base;
  f.lfHeight = MulDiv(f.lfHeight, heightPercent, 100);
  f.lfWeight = weight;
  return CreateFontIndirectA(&f);
}

void makeFonts() {
  NONCLIENTMETRICSA metrics;
  metrics.cbSize = sizeof metrics;
  LOGFONTA base;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    base = metrics.lfMessageFont;
  } else {
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof base, &base);
  }
  textFont = makeFont(base, 100, FW_NORMAL);
  labelFont = makeFont(base, 100, FW_BOLD);
  titleFont = makeFont(base, 160, FW_BOLD);
  // The command line and the path in a fixed-pitch font, where a double blank shows.
  LOGFONTA fixed = base;
  lstrcpyA(fixed.lfFaceName, "Courier New");
  fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  fixedFont = makeFont(fixed, 100, FW_NORMAL);
}

// Layout, in pixels of the client area.
const int kMargin = 16, kBandHeight = 64, kLabelWidth = 130, kRowGap = 8, kButtonHeight = 28;

struct Row {
  int id;
  const char* label;
  int lines;   // height of the value field, in text lines
  bool fixed;  // shown in the fixed-pitch font
};
const Row kRows[] = {
    {kIdCommandLine, "Command line", 4, true},
    {kIdFolder, "Working folder", 1, false},
    {kIdPublication, "Publication (-p)", 2, true},
    {kIdFileState, "Publication file", 1, false},
    {kIdArguments, "Other arguments", 3, false},
};

// Height of one text line in the taller of the two value fonts.
int lineHeight() {
  HDC dc = GetDC(nullptr);
  int height = 0;
  const HFONT fonts[] = {textFont, fixedFont};
  for (HFONT font : fonts) {
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm;
    if (GetTextMetricsA(dc, &tm) && tm.tmHeight > height) height = tm.tmHeight;
    SelectObject(dc, old);
  }
  ReleaseDC(nullptr, dc);
  return height;
}

int rowHeight(const Row& row, int line) { return row.lines * line + 8; }

// Client height that shows every row and the button without empty space.
int contentHeight() {
  int line = lineHeight(), h = kBandHeight + kMargin;
  for (const Row& row : kRows) h += rowHeight(row, line) + kRowGap;
  return h + kMargin + kButtonHeight + kMargin;
}

void layout(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  int line = lineHeight();
  int y = kBandHeight + kMargin;
  int valueX = kMargin + kLabelWidth;
  int valueWidth = client.right - valueX - kMargin;
  for (const Row& row : kRows) {
    int h = rowHeight(row, line);
    MoveWindow(GetDlgItem(window, row.id), valueX, y, valueWidth > 50 ? valueWidth : 50, h, TRUE);
    y += h + kRowGap;
  }
  MoveWindow(GetDlgItem(window, kIdClose), client.right - kMargin - 96,
             client.bottom - kMargin - kButtonHeight, 96, kButtonHeight, TRUE);
}

void createControls(HWND window) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  const char* values[] = {received.commandLine.c_str(), received.folder.c_str(),
                          received.publication.c_str(), received.fileState.c_str(),
                          received.arguments.c_str()};
  int i = 0;
  for (const Row& row : kRows) {
    HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", values[i++],
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY |
                                    ES_AUTOVSCROLL,
                                0, 0, 0, 0, window, reinterpret_cast<HMENU>(row.id), instance,
                                nullptr);
    SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(row.fixed ? fixedFont : textFont),
                 FALSE);
  }
  HWND close = CreateWindowExA(0, "BUTTON", "Close",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0,
                               window, reinterpret_cast<HMENU>(kIdClose), instance, nullptr);
  SendMessageA(close, WM_SETFONT, reinterpret_cast<WPARAM>(textFont), FALSE);
  layout(window);
}

void paint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT client;
  GetClientRect(window, &client);

  RECT band = {0, 0, client.right, kBandHeight};
  FillRect(dc, &band, bandBrush);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  HGDIOBJ old = SelectObject(dc, titleFont);
  RECT title = {kMargin, 8, client.right - kMargin, 40};
  DrawTextA(dc, "Korvel sample viewer", -1, &title, DT_LEFT | DT_SINGLELINE | DT_VCENTER);
  SelectObject(dc, textFont);
  SetTextColor(dc, RGB(208, 220, 240));
  RECT sub = {kMargin, 38, client.right - kMargin, kBandHeight - 6};
  DrawTextA(dc, "Stands in for the runtime module: this is what the loader passed on.", -1, &sub,
            DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);

  SelectObject(dc, labelFont);
  SetTextColor(dc, RGB(40, 48, 64));
  int line = lineHeight();
  int y = kBandHeight + kMargin;
  for (const Row& row : kRows) {
    int h = rowHeight(row, line);
    RECT label = {kMargin, y + 4, kMargin + kLabelWidth - 8, y + h};
    DrawTextA(dc, row.label, -1, &label, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS);
    y += h + kRowGap;
  }
  SelectObject(dc, old);
  EndPaint(window, &ps);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      createControls(window);
      return 0;
    case WM_SIZE:
      layout(window);
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_GETMINMAXINFO: {
      MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = 420;
      info->ptMinTrackSize.y = 300;
      return 0;
    }
    case WM_PAINT:
      paint(window);
      return 0;
    case WM_CTLCOLORSTATIC:  // read-only edit fields: white, like a form
      SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(whiteBrush);
    case WM_COMMAND:
      if (LOWORD(wParam) == kIdClose || LOWORD(wParam) == IDCANCEL) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  readCommandLine();
  makeFonts();
  whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
  bandBrush = CreateSolidBrush(RGB(36, 72, 140));

  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  if (!RegisterClassExA(&wc)) return 1;

  RECT frame = {0, 0, 720, contentHeight()};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
  HWND window = CreateWindowExA(WS_EX_CONTROLPARENT, kClassName, "Korvel sample viewer",
                                WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
