// Windows' wide command line as UTF-8 and back: exact bytes, and nothing lost, not
// even a surrogate without its partner.

#include <gtest/gtest.h>

#include "utf16.h"

namespace {

TEST(Utf16, EncodesAsUtf8AndBack) {
    const struct {
        std::u16string text;
        std::string bytes;
    } cases[] = {
        {u"", ""},
        {u"a.bin", "a.bin"},
        {u"\u007F\u0080", "\x7F\xC2\x80"},
        {u"\u00FC\u00DF", "\xC3\xBC\xC3\x9F"},
        {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
        {u"\u65E5\u672C", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {u"\U0001D11E", "\xF0\x9D\x84\x9E"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        // Unpaired surrogates keep their own value, in three bytes.
        {std::u16string{0xD800}, "\xED\xA0\x80"},
        {std::u16string{0xDFFF, u'x'}, "\xED\xBF\xBFx"},
        {std::u16string{0xDC00, 0xD800}, "\xED\xB0\x80\xED\xA0\x80"},
        {std::u16string{0xD834, 0xD834, 0xDD1E}, "\xED\xA0\xB4\xF0\x9D\x84\x9E"},
        {std::u16string{u'a', 0, u'b'}, std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_from_utf16(c.text), c.bytes) << c.bytes;
        EXPECT_EQ(utf16_from_utf8(c.bytes), c.text) << c.bytes;
    }
}

TEST(Utf16, MalformedBytesBecomeReplacementCharacters) {
    const struct {
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"\x80", u"\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong '/'
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"\xE6\x97", u"\uFFFD\uFFFD"},                      // cut short
        {"\xE6\x97x", u"\uFFFD\uFFFDx"},
        {"a\xFF"
         "b",
         u"a\uFFFDb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf16_from_utf8(c.bytes), c.text) << c.bytes;
    }
}

}  // namespace
