#include "tests/unit/fake_platform.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "loader/startup.h"
#include "packed/crc32.h"
#include "ui/missing_runtime_dialog.h"
#include "ui/splash.h"

FakeSystem fake;

namespace {

WindowHandle const splashHandle = reinterpret_cast<WindowHandle>(0x5A5A);
ProcessHandle const processHandle = reinterpret_cast<ProcessHandle>(0x100);
ProcessHandle const threadHandle = reinterpret_cast<ProcessHandle>(0x200);
RegistryKey const keyHandle = reinterpret_cast<RegistryKey>(0x300);

std::string openKey;  // subkey of the one open registry key

void record(const std::string& call) { fake.calls.push_back(call); }

std::string hex(unsigned value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", value);
    return buffer;
}

// A file stream over the fake file system, with the modes of the real ones.
class FakeFileStream final : public ByteStream {
public:
    FakeFileStream(std::string path, bool valid, bool endAfterWrite)
        : path_(std::move(path)), valid_(valid), endAfterWrite_(endAfterWrite)
    {
    }
    uint32_t size() override { return valid_ ? uint32_t(file().bytes.size()) : 0; }
    void seekToStart() override { position_ = 0; }
    uint32_t read(void* buffer, uint32_t count) override
    {
        if (!valid_) return 0;
        const std::string& bytes = file().bytes;
        uint32_t n = position_ < bytes.size() ? std::min<uint32_t>(count, uint32_t(bytes.size() - position_)) : 0;
        std::memcpy(buffer, bytes.data() + position_, n);
        position_ += n;
        return n;
    }
    uint32_t write(const void* buffer, uint32_t count) override
    {
        if (!valid_) return 0;
        std::string& bytes = file().bytes;
        if (bytes.size() < position_ + count) bytes.resize(position_ + count);
        std::memcpy(&bytes[position_], buffer, count);
        position_ += count;
        if (endAfterWrite_) bytes.resize(position_);
        return count;
    }
    void release() override
    {
        record("ReleaseStream " + path_);
        delete this;
    }

private:
    FakeFile& file() { return fake.files[path_]; }
    std::string path_;
    bool valid_;
    bool endAfterWrite_;
    uint32_t position_ = 0;
};

bool writable(const std::string& path)
{
    auto found = fake.files.find(path);
    if (found != fake.files.end()) return !found->second.directory && !found->second.inUse;
    return !path.empty() && path.back() != '\\';
}

}  // namespace

std::vector<std::string> FakeSystem::callsStartingWith(const std::string& prefix) const
{
    std::vector<std::string> found;
    for (const std::string& call : calls)
        if (call.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
    return found;
}

int FakeSystem::indexOf(const std::string& text) const
{
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].compare(0, text.size(), text) == 0) return int(i);
    return -1;
}

void resetFake()
{
    fake = FakeSystem();
    fake.files["C:\\Temp"].directory = true;
    fake.files["C:\\Books\\book.exe"];
    openKey.clear();
    splashText.clear();
}

void renewState(LoaderState& state)
{
    state.~LoaderState();
    new (&state) LoaderState();
}

bool runLoaderToEnd(LoaderState& state)
{
    return endsProcess([&] { runLoader(state); });
}

bool endsProcess(const std::function<void()>& phase)
{
    try {
        phase();
    } catch (const ProcessExit&) {
        return true;
    }
    return false;
}

std::string packForTest(const std::string& data)
{
    std::string body;
    size_t tagPosition = 0;
    int bitsLeft = 0;
    auto putBit = [&](int bit) {
        if (bitsLeft == 0) {
            tagPosition = body.size();
            body.push_back(0);
            bitsLeft = 8;
        }
        --bitsLeft;
        if (bit) body[tagPosition] = char(uint8_t(body[tagPosition]) | (1 << bitsLeft));
    };
    if (!data.empty()) body.push_back(data[0]);
    for (size_t i = 1; i < data.size(); ++i) {
        putBit(0);
        body.push_back(data[i]);
    }
    putBit(1), putBit(1), putBit(0);
    body.push_back(0);

    auto put32 = [](std::string& out, uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
    };
    std::string blob = "QKOC";
    put32(blob, 24);
    put32(blob, uint32_t(body.size()));
    put32(blob, computeCrc32(body.data(), uint32_t(body.size())));
    put32(blob, uint32_t(data.size()));
    put32(blob, computeCrc32(data.data(), uint32_t(data.size())));
    return blob + body;
}

