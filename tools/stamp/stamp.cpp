// stamp: makes a publication's program file the way the publication compiler
// does it, by copying the built loader and adding resources to the copy.
//
//   stamp.exe IN.exe OUT.exe ITEM [ITEM ...]
//
// ITEM is one of
//   NAME=FILE         add (or replace) FILE's bytes as resource NAME of type
//                     RT_RCDATA (10), language neutral; FILE may be empty
//   TYPE:NAME=FILE    the same with a numeric resource type (5 = dialog, ...)
//   -NAME, -TYPE:NAME remove that resource, in every language it exists in
//
// A NAME of the form #123 is the numeric id 123. Exit code 0 on success;
// on failure a line on stderr, exit code 1, and OUT is deleted.
//
// An empty resource needs care: UpdateResourceA with a null data pointer and
// size 0 removes the resource, so an empty file is passed as a valid pointer
// with size 0, which adds a resource of 0 bytes.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct Item {
    bool remove;
    WORD type;
    char name[256];
    const char* file;
};

// Parses "[TYPE:]NAME" into item; false when it is malformed.
bool parseTarget(const char* text, size_t length, Item* item) {
    item->type = 10;  // RT_RCDATA
    const char* colon = static_cast<const char*>(memchr(text, ':', length));
    if (colon) {
        char* end = nullptr;
        unsigned long type = strtoul(text, &end, 10);
        if (end != colon || type == 0 || type > 0xFFFF) return false;
        item->type = static_cast<WORD>(type);
        length -= static_cast<size_t>(colon + 1 - text);
        text = colon + 1;
    }
    if (length == 0 || length >= sizeof item->name) return false;
    memcpy(item->name, text, length);
    item->name[length] = 0;
    return true;
}

bool parseItem(const char* arg, Item* item) {
    item->remove = arg[0] == '-';
    if (item->remove) {
        item->file = nullptr;
        return parseTarget(arg + 1, strlen(arg + 1), item);
    }
    const char* equals = strchr(arg, '=');
    if (!equals || equals[1] == 0) return false;
    item->file = equals + 1;
    return parseTarget(arg, static_cast<size_t>(equals - arg), item);
}

// The resource name as the resource functions take it: an integer id for "#n".
LPCSTR resourceName(const Item& item) {
    if (item.name[0] == '#' && item.name[1] != 0) {
        char* end = nullptr;
        unsigned long id = strtoul(item.name + 1, &end, 10);
        if (*end == 0 && id > 0 && id <= 0xFFFF) return MAKEINTRESOURCEA(id);
    }
    return item.name;
}

// Reads a whole file into a heap buffer (never null, even for 0 bytes).
bool readWholeFile(const char* path, BYTE** data, DWORD* size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    DWORD length = GetFileSize(file, &high);
    bool ok = length != INVALID_FILE_SIZE && high == 0;
    BYTE* buffer = ok ? static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, length + 1)) : nullptr;
    DWORD got = 0;
    ok = buffer && (length == 0 || (ReadFile(file, buffer, length, &got, nullptr) && got == length));
    CloseHandle(file);
    if (!ok) {
        if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
        return false;
    }
    *data = buffer;
    *size = length;
    return true;
}

struct Languages {
    WORD ids[64];
    int count;
};

BOOL CALLBACK collectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
    Languages* languages = reinterpret_cast<Languages*>(param);
    if (languages->count < 64) languages->ids[languages->count++] = language;
    return TRUE;
}

int fail(const char* what, const char* detail, const char* out) {
    fprintf(stderr, "stamp: %s%s%s (error %lu)\n", what, detail ? ": " : "", detail ? detail : "",
            GetLastError());
    if (out) DeleteFileA(out);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr,
                "usage: stamp IN.exe OUT.exe [TYPE:]NAME=FILE ... | -[TYPE:]NAME ...\n"
                "  adds FILE as a language-neutral resource (type 10, RT_RCDATA, unless given)\n"
                "  -NAME removes a resource in every language\n");
        return 2;
    }
    const char* in = argv[1];
    const char* out = argv[2];

    const int itemCount = argc - 3;
    Item* items = static_cast<Item*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Item) * (itemCount + 1)));
    for (int i = 0; i < itemCount; ++i) {
        if (!parseItem(argv[3 + i], &items[i])) {
            fprintf(stderr, "stamp: bad item '%s'\n", argv[3 + i]);
            return 2;
        }
    }

    if (!CopyFileA(in, out, FALSE)) return fail("cannot copy", in, nullptr);

    // Languages of the resources to remove, read from the input before the update.
    HMODULE source = LoadLibraryExA(in, nullptr, LOAD_LIBRARY_AS_DATAFILE);

    HANDLE update = BeginUpdateResourceA(out, FALSE);
    if (!update) {
        if (source) FreeLibrary(source);
        return fail("BeginUpdateResource failed", out, out);
    }

    for (int i = 0; i < itemCount; ++i) {
        const Item& item = items[i];
        LPCSTR type = MAKEINTRESOURCEA(item.type);
        LPCSTR name = resourceName(item);
        if (item.remove) {
            Languages languages = {};
            if (source) EnumResourceLanguagesA(source, type, name, collectLanguage,
                                               reinterpret_cast<LONG_PTR>(&languages));
            if (languages.count == 0) {
                if (source) FreeLibrary(source);
                EndUpdateResourceA(update, TRUE);
                return fail("no such resource to remove", item.name, out);
            }
            for (int l = 0; l < languages.count; ++l) {
                if (!UpdateResourceA(update, type, name, languages.ids[l], nullptr, 0)) {
                    if (source) FreeLibrary(source);
                    EndUpdateResourceA(update, TRUE);
                    return fail("cannot remove resource", item.name, out);
                }
            }
            continue;
        }
        BYTE* data = nullptr;
        DWORD size = 0;
        if (!readWholeFile(item.file, &data, &size)) {
            if (source) FreeLibrary(source);
            EndUpdateResourceA(update, TRUE);
            return fail("cannot read", item.file, out);
        }
        // data is never null here, so a size of 0 adds an empty resource.
        BOOL added = UpdateResourceA(update, type, name, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                     data, size);
        HeapFree(GetProcessHeap(), 0, data);
        if (!added) {
            if (source) FreeLibrary(source);
            EndUpdateResourceA(update, TRUE);
            return fail("cannot add resource", item.name, out);
        }
    }
    if (source) FreeLibrary(source);
    if (!EndUpdateResourceA(update, FALSE)) return fail("EndUpdateResource failed", out, out);
    return 0;
}
