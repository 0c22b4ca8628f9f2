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
// size 0 removes the resource, and Wine refuses a valid pointer with size 0.
// So an empty file is added as one placeholder byte, and once the update is
// written the size field of that resource's data entry is set to 0 in the
// file itself: FindResource then finds it and SizeofResource gives 0.
#include <windows.h>

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct Item {
    bool remove;
    WORD type;
    char name[256];
    const char* file;
    bool empty;
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
    item->empty = false;
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

// --- Setting a resource's size to 0 in the written file ---------------------

struct Image {
    BYTE* data;
    DWORD size;
    DWORD resourceBase;  // file offset of the resource directory
    DWORD resourceRva;
    const IMAGE_SECTION_HEADER* sections;
    int sectionCount;
};

bool inside(const Image& image, DWORD offset, DWORD length) {
    return offset <= image.size && length <= image.size - offset;
}

// File offset of an address of the image, or 0 when no section holds it.
DWORD fileOffset(const Image& image, DWORD rva) {
    for (int i = 0; i < image.sectionCount; ++i) {
        const IMAGE_SECTION_HEADER& s = image.sections[i];
        DWORD span = s.Misc.VirtualSize > s.SizeOfRawData ? s.Misc.VirtualSize : s.SizeOfRawData;
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress < span)
            return rva - s.VirtualAddress + s.PointerToRawData;
    }
    return 0;
}

bool loadImage(BYTE* data, DWORD size, Image* image) {
    image->data = data;
    image->size = size;
    if (!inside(*image, 0, sizeof(IMAGE_DOS_HEADER))) return false;
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(data);
    DWORD ntOffset = static_cast<DWORD>(dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || !inside(*image, ntOffset, sizeof(IMAGE_NT_HEADERS32)))
        return false;
    const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(data + ntOffset);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return false;
    DWORD sectionOffset = ntOffset + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                          nt->FileHeader.SizeOfOptionalHeader;
    image->sectionCount = nt->FileHeader.NumberOfSections;
    if (!inside(*image, sectionOffset, image->sectionCount * sizeof(IMAGE_SECTION_HEADER))) return false;
    image->sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(data + sectionOffset);
    image->resourceRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    image->resourceBase = fileOffset(*image, image->resourceRva);
    return image->resourceBase != 0 && inside(*image, image->resourceBase, sizeof(IMAGE_RESOURCE_DIRECTORY));
}

bool nameMatches(const Image& image, DWORD field, LPCSTR name) {
    if (IS_INTRESOURCE(name)) return !(field & 0x80000000) && field == reinterpret_cast<ULONG_PTR>(name);
    if (!(field & 0x80000000)) return false;
    DWORD at = image.resourceBase + (field & 0x7FFFFFFF);
    if (!inside(image, at, 2)) return false;
    WORD length = *reinterpret_cast<const WORD*>(image.data + at);
    if (length != strlen(name) || !inside(image, at + 2, length * 2u)) return false;
    const WORD* chars = reinterpret_cast<const WORD*>(image.data + at + 2);
    for (WORD i = 0; i < length; ++i) {
        WORD a = chars[i], b = static_cast<unsigned char>(name[i]);
        if (a >= 'a' && a <= 'z') a = static_cast<WORD>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<WORD>(b - 32);
        if (a != b) return false;
    }
    return true;
}

// The OffsetToData field of the entry of directory `at` (a file offset)
// that matches name, or 0.
DWORD findEntry(const Image& image, DWORD at, LPCSTR name) {
    if (!inside(image, at, sizeof(IMAGE_RESOURCE_DIRECTORY))) return 0;
    const IMAGE_RESOURCE_DIRECTORY* dir = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY*>(image.data + at);
    DWORD count = dir->NumberOfNamedEntries + dir->NumberOfIdEntries;
    DWORD first = at + sizeof(IMAGE_RESOURCE_DIRECTORY);
    if (!inside(image, first, count * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY))) return 0;
    const IMAGE_RESOURCE_DIRECTORY_ENTRY* entries =
        reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY_ENTRY*>(image.data + first);
    for (DWORD i = 0; i < count; ++i) {
        if (nameMatches(image, entries[i].Name, name)) return entries[i].OffsetToData;
    }
    return 0;
}

// Sets the size of resource type/name/language in the file at path to 0.
bool zeroResourceSize(const char* path, LPCSTR type, LPCSTR name, WORD language) {
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!readWholeFile(path, &data, &size)) return false;
    Image image;
    bool done = false;
    if (loadImage(data, size, &image)) {
        DWORD typeEntry = findEntry(image, image.resourceBase, type);
        DWORD nameEntry = (typeEntry & 0x80000000)
            ? findEntry(image, image.resourceBase + (typeEntry & 0x7FFFFFFF), name) : 0;
        DWORD langEntry = (nameEntry & 0x80000000)
            ? findEntry(image, image.resourceBase + (nameEntry & 0x7FFFFFFF),
                        MAKEINTRESOURCEA(language)) : 0;
        DWORD leaf = image.resourceBase + langEntry;
        if (langEntry && !(langEntry & 0x80000000) && inside(image, leaf, sizeof(IMAGE_RESOURCE_DATA_ENTRY))) {
            DWORD sizeField = leaf + offsetof(IMAGE_RESOURCE_DATA_ENTRY, Size);
            HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                DWORD zero = 0, written = 0;
                done = SetFilePointer(file, static_cast<LONG>(sizeField), nullptr, FILE_BEGIN) == sizeField &&
                       WriteFile(file, &zero, sizeof zero, &written, nullptr) && written == sizeof zero;
                CloseHandle(file);
            }
        }
    }
    HeapFree(GetProcessHeap(), 0, data);
    return done;
}

