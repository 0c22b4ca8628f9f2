// installer_probe: stands in for the runtime installer that the loader unpacks
// and runs with the path of the unpacked runtime module as its argument.
//
// Environment (inherited from the loader):
//   INSTALLER_PROBE_OUT      file that receives the JSON record (required)
//   INSTALLER_PROBE_MODE     keep (default): leave the runtime file in place
//                            move: move it to INSTALLER_PROBE_TARGET and register
//                                  that path as REG_SZ "Path" under
//                                  HKLM\SOFTWARE\KOViewer\<INSTALLER_PROBE_KEY>
//                            delete: delete it and register nothing
//   INSTALLER_PROBE_KEY      runtime key name (for move)
//   INSTALLER_PROBE_TARGET   where move puts the file (for move)
//   INSTALLER_PROBE_VERSION  when set with move, also registers "Version" as REG_DWORD
//
// The argument is everything after the program name and one blank, unquoted,
// as the loader passes it. The record:
//   {"command_line":"...","cwd":"...","module":"...","argument":"...",
//    "argument_existed":true,"argument_size":N,"mode":"move",
//    "done":true,"error":0,"registered_path":"..."}
#include "probe_common.h"

using probe::Buffer;
using probe::Json;

namespace {

// The command line after the program name (quoted or not) and one blank.
const char* argumentOf(const char* commandLine) {
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    if (*p == ' ' || *p == '\t') ++p;
    return p;
}

long long fileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Creates every missing folder above path.
void makeParentFolders(const char* path) {
    Buffer prefix;
    for (const char* p = path; *p; ++p) {
        if ((*p == '\\' || *p == '/') && prefix.length() > 2) CreateDirectoryA(prefix.text(), nullptr);
        prefix.append(*p);
    }
}

}  // namespace

int main() {
    Buffer out, mode, key, target, version;
    if (!probe::environment("INSTALLER_PROBE_OUT", out) || out.length() == 0) return 2;
    if (!probe::environment("INSTALLER_PROBE_MODE", mode) || mode.length() == 0) mode.append("keep");
    probe::environment("INSTALLER_PROBE_KEY", key);
    probe::environment("INSTALLER_PROBE_TARGET", target);
    bool registerVersion = probe::environment("INSTALLER_PROBE_VERSION", version) && version.length();

    const char* commandLine = GetCommandLineA();
    const char* argument = argumentOf(commandLine);
    Buffer cwd, module;
    probe::currentFolder(cwd);
    probe::modulePath(module);

    Buffer text;
    Json json(text);
    json.beginObject();
    json.key("command_line").string(commandLine);
    json.key("cwd").string(cwd.text());
    json.key("module").string(module.text());
    json.key("pid").number(GetCurrentProcessId());
    json.key("parent_pid").number(probe::parentProcessId());
    json.key("argument").string(argument);
    json.key("argument_existed").boolean(probe::fileExists(argument));
    json.key("argument_size").number(fileSize(argument));
    json.key("mode").string(mode.text());

    bool done = true;
    DWORD error = 0;
    if (!strcmp(mode.text(), "move")) {
        makeParentFolders(target.text());
        done = MoveFileExA(argument, target.text(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
        if (!done) error = GetLastError();
        Buffer subkey;
        subkey.append("SOFTWARE\\KOViewer\\");
        subkey.append(key.text());
        HKEY handle = nullptr;
        LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.text(), 0, nullptr, 0, KEY_WRITE,
                                      nullptr, &handle, nullptr);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExA(handle, "Path", 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(target.text()),
                                    static_cast<DWORD>(target.length() + 1));
            if (status == ERROR_SUCCESS && registerVersion) {
                DWORD number = static_cast<DWORD>(probe::number(version.text()));
                status = RegSetValueExA(handle, "Version", 0, REG_DWORD,
                                        reinterpret_cast<const BYTE*>(&number), sizeof number);
            }
            RegCloseKey(handle);
        }
        if (status != ERROR_SUCCESS) {
            done = false;
            if (!error) error = static_cast<DWORD>(status);
        } else {
            json.key("registered_path").string(target.text());
        }
    } else if (!strcmp(mode.text(), "delete")) {
        done = DeleteFileA(argument) != 0;
        if (!done) error = GetLastError();
    } else if (strcmp(mode.text(), "keep") != 0) {
        done = false;
        error = ERROR_INVALID_PARAMETER;
    }
    json.key("done").boolean(done);
    json.key("error").number(error);
    json.endObject();
    text.append('\n');
    if (!probe::writeFileAtomically(out.text(), text.text(), text.length())) return 3;
    return done ? 0 : 1;
}
