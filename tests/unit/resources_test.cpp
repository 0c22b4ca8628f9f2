// Checks the resources and the import table of the built loader.exe (win32
// build), read with a small PE32 reader of our own: the splash template "WA"
// byte by byte, the icon group "MAINICON", the manifest, the version resource,
// and that the program is a 32-bit GUI program that needs only system DLLs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Little-endian reads from a byte range. A read past the end yields 0 and sets
// `bad`, so a damaged file fails the checks instead of reading out of bounds.
class Reader {
public:
  explicit Reader(const Bytes& data, size_t pos = 0) : data_(data), pos_(pos) {}

  uint8_t u8() { return static_cast<uint8_t>(take(1)); }
  uint16_t u16() { return static_cast<uint16_t>(take(2)); }
  uint32_t u32() { return static_cast<uint32_t>(take(4)); }
  int16_t s16() { return static_cast<int16_t>(u16()); }

  // A dialog-template text: 0xFFFF then an ordinal, or UTF-16 up to a 0 word.
  // Returns the text as ASCII (other characters as '?'), an ordinal as "#n".
  std::string sz() {
    uint16_t c = u16();
    if (c == 0xFFFF) return "#" + std::to_string(u16());
    std::string s;
    while (c != 0 && !bad) {
      s += c < 0x80 ? static_cast<char>(c) : '?';
      c = u16();
    }
    return s;
  }

  void alignTo4() { pos_ = (pos_ + 3) & ~size_t{3}; }
  void seek(size_t pos) { pos_ = pos; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return pos_ < data_.size() ? data_.size() - pos_ : 0; }

  bool bad = false;

private:
  uint32_t take(size_t n) {
    if (pos_ > data_.size() || data_.size() - pos_ < n) {
      bad = true;
      pos_ = data_.size();
      return 0;
    }
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint32_t{data_[pos_ + i]} << (8 * i);
    pos_ += n;
    return v;
  }

  const Bytes& data_;
  size_t pos_;
};

// A resource type or name: an integer id, or a name (then id is -1).
struct ResId {
  ResId(int i) : id(i) {}
  ResId(const char* n) : name(n) {}
  int id = -1;
  std::string name;
};

constexpr int kRtIcon = 3, kRtDialog = 5, kRtGroupIcon = 14, kRtVersion = 16, kRtManifest = 24;

class PeFile {
public:
  // Parses the headers and section table; `error` says what is wrong, if anything.
  explicit PeFile(Bytes bytes) : bytes_(std::move(bytes)) {
    Reader r(bytes_);
    if (r.u16() != 0x5A4D) { error = "no MZ header"; return; }
    r.seek(0x3C);
    size_t pe = r.u32();
    r.seek(pe);
    if (r.u32() != 0x00004550) { error = "no PE signature"; return; }
    machine = r.u16();
    uint16_t sectionCount = r.u16();
    r.seek(pe + 20);
    uint16_t optionalSize = r.u16();
    size_t opt = pe + 24;
    r.seek(opt);
    optionalMagic = r.u16();
    if (optionalMagic != 0x10B) { error = "optional header is not PE32"; return; }
    r.seek(opt + 68);
    subsystem = r.u16();
    r.seek(opt + 92);
    uint32_t dirCount = r.u32();
    for (uint32_t i = 0; i < dirCount && i < 16; ++i) {
      directories_[i].rva = r.u32();
      directories_[i].size = r.u32();
    }
    r.seek(opt + optionalSize);
    for (uint16_t i = 0; i < sectionCount; ++i) {
      size_t at = r.pos();
      Section s;
      for (int k = 0; k < 8; ++k) {
        char c = static_cast<char>(r.u8());
        if (c) s.name += c;
      }
      s.virtualSize = r.u32();
      s.rva = r.u32();
      s.rawSize = r.u32();
      s.rawOffset = r.u32();
      sections.push_back(s);
      r.seek(at + 40);
    }
    if (r.bad) error = "headers run past the end of the file";
  }

  struct Section {
    std::string name;
    uint32_t virtualSize = 0, rva = 0, rawSize = 0, rawOffset = 0;
  };

  std::string error;
  uint16_t machine = 0, optionalMagic = 0, subsystem = 0;
  std::vector<Section> sections;