std::string settingsText(const std::map<int, std::string>& lines)
{
    std::map<int, std::string> all = {
        {0, "Korvel Loader"}, {1, "My Book"},  {2, "{6B0C1E62-2D4A-4C1E-9D4B-0A1B2C3D4E5F}"},
        {3, "12000"},         {4, "0"},        {5, "0"},
        {6, "Download"},      {7, "Close"},    {8, "https://korvel.example/runtime"},
        {9, "koviewer.exe"},  {10, "Please wait..."}};
    for (const auto& [number, text] : lines) all[number] = text;
    std::string text;
    for (const auto& [number, line] : all) text += line + "\r\n";
    return text;
}

// ---- platform/platform.h -----------------------------------------------------

void startPlatform() { record("StartPlatform"); }
void initCommonControls() { record("InitCommonControls"); }

void exitProcess()
{
    record("ExitProcess");
    throw ProcessExit();
}

void showMessageBox(const char* text, const char* caption, uint32_t style)
{
    record(std::string("MessageBox ") + caption + ": " + text);
    fake.messageBoxes.push_back({text, caption, style, fake.splashAlive});
}

Text moduleFileName() { return Text(fake.modulePath.c_str()); }
const char* processCommandLine() { return fake.commandLine.c_str(); }
bool isNtPlatform() { return fake.nt; }

void copyResource(const char* name, ByteStream& destination)
{
    record(std::string("CopyResource ") + name);
    auto found = fake.resources.find(name);
    if (found == fake.resources.end() || found->second.empty()) return;
    destination.write(found->second.data(), uint32_t(found->second.size()));
}

long regOpenKeyRead(const char* subkey, RegistryKey* key)
{
    record(std::string("RegOpenKey ") + subkey);
    if (!fake.registry.count(subkey)) {
        *key = nullptr;
        return 2;  // ERROR_FILE_NOT_FOUND
    }
    openKey = subkey;
    *key = keyHandle;
    return 0;
}

long regQueryValue(RegistryKey key, const char* name, uint32_t* type, void* data, uint32_t* size)
{
    record(std::string("RegQueryValue ") + name + (data ? " buffer " + std::to_string(*size) : " size"));
    if (key != keyHandle) return 6;  // ERROR_INVALID_HANDLE
    auto& values = fake.registry[openKey];
    auto found = values.find(name);
    if (found == values.end()) return 2;
    *type = found->second.type;
    uint32_t needed = uint32_t(found->second.bytes.size());
    if (!data) {
        *size = needed;
        return 0;
    }
    if (*size < needed) {
        *size = needed;
        return 234;  // ERROR_MORE_DATA
    }
    std::memcpy(data, found->second.bytes.data(), needed);
    *size = needed;
    return 0;
}

void regCloseKey(RegistryKey key)
{
    record(key == keyHandle ? "RegCloseKey" : "RegCloseKey bad handle");
    openKey.clear();
}

uint32_t getFileAttributes(const char* path)
{
    record(std::string("GetFileAttributes ") + path);
    std::string p = path;
    if (p.size() > 1 && p.back() == '\\') p.pop_back();  // a folder named with its backslash
    auto found = fake.files.find(p);
    if (found == fake.files.end()) return invalidFileAttributes;
    return found->second.directory ? fileAttributeDirectory : 0x80;
}

void deleteFile(const char* path)
{
    record(std::string("DeleteFile ") + path);
    auto found = fake.files.find(path);
    if (found != fake.files.end() && !found->second.directory && !found->second.inUse) fake.files.erase(found);
}

Text tempPath() { return fake.tempPathFails ? Text() : Text(fake.tempPath.c_str()); }

