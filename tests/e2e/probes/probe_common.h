// Shared pieces of the probe programs: a small JSON writer, environment and
// file helpers, and window queries that never block on a busy window.
//
// Texts are 8-bit ANSI bytes. In the JSON that the probes write, every byte
// above 0x7F and every control byte is written as \u00XX, so decoding a string
// as Latin-1 gives back the exact bytes.
#ifndef KORVEL_PROBE_COMMON_H
#define KORVEL_PROBE_COMMON_H

#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace probe {

// A growable byte buffer on the process heap.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { if (data_) HeapFree(GetProcessHeap(), 0, data_); }

    void append(const char* bytes, size_t count) {
        reserve(length_ + count + 1);
        memcpy(data_ + length_, bytes, count);
        length_ += count;
        data_[length_] = 0;
    }
    void append(const char* text) { append(text, strlen(text)); }
    void append(char c) { append(&c, 1); }
    void clear() {
        length_ = 0;
        if (data_) data_[0] = 0;
    }
    const char* text() const { return data_ ? data_ : ""; }
    size_t length() const { return length_; }

private:
    void reserve(size_t wanted) {
        if (wanted <= capacity_) return;
        size_t capacity = capacity_ ? capacity_ * 2 : 256;
        while (capacity < wanted) capacity *= 2;
        data_ = static_cast<char*>(data_ ? HeapReAlloc(GetProcessHeap(), 0, data_, capacity)
                                         : HeapAlloc(GetProcessHeap(), 0, capacity));
        if (!data_) ExitProcess(70);
        capacity_ = capacity;
    }

    char* data_ = nullptr;
    size_t length_ = 0;
    size_t capacity_ = 0;
};

// Writes JSON into a Buffer; commas are placed automatically.
class Json {
public:
    explicit Json(Buffer& out) : out_(out) {}

    void beginObject() { value(); out_.append('{'); push(); }
    void endObject() { pop(); out_.append('}'); }
    void beginArray() { value(); out_.append('['); push(); }
    void endArray() { pop(); out_.append(']'); }

    // Starts a member of the current object; the next value call writes its value.
    Json& key(const char* name) {
        separate();
        quoted(name, strlen(name));
        out_.append(':');
        afterKey_ = true;
        return *this;
    }
    void string(const char* text) { string(text, text ? strlen(text) : 0); }
    void string(const char* text, size_t length) {
        value();
        if (!text) { out_.append("null"); return; }
        quoted(text, length);
    }
    void number(long long n) {
        value();
        char digits[32];
        snprintf(digits, sizeof digits, "%lld", n);
        out_.append(digits);
    }
    void boolean(bool b) { value(); out_.append(b ? "true" : "false"); }
    void null() { value(); out_.append("null"); }
    // [left, top, right, bottom]
    void rect(const RECT& r) {
        beginArray();
        number(r.left); number(r.top); number(r.right); number(r.bottom);
        endArray();
    }

private:
    void push() { if (depth_ < 63) first_[++depth_] = true; }
    void pop() { if (depth_ > 0) --depth_; }
    void separate() {
        if (!first_[depth_]) out_.append(',');
        first_[depth_] = false;
    }
    void value() {
        if (afterKey_) { afterKey_ = false; return; }
        separate();
    }
    void quoted(const char* text, size_t length) {
        out_.append('"');
        for (size_t i = 0; i < length; ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (c == '"' || c == '\\') {
                out_.append('\\');
                out_.append(static_cast<char>(c));
            } else if (c < 0x20 || c >= 0x7F) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out_.append(escaped);
            } else {
                out_.append(static_cast<char>(c));
            }
        }
        out_.append('"');
    }

    Buffer& out_;
    bool first_[64] = {true};
    int depth_ = 0;
    bool afterKey_ = false;
};

// Writes bytes to path through a temporary file and a rename, so a reader
// that polls for the file never sees it half written.
inline bool writeFileAtomically(const char* path, const char* bytes, size_t length) {
    Buffer temporary;
    temporary.append(path);
    temporary.append(".part");
    HANDLE file = CreateFileA(temporary.text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr) &&
              written == length;
    CloseHandle(file);
    if (!ok) return false;
    return MoveFileExA(temporary.text(), path, MOVEFILE_REPLACE_EXISTING) != 0;
}

// Appends the value of an environment variable to into; false when it is not set.
inline bool environment(const char* name, Buffer& into) {
    char small[1];
    DWORD needed = GetEnvironmentVariableA(name, small, 0);
    if (needed == 0) return false;
    char* value = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, needed + 1));
    DWORD got = GetEnvironmentVariableA(name, value, needed + 1);
    if (got < needed + 1) into.append(value, got);
    HeapFree(GetProcessHeap(), 0, value);
    return true;
}

inline void currentFolder(Buffer& into) {
    char path[MAX_PATH * 4];
    DWORD length = GetCurrentDirectoryA(sizeof path, path);
    if (length > 0 && length < sizeof path) into.append(path, length);
}

inline void modulePath(Buffer& into) {
    char path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length > 0 && length < sizeof path) into.append(path, length);
}

inline bool fileExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline DWORD parentProcessId() {
    DWORD self = GetCurrentProcessId(), parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == self) { parent = entry.th32ParentProcessID; break; }
    }
    CloseHandle(snapshot);
    return parent;
}

// The text of a window of any process without sending it a message: the text
// that the system keeps for the window (a blocked owner cannot hang the probe).
inline void storedWindowText(HWND window, Buffer& into) {
    char text[4096];
    int length = GetWindowTextA(window, text, sizeof text);
    if (length > 0) into.append(text, static_cast<size_t>(length));
}

// The text of a control through WM_GETTEXT, which reaches what the control
// itself holds; waits at most timeoutMs for a busy owner. False on time-out.
inline bool controlText(HWND window, Buffer& into, UINT timeoutMs = 2000) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &length))
        return false;
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, length + 2));
    DWORD_PTR got = 0;
    BOOL ok = SendMessageTimeoutA(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text),
                                  SMTO_ABORTIFHUNG, timeoutMs, &got);
    if (ok) into.append(text, got <= length ? got : length);
    HeapFree(GetProcessHeap(), 0, text);
    return ok != 0;
}

inline void className(HWND window, Buffer& into) {
    char name[256];
    int length = GetClassNameA(window, name, sizeof name);
    if (length > 0) into.append(name, static_cast<size_t>(length));
}

inline bool isClass(HWND window, const char* name) {
    char actual[256];
    return GetClassNameA(window, actual, sizeof actual) > 0 && lstrcmpiA(actual, name) == 0;
}

inline unsigned long long number(const char* text) { return strtoull(text, nullptr, 0); }

}  // namespace probe

#endif