  // File offset of `size` bytes at `rva`, when they lie in one section's raw data.
  std::optional<size_t> offsetOf(uint32_t rva, uint32_t size = 1) const {
    for (const Section& s : sections) {
      if (rva >= s.rva && rva - s.rva < s.rawSize && s.rawSize - (rva - s.rva) >= size &&
          size_t{s.rawOffset} + s.rawSize <= bytes_.size())
        return size_t{s.rawOffset} + (rva - s.rva);
    }
    return std::nullopt;
  }

  uint32_t directorySize(int index) const { return directories_[index].size; }

  // The data of resource type/name (first language), or nothing.
  std::optional<Bytes> resource(const ResId& type, const ResId& name) const {
    std::optional<size_t> root = offsetOf(directories_[2].rva, directories_[2].size);
    if (!root || directories_[2].size == 0) return std::nullopt;
    std::optional<uint32_t> names = findEntry(*root, 0, type, true);
    if (!names) return std::nullopt;
    std::optional<uint32_t> languages = findEntry(*root, *names, name, true);
    if (!languages) return std::nullopt;
    std::optional<uint32_t> leaf = findEntry(*root, *languages, ResId(-1), false);
    if (!leaf) return std::nullopt;
    Reader r(bytes_, *root + *leaf);
    uint32_t dataRva = r.u32(), dataSize = r.u32();
    std::optional<size_t> data = offsetOf(dataRva, dataSize);
    if (r.bad || !data) return std::nullopt;
    return Bytes(bytes_.begin() + *data, bytes_.begin() + *data + dataSize);
  }

  // Names of the DLLs in the import table, in table order.
  std::vector<std::string> importedDlls() const {
    std::vector<std::string> dlls;
    std::optional<size_t> at = offsetOf(directories_[1].rva, 20);
    if (!at || directories_[1].size == 0) return dlls;
    for (Reader r(bytes_, *at);; ) {
      uint32_t lookup = r.u32();
      r.u32();
      r.u32();
      uint32_t nameRva = r.u32();
      uint32_t thunks = r.u32();
      if (r.bad || (lookup == 0 && nameRva == 0 && thunks == 0)) break;
      std::optional<size_t> name = offsetOf(nameRva);
      std::string dll;
      for (size_t i = name.value_or(bytes_.size()); i < bytes_.size() && bytes_[i]; ++i)
        dll += static_cast<char>(bytes_[i]);
      dlls.push_back(dll.empty() ? "<unreadable name>" : dll);
    }
    return dlls;
  }

private:
  // Offset (from the resource root) of the entry of directory `dir` that
  // matches `id`; ResId(-1) takes the first entry. `wantDirectory` says
  // whether the entry must point to a subdirectory or to a data entry.
  std::optional<uint32_t> findEntry(size_t root, uint32_t dir, const ResId& id,
                                    bool wantDirectory) const {
    Reader r(bytes_, root + dir + 12);
    unsigned count = r.u16();
    count += r.u16();
    for (unsigned i = 0; i < count && !r.bad; ++i) {
      uint32_t key = r.u32(), target = r.u32();
      bool match;
      if (id.id == -1 && id.name.empty()) {
        match = true;
      } else if (key & 0x80000000u) {
        Reader n(bytes_, root + (key & 0x7FFFFFFFu));
        uint16_t length = n.u16();
        std::string s;
        for (uint16_t k = 0; k < length; ++k) {
          uint16_t c = n.u16();
          s += c < 0x80 ? static_cast<char>(c) : '?';
        }
        match = !n.bad && id.id == -1 && s == id.name;
      } else {
        match = id.id >= 0 && key == static_cast<uint32_t>(id.id);
      }
      if (match) {
        if (((target & 0x80000000u) != 0) != wantDirectory) return std::nullopt;
        return target & 0x7FFFFFFFu;
      }
    }
    return std::nullopt;
  }

  struct Directory {
    uint32_t rva = 0, size = 0;
  };
  Bytes bytes_;
  Directory directories_[16];
};

std::string loaderPath() { return std::string(KORVEL_WIN32_DIR) + "/loader.exe"; }

