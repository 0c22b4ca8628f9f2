#include <windows.h>

#include <new>

#include "platform/platform.h"

uint32_t getFileAttributes(const char* path) { return GetFileAttributesA(path); }

void deleteFile(const char* path) { DeleteFileA(path); }

Text tempPath()
{
    char buffer[261];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) return Text();  // failed, or the folder does not fit
    return Text(buffer, length);
}

bool tempFileName(const char* folder, const char* prefix, uint32_t unique, Text* name)
{
    char buffer[MAX_PATH + 1];
    if (GetTempFileNameA(folder, prefix, unique, buffer) == 0) return false;
    *name = Text(buffer);
    return true;
}

namespace {

// A file stream over one CreateFileA handle. When the open failed the stream
// still exists with the invalid handle: reads give 0 and writes fail silently.
class FileStream final : public ByteStream {
public:
    FileStream(HANDLE file, bool endAfterWrite) : file_(file), endAfterWrite_(endAfterWrite) {}

    uint32_t size() override
    {
        DWORD size = GetFileSize(file_, nullptr);
        return size == INVALID_FILE_SIZE ? 0 : size;
    }
    void seekToStart() override { SetFilePointer(file_, 0, nullptr, FILE_BEGIN); }
    uint32_t read(void* buffer, uint32_t count) override
    {
        DWORD done = 0;
        if (!ReadFile(file_, buffer, count, &done, nullptr)) return 0;
        return done;
    }
    uint32_t write(const void* buffer, uint32_t count) override
    {
        DWORD done = 0;
        if (!WriteFile(file_, buffer, count, &done, nullptr)) done = 0;
        if (endAfterWrite_) SetEndOfFile(file_);
        return done;
    }
    void release() override
    {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        this->~FileStream();
        HeapFree(GetProcessHeap(), 0, this);
    }

private:
    HANDLE file_;
    bool endAfterWrite_;
};

ByteStream* openFileStream(const char* path, DWORD access, DWORD disposition, bool endAfterWrite)
{
    void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(FileStream));
    if (!memory) return nullptr;
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return new (memory) FileStream(file, endAfterWrite);
}

}  // namespace

ByteStream* openWriteOnlyFileStream(const char* path)
{
    return openFileStream(path, GENERIC_WRITE, OPEN_ALWAYS, true);
}

ByteStream* openReadWriteFileStream(const char* path)
{
    DWORD disposition = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? OPEN_EXISTING : CREATE_ALWAYS;
    return openFileStream(path, GENERIC_READ | GENERIC_WRITE, disposition, false);
}
