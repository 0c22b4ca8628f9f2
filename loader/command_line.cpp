#include "loader/command_line.h"

#include "platform/platform.h"

namespace {
bool isSeparator(char c) { return c != 0 && static_cast<unsigned char>(c) <= 32; }
}  // namespace

Text commandLineToken(const char* commandLine, int index)
{
    if (!commandLine || index < 0) return Text();
    const char* p = commandLine;
    for (int token = 0;; ++token) {
        for (;;) {
            while (isSeparator(*p)) ++p;
            if (p[0] == '"' && p[1] == '"') {
                p += 2;
                continue;
            }
            break;
        }
        if (*p == 0) return Text();

        const char* start = p;
        bool quoted = false;
        for (; *p != 0; ++p) {
            if (*p == '"')
                quoted = !quoted;
            else if (!quoted && isSeparator(*p))
                break;
        }
        if (token == index) {
            size_t length = size_t(p - start);
            if (length >= 2 && start[0] == '"' && start[length - 1] == '"') return Text(start + 1, length - 2);
            return Text(start, length);
        }
    }
}

Text commandLineParameter(int index)
{
    if (index == 0) return moduleFileName();
    return commandLineToken(processCommandLine(), index);
}

int commandLineParameterCount()
{
    int count = 0;
    while (!commandLineParameter(count + 1).empty()) ++count;
    return count;
}

Text folderOf(const Text& path)
{
    size_t end = path.length();
    while (end > 0 && path[end - 1] != '\\' && path[end - 1] != ':') --end;
    return Text(path.c_str(), end);
}