// loader.exe, read once for the whole suite.
class LoaderResources : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    std::ifstream in(loaderPath(), std::ios::binary);
    if (!in) return;
    pe_ = new PeFile(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  static void TearDownTestSuite() {
    delete pe_;
    pe_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(pe_, nullptr) << loaderPath()
                            << " does not exist: build the win32 preset first "
                               "(cmake --preset win32 && cmake --build --preset win32)";
    ASSERT_EQ(pe_->error, "") << loaderPath() << " is not a readable PE32 file";
  }
  static const PeFile& pe() { return *pe_; }

private:
  static PeFile* pe_;
};
PeFile* LoaderResources::pe_ = nullptr;

TEST_F(LoaderResources, IsA32BitGuiProgram) {
  EXPECT_EQ(pe().machine, 0x014C) << "machine: i386";
  EXPECT_EQ(pe().optionalMagic, 0x10B) << "PE32, not PE32+";
  EXPECT_EQ(pe().subsystem, 2) << "subsystem: Windows GUI";
}

TEST_F(LoaderResources, ImportsOnlySystemDlls) {
  static const char* const allowed[] = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
                                        "shell32.dll",  "comctl32.dll", "ole32.dll", "msvcrt.dll"};
  std::vector<std::string> dlls = pe().importedDlls();
  EXPECT_FALSE(dlls.empty()) << "no import table found";
  for (std::string dll : dlls) {
    std::transform(dll.begin(), dll.end(), dll.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    bool system = std::find(std::begin(allowed), std::end(allowed), dll) != std::end(allowed);
    EXPECT_TRUE(system) << "imports " << dll << ", which is not one of the system DLLs allowed";
  }
  EXPECT_EQ(pe().directorySize(13), 0u) << "delay-load imports: their DLLs are not checked here";
}

// The splash window's template, field by field in DLGTEMPLATE order.
TEST_F(LoaderResources, SplashTemplateWA) {
  std::optional<Bytes> wa = pe().resource(kRtDialog, "WA");
  ASSERT_TRUE(wa) << "no RT_DIALOG resource named \"WA\"";
  Reader r(*wa);
  EXPECT_EQ(r.u32(), 0x904400C0u) << "style (0xFFFF0001 would be DLGTEMPLATEEX)";
  EXPECT_EQ(r.u32(), 0u) << "extended style";
  EXPECT_EQ(r.u16(), 2) << "number of items";
  EXPECT_EQ(r.s16(), 18) << "x";
  EXPECT_EQ(r.s16(), 18) << "y";
  EXPECT_EQ(r.s16(), 162) << "cx";
  EXPECT_EQ(r.s16(), 24) << "cy";
  EXPECT_EQ(r.sz(), "") << "menu";
  EXPECT_EQ(r.sz(), "") << "window class";
  EXPECT_EQ(r.sz(), "") << "title";
  EXPECT_EQ(r.u16(), 10) << "font point size";
  EXPECT_EQ(r.sz(), "MS Sans Serif") << "font face";

  struct Item {
    uint16_t id;
    uint32_t style;
    int16_t x, y, cx, cy;
    const char* text;
  };
  const Item items[] = {
      {3, 0x50020000, 25, 8, 107, 9, "*"},
      {4, 0x50000003, 3, 4, 14, 16, "MAINICON"},
  };
  for (const Item& item : items) {
    SCOPED_TRACE("item " + std::to_string(item.id));
    r.alignTo4();
    EXPECT_EQ(r.u32(), item.style) << "style";
    EXPECT_EQ(r.u32(), 0u) << "extended style";
    EXPECT_EQ(r.s16(), item.x) << "x";
    EXPECT_EQ(r.s16(), item.y) << "y";
    EXPECT_EQ(r.s16(), item.cx) << "cx";
    EXPECT_EQ(r.s16(), item.cy) << "cy";
    EXPECT_EQ(r.u16(), item.id) << "id";
    EXPECT_EQ(r.sz(), "#130") << "class: the predefined static class 0x0082";
    EXPECT_EQ(r.sz(), item.text) << "text";
    EXPECT_EQ(r.u16(), 0) << "size of creation data";
  }
  EXPECT_FALSE(r.bad) << "template is shorter than its fields";
  EXPECT_LT(r.remaining(), 4u) << "bytes after the last item";
  for (size_t i = r.pos(); i < wa->size(); ++i) EXPECT_EQ((*wa)[i], 0) << "padding at " << i;
}