int fail(const char* what, const char* detail, const char* out) {
    fprintf(stderr, "stamp: %s%s%s (error %lu)\n", what, detail ? ": " : "", detail ? detail : "",
            GetLastError());
    if (out) DeleteFileA(out);
    return 1;
}

}  // namespace

// --- Copying the input's resources when some are removed ----------------------
//
// With bDeleteExisting FALSE, Wine's EndUpdateResource reads the file's own
// resources again and adds back every one that the update does not hold, so
// a removal would not take. When anything is removed, the update therefore
// starts empty and every resource of the input that is kept is copied into it.

struct Copier {
    HANDLE update;
    const Item* items;
    int itemCount;
    bool ok;
};

bool sameName(LPCSTR a, LPCSTR b) {
    if (IS_INTRESOURCE(a) || IS_INTRESOURCE(b)) return a == b;
    return lstrcmpiA(a, b) == 0;
}

bool removed(const Copier& copier, LPCSTR type, LPCSTR name) {
    for (int i = 0; i < copier.itemCount; ++i) {
        const Item& item = copier.items[i];
        if (item.remove && IS_INTRESOURCE(type) && reinterpret_cast<ULONG_PTR>(type) == item.type &&
            sameName(name, resourceName(item)))
            return true;
    }
    return false;
}

BOOL CALLBACK copyLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param) {
    Copier* copier = reinterpret_cast<Copier*>(param);
    HRSRC found = FindResourceExA(module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = found ? SizeofResource(module, found) : 0;
    // A resource of 0 bytes in the input cannot be copied under Wine; stamp
    // never makes an input like that the base of a removal.
    if (!bytes || size == 0 || !UpdateResourceA(copier->update, type, name, language, bytes, size)) {
        copier->ok = false;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK copyName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
    Copier* copier = reinterpret_cast<Copier*>(param);
    if (removed(*copier, type, name)) return TRUE;
    EnumResourceLanguagesA(module, type, name, copyLanguage, param);
    return copier->ok;
}

BOOL CALLBACK copyType(HMODULE module, LPSTR type, LONG_PTR param) {
    EnumResourceNamesA(module, type, copyName, param);
    return reinterpret_cast<Copier*>(param)->ok;
}

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
    bool anyRemoval = false;
    for (int i = 0; i < itemCount; ++i) {
        if (!parseItem(argv[3 + i], &items[i])) {
            fprintf(stderr, "stamp: bad item '%s'\n", argv[3 + i]);
            return 2;
        }
        anyRemoval = anyRemoval || items[i].remove;
    }

    if (!CopyFileA(in, out, FALSE)) return fail("cannot copy", in, nullptr);

    HMODULE source = nullptr;
    if (anyRemoval) {
        source = LoadLibraryExA(in, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!source) return fail("cannot read the resources of", in, out);
        for (int i = 0; i < itemCount; ++i) {
            if (items[i].remove && !FindResourceA(source, resourceName(items[i]),
                                                  MAKEINTRESOURCEA(items[i].type))) {
                FreeLibrary(source);
                return fail("no such resource to remove", items[i].name, out);
            }
        }
    }

    HANDLE update = BeginUpdateResourceA(out, anyRemoval);
    if (!update) {
        if (source) FreeLibrary(source);
        return fail("BeginUpdateResource failed", out, out);
    }
    if (anyRemoval) {
        Copier copier = {update, items, itemCount, true};
        EnumResourceTypesA(source, copyType, reinterpret_cast<LONG_PTR>(&copier));
        FreeLibrary(source);
        if (!copier.ok) {
            EndUpdateResourceA(update, TRUE);
            return fail("cannot copy the resources of", in, out);
        }
    }

    for (int i = 0; i < itemCount; ++i) {
        if (items[i].remove) continue;
        BYTE* data = nullptr;
        DWORD size = 0;
        if (!readWholeFile(items[i].file, &data, &size)) {
            EndUpdateResourceA(update, TRUE);
            return fail("cannot read", items[i].file, out);
        }
        // An empty resource goes in as one placeholder byte; its size is set to 0 below.
        items[i].empty = size == 0;
        if (size == 0) data[0] = 0;
        BOOL added = UpdateResourceA(update, MAKEINTRESOURCEA(items[i].type), resourceName(items[i]),
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), data, size ? size : 1);
        HeapFree(GetProcessHeap(), 0, data);
        if (!added) {
            EndUpdateResourceA(update, TRUE);
            return fail("cannot add resource", items[i].name, out);
        }
    }
    if (!EndUpdateResourceA(update, FALSE)) return fail("EndUpdateResource failed", out, out);
    for (int i = 0; i < itemCount; ++i) {
        if (items[i].remove || !items[i].empty) continue;
        if (!zeroResourceSize(out, MAKEINTRESOURCEA(items[i].type), resourceName(items[i]),
                              MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)))
            return fail("cannot make the resource empty", items[i].name, out);
    }
    return 0;
}
