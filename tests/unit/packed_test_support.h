// Helpers of the packed-resource tests: hexadecimal byte lists, a writer of
// hand-made bodies, decoding into a buffer guarded by a canary byte, test
// data and the PE files of the machine.
#pragma once
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "packed/decompress.h"

namespace packed_test {

using Bytes = std::vector<uint8_t>;

inline Bytes hex(const char* text) {
    Bytes out;
    unsigned value;
    int used;
    while (sscanf(text, " %2x%n", &value, &used) == 1) {
        out.push_back(uint8_t(value));
        text += used;
    }
    return out;
}

// Writes a body token by token in the order the decoder takes it.
class BodyWriter {
public:
    explicit BodyWriter(uint8_t first) { out_.push_back(first); }

    BodyWriter& bit(uint32_t b) {
        if (bitsLeft_ == 0) {
            tagAt_ = out_.size();
            out_.push_back(0);
            bitsLeft_ = 8;
        }
        --bitsLeft_;
        if (b)
            out_[tagAt_] |= uint8_t(1u << bitsLeft_);
        return *this;
    }
    BodyWriter& byte(uint8_t b) {
        out_.push_back(b);
        return *this;
    }
    // Value bits after the leading 1 of v (count of them), each followed by
    // a continuation bit; `bits` lets a test write more than 31 of them.
    BodyWriter& gammaBits(uint64_t v, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            bit((v >> i) & 1);
            bit(i > 0);
        }
        return *this;
    }
    BodyWriter& gamma(uint32_t v) {
        int top = 31;
        while (!(v >> top))
            --top;
        return gammaBits(v, top);
    }
    BodyWriter& literal(uint8_t b) { return bit(0).byte(b); }
    BodyWriter& shortMatch(uint32_t d, uint32_t length) {
        return bit(1).bit(1).bit(0).byte(uint8_t(d << 1 | (length - 2)));
    }
    BodyWriter& oneByte(uint32_t d) {
        bit(1).bit(1).bit(1);
        for (int i = 3; i >= 0; --i)
            bit((d >> i) & 1);
        return *this;
    }
    // g is written as given: high + 3 after a literal or one-byte token,
    // high + 2 after a match.
    BodyWriter& longMatch(uint32_t g, uint8_t low, uint32_t gammaLength) {
        return bit(1).bit(0).gamma(g).byte(low).gamma(gammaLength);
    }
    BodyWriter& repeat(uint32_t length) { return bit(1).bit(0).gamma(2).gamma(length); }
    BodyWriter& end() { return shortMatchEnd(0); }
    BodyWriter& shortMatchEnd(uint8_t b) { return bit(1).bit(1).bit(0).byte(b); }

    const Bytes& bytes() const { return out_; }

private:
    Bytes out_;
    size_t tagAt_ = 0;
    uint32_t bitsLeft_ = 0;
};

constexpr uint8_t canary = 0xA5;

struct Decoded {
    uint32_t result;
    Bytes output;       // the first min(result, capacity) bytes on success
    bool canaryIntact;  // the byte right after the capacity was not written
};

// Decodes into a buffer of exactly capacity bytes followed by a canary.
inline Decoded decodeGuarded(const Bytes& input, uint32_t capacity) {
    Bytes buffer(size_t(capacity) + 1, 0x5A);
    buffer[capacity] = canary;
    uint32_t r = decompress(input.empty() ? reinterpret_cast<const uint8_t*>("") : input.data(),
                            uint32_t(input.size()), buffer.data(), capacity);
    Decoded d{r, {}, buffer[capacity] == canary};
    if (r != unpackError && r <= capacity)
        d.output.assign(buffer.begin(), buffer.begin() + r);
    return d;
}

// Deterministic pseudo-random bytes (xorshift), the same on every run.
inline Bytes randomBytes(size_t n, uint32_t seed) {
    Bytes out(n);
    uint32_t x = seed ? seed : 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = uint8_t(x >> 24);
    }
    return out;
}

inline bool readWholeFile(const std::string& path, Bytes* out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    out->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        out->insert(out->end(), chunk, chunk + n);
    fclose(f);
    return true;
}

// Files directly in folder whose names end with one of the suffixes, in name order.
inline std::vector<std::string> filesIn(const std::string& folder, const std::vector<std::string>& suffixes) {
    std::vector<std::string> found;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return found;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        for (const std::string& suffix : suffixes) {
            if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                std::string path = folder + "/" + name;
                struct stat st;
                if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                    found.push_back(path);
                break;
            }
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

// Windows PE files of this machine: the i686 mingw runtime DLLs and, when
// the win32 build has run, its programs.
inline std::vector<std::string> peFiles(const std::string& win32BuildDir) {
    std::vector<std::string> files;
    for (const char* folder : {"/usr/lib/gcc/i686-w64-mingw32/12-win32", "/usr/lib/gcc/i686-w64-mingw32/12-posix",
                               "/usr/i686-w64-mingw32/lib"}) {
        for (const std::string& f : filesIn(folder, {".dll"}))
            files.push_back(f);
    }
    for (const char* sub : {"", "/tests/e2e/probes", "/tools/stamp", "/tools/sample_viewer"}) {
        for (const std::string& f : filesIn(win32BuildDir + sub, {".exe", ".dll"}))
            files.push_back(f);
    }
    return files;
}

// Lowers the soft limit of the address space to what the process maps now
// plus `headroom` bytes, so that larger allocations really fail; the old
// limit comes back when the object goes. Nothing that allocates much (a
// failed assertion's message included) belongs inside its lifetime.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(size_t headroom) {
        if (getrlimit(RLIMIT_AS, &old_) != 0)
            return;
        long pages = 0;
        FILE* f = fopen("/proc/self/statm", "r");
        if (f == nullptr)
            return;
        bool read = fscanf(f, "%ld", &pages) == 1;
        fclose(f);
        if (!read)
            return;
        rlimit lowered = old_;
        lowered.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + headroom;
        if (old_.rlim_cur != RLIM_INFINITY && lowered.rlim_cur > old_.rlim_cur)
            return;
        active_ = setrlimit(RLIMIT_AS, &lowered) == 0;
    }
    ~AddressSpaceLimit() {
        if (active_)
            setrlimit(RLIMIT_AS, &old_);
    }
    bool active() const { return active_; }

private:
    rlimit old_{};
    bool active_ = false;
};

}  // namespace packed_test
