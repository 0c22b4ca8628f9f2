// The publication's settings: the text lines unpacked from resource "GEN".
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "platform/text.h"

// Lines of a compiled publication's settings.
enum SettingsLine {
    lineSignature = 0,
    lineTitle = 1,
    lineRuntimeKeyName = 2,
    lineRequiredVersion = 3,
    lineTemporaryRuntime = 4,
    lineEmbeddedRuntime = 5,
    lineFirstButton = 6,
    lineSecondButton = 7,
    lineDownloadPage = 8,
    lineRuntimeFileName = 9,
    lineSplashText = 10,
};

class PublicationSettings {
public:
    constexpr PublicationSettings() = default;
    PublicationSettings(const PublicationSettings&) = delete;
    PublicationSettings& operator=(const PublicationSettings&) = delete;
    ~PublicationSettings() { release(); }

    // Splits the complete unpacked text into lines, replacing any earlier list:
    // CR ends a line and an LF right after it belongs to the break; any other LF
    // is an ordinary character; the bytes after the last break form a line only
    // when there is at least one; a NUL ends its line's text (the rest up to the
    // next CR is ignored), and a line that would begin with a NUL ends the list.
    void build(const uint8_t* text, size_t length);

    // Line `index`, or the empty text when there is no such line.
    const Text& line(int index) const;
    int count() const { return count_; }

    void release();

private:
    Text* lines_ = nullptr;
    int count_ = 0;
};