// Icon group "MAINICON": five images, numbered 1..5, each RT_ICON present and
// really of the size and depth its group entry claims.
TEST_F(LoaderResources, MainIconGroup) {
  std::optional<Bytes> group = pe().resource(kRtGroupIcon, "MAINICON");
  ASSERT_TRUE(group) << "no RT_GROUP_ICON resource named \"MAINICON\"";
  Reader r(*group);
  EXPECT_EQ(r.u16(), 0) << "reserved";
  EXPECT_EQ(r.u16(), 1) << "type: icon";
  ASSERT_EQ(r.u16(), 5) << "number of images";

  struct Image {
    int size, bits, id;
  };
  const Image images[] = {{32, 8, 1}, {16, 8, 2}, {48, 32, 3}, {32, 32, 4}, {16, 32, 5}};
  for (const Image& want : images) {
    SCOPED_TRACE("image " + std::to_string(want.id));
    int width = r.u8(), height = r.u8();
    r.u8();  // colour count
    r.u8();  // reserved
    int planes = r.u16(), bits = r.u16();
    uint32_t bytes = r.u32();
    int id = r.u16();
    ASSERT_FALSE(r.bad) << "group directory is cut short";
    EXPECT_EQ(width, want.size);
    EXPECT_EQ(height, want.size);
    EXPECT_EQ(planes, 1);
    EXPECT_EQ(bits, want.bits);
    EXPECT_EQ(id, want.id);

    std::optional<Bytes> icon = pe().resource(kRtIcon, id);
    ASSERT_TRUE(icon) << "RT_ICON " << id << " is missing";
    EXPECT_EQ(icon->size(), bytes) << "size in the group entry";
    Reader bmp(*icon);
    EXPECT_EQ(bmp.u32(), 40u) << "BITMAPINFOHEADER, not PNG";
    EXPECT_EQ(static_cast<int32_t>(bmp.u32()), want.size) << "bitmap width";
    EXPECT_EQ(static_cast<int32_t>(bmp.u32()), 2 * want.size) << "bitmap height (colour + mask)";
    bmp.u16();
    EXPECT_EQ(bmp.u16(), want.bits) << "bitmap bit count";
  }
}

TEST_F(LoaderResources, ManifestAsksForCommonControls6AsInvoker) {
  std::optional<Bytes> data = pe().resource(kRtManifest, 1);
  ASSERT_TRUE(data) << "no RT_MANIFEST resource 1";
  std::string manifest(data->begin(), data->end());
  size_t begin = manifest.find("<dependentAssembly>");
  size_t end = manifest.find("</dependentAssembly>");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  std::string dependency = manifest.substr(begin, end - begin);
  for (const char* attribute :
       {"type=\"win32\"", "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
        "processorArchitecture=\"x86\"", "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\""}) {
    EXPECT_NE(dependency.find(attribute), std::string::npos) << "dependency lacks " << attribute;
  }
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
  EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
  EXPECT_EQ(manifest.find("highestAvailable"), std::string::npos);
}

TEST_F(LoaderResources, VersionResourceNamesTheProduct) {
  std::optional<Bytes> data = pe().resource(kRtVersion, 1);
  ASSERT_TRUE(data) << "no RT_VERSION resource 1";
  auto utf16 = [](const std::string& s) {
    Bytes out;
    for (char c : s) {
      out.push_back(static_cast<uint8_t>(c));
      out.push_back(0);
    }
    return out;
  };
  Bytes value = utf16("ProductName");
  value.insert(value.end(), 2, 0);
  Bytes product = utf16("Korvel Loader");
  auto at = std::search(data->begin(), data->end(), value.begin(), value.end());
  ASSERT_NE(at, data->end()) << "no ProductName";
  // The value follows its key after padding to a 32-bit boundary.
  auto from = at + static_cast<std::ptrdiff_t>(value.size());
  auto to = data->end() - from > 40 ? from + 40 : data->end();
  EXPECT_NE(std::search(from, to, product.begin(), product.end()), to)
      << "ProductName is not \"Korvel Loader\"";
}

}  // namespace