bool tempFileName(const char* folder, const char* prefix, uint32_t unique, Text* name)
{
    record(std::string("GetTempFileName ") + folder + " " + prefix + " " + std::to_string(unique));
    if (fake.tempFileNameFails) return false;
    std::string path = std::string(folder) + std::string(prefix, 3) + hex(0xA000 + fake.tempCounter++) + ".tmp";
    fake.files[path];
    *name = Text(path.c_str());
    return true;
}

ByteStream* openWriteOnlyFileStream(const char* path)
{
    record(std::string("OpenWriteOnly ") + path);
    bool valid = writable(path);
    if (valid) fake.files[path];
    return new FakeFileStream(path, valid, true);
}

ByteStream* openReadWriteFileStream(const char* path)
{
    record(std::string("OpenReadWrite ") + path);
    bool valid = writable(path);
    if (valid) fake.files[path];
    return new FakeFileStream(path, valid, false);
}

bool createProcess(const char* commandLine, const char* folder, int showState, uint32_t creationFlags,
                   StartedProcess* started)
{
    record(std::string("CreateProcess ") + commandLine);
    if (fake.processStartFails) return false;
    fake.processes.push_back({commandLine, folder, showState, creationFlags});
    if (fake.onProcessStart) fake.onProcessStart(commandLine);
    started->process = processHandle;
    started->thread = threadHandle;
    fake.openProcessHandles += 2;
    return true;
}

void waitForInputIdle(ProcessHandle) { record("WaitForInputIdle"); }

bool waitForProcessEnd(ProcessHandle, uint32_t timeout)
{
    record("WaitForProcessEnd " + std::to_string(timeout));
    return timeout == infiniteWait || fake.processEndsAtOnce;
}

void closeHandle(ProcessHandle handle)
{
    record(handle == processHandle ? "CloseHandle process" : handle == threadHandle ? "CloseHandle thread"
                                                                                    : "CloseHandle other");
    --fake.openProcessHandles;
}

void showWindow(WindowHandle window, int command)
{
    record((window ? "ShowWindow splash " : "ShowWindow null ") + std::to_string(command));
}

void destroyWindow(WindowHandle window)
{
    record(window == splashHandle ? "DestroyWindow splash" : "DestroyWindow other");
    if (window == splashHandle) fake.splashAlive = false;
}

void shellOpen(const char* file, int showState)
{
    record(std::string("ShellOpen ") + file + " " + std::to_string(showState));
}

// ---- ui/splash.h ----------------------------------------------------------------

WindowHandle showSplash()
{
    record(std::string("ShowSplash ") + splashText.c_str());
    if (fake.splashFails) return nullptr;
    fake.splashAlive = true;
    return splashHandle;
}

void pumpPendingMessages() { record("Pump"); }

// ---- ui/missing_runtime_dialog.h --------------------------------------------------

struct Application {};
struct MissingRuntimeDialog {};
namespace {
Application fakeApplication;
MissingRuntimeDialog fakeDialog;
}  // namespace

Application* createApplication(const char* caption)
{
    record(std::string("CreateApplication ") + caption);
    return &fakeApplication;
}

MissingRuntimeDialog* buildMissingRuntimeDialog(Application* owner)
{
    record(owner == &fakeApplication ? "BuildDialog" : "BuildDialog without application");
    return &fakeDialog;
}

void setDialogCaptions(MissingRuntimeDialog*, const char* title, const char* firstCaption, const char* secondCaption)
{
    record(std::string("SetDialogCaptions ") + title + "|" + firstCaption + "|" + secondCaption);
}

void loadDialogText(MissingRuntimeDialog*, ByteStream& rtf)
{
    std::string text(rtf.size(), '\0');
    rtf.read(&text[0], uint32_t(text.size()));
    record("LoadDialogText " + text);
}

int runDialogModal(MissingRuntimeDialog*)
{
    record("RunDialogModal");
    return fake.dialogResult;
}

void releaseDialog(MissingRuntimeDialog*) { record("ReleaseDialog"); }

void onLinkClicked(const char* linkText) { record(std::string("LinkClicked ") + linkText); }
