#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loader/settings.h"

namespace {

std::vector<std::string> split(const std::string& text)
{
    PublicationSettings settings;
    settings.build(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::vector<std::string> lines;
    for (int i = 0; i < settings.count(); ++i) lines.emplace_back(settings.line(i).c_str(), settings.line(i).length());
    return lines;
}

TEST(PublicationSettings, SplitsLinesByTheLoaderRules)
{
    using Lines = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string text;
        Lines lines;
    } cases[] = {
        {"empty text has no lines", "", {}},
        {"CR LF breaks", "ab\r\ncd\r\n", {"ab", "cd"}},
        {"one more break gives an empty last line", "ab\r\ncd\r\n\r\n", {"ab", "cd", ""}},
        {"tail without a break is a line", "ab\r\ncd", {"ab", "cd"}},
        {"CR alone breaks", "ab\rcd\r", {"ab", "cd"}},
        {"LF alone is an ordinary character", "ab\ncd\n", {"ab\ncd\n"}},
        {"LF after CR LF belongs to the next line", "ab\r\n\ncd", {"ab", "\ncd"}},
        {"empty lines inside count", "a\r\r\nb", {"a", "", "b"}},
        {"a lone break is one empty line", "\r\n", {""}},
        {"NUL ends its line's text", std::string("ab\0xy\r\ncd", 9), {"ab", "cd"}},
        {"a line beginning with NUL ends the list", std::string("ab\r\n\0cd\r\nef", 11), {"ab"}},
        {"a leading NUL gives no lines", std::string("\0ab", 3), {}},
        {"bytes 128 to 255 kept", "\xE9t\xE9\r\n", {"\xE9t\xE9"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(split(c.text), c.lines);
    }
}

TEST(PublicationSettings, LinesOutsideTheListReadEmpty)
{
    PublicationSettings settings;
    std::string text = "one\r\ntwo\r\n";
    settings.build(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    EXPECT_STREQ(settings.line(1).c_str(), "two");
    EXPECT_STREQ(settings.line(2).c_str(), "");
    EXPECT_STREQ(settings.line(5).c_str(), "");
    EXPECT_STREQ(settings.line(-1).c_str(), "");

    settings.build(reinterpret_cast<const uint8_t*>("x\r\n"), 3);  // rebuilding replaces the list
    EXPECT_EQ(settings.count(), 1);
    settings.release();
    EXPECT_EQ(settings.count(), 0);
    EXPECT_STREQ(settings.line(0).c_str(), "");
}

}  // namespace
