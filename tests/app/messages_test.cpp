#include "app/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iconv.h>
#include <string>
#include <string_view>

#include "app/convert_driver.h"

namespace {
// The CP932 bytes of a UTF-8 text, as iconv makes them; "<unconvertible>" when it cannot.
std::string toCp932(std::string_view utf8) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return "<no converter>";
    std::string input(utf8);
    std::string output(input.size() * 2 + 8, '\0');
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = output.data();
    size_t outLeft = output.size();
    const size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1) || inLeft != 0)
        return "<unconvertible>";
    output.resize(output.size() - outLeft);
    return output;
}

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}
} // namespace

TEST(MessageCatalogue, ShiftJisBytesAreTheUtf8TextInCodePage932) {
    ASSERT_EQ(messages::kAllCount, 13);
    for (int i = 0; i < messages::kAllCount; ++i) {
        const Message& message = *messages::kAll[i];
        SCOPED_TRACE(std::string(message.utf8));
        EXPECT_FALSE(message.sjis.empty());
        EXPECT_EQ(hex(message.sjis), hex(toCp932(message.utf8)));
    }
}

TEST(MessageCatalogue, AnchorsMatchTheirKnownBytes) {
    // Full-width kanji are two bytes each; half-width katakana one byte each.
    EXPECT_EQ(hex(messages::kStartBanner.sjis),
              "50 65 6c 69 6e 6f 72 20 4c 69 74 65 20 8a 4a 8e 6e");
    EXPECT_EQ(hex(messages::kWriteFailed.sjis), "2d 2d 3e 4a 50 45 47 8f 6f 97 cd b4 d7 b0");
    EXPECT_EQ(messages::kFrameworkFailed.sjis, "Fatal Error: MFC initialization failed");
}

TEST(MessageCatalogue, PathMessagesStartWithTheSpaceAfterThePath) {
    for (const Message* message :
         {&messages::kPathFailed, &messages::kNotFound, &messages::kFileFailed}) {
        SCOPED_TRACE(std::string(message->utf8));
        ASSERT_FALSE(message->sjis.empty());
        EXPECT_EQ(message->sjis.front(), ' ');
        EXPECT_EQ(message->utf8.substr(0, 4), " \xe3\x81\xae"); // " の"
    }
}

TEST(MessageCatalogue, FileKindDescriptionsAreShiftJis) {
    const struct {
        int row;
        const char* utf8;
    } cases[] = {
        {0, ""},
        {1, "OS/2 / Windows ﾋﾞｯﾄﾏｯﾌﾟ"},
        {7, "JPEG-JFIF 準拠"},
        {12, "Potable Pixelmap"},
        {15, "Tagged Image File Format"},
        {16, "Tagged Image File Format"},
        {17, "CompuServe / Windows 圧縮"},
        {18, "Windows ﾒﾀﾌｧｲﾙ"},
        {22, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        ASSERT_NE(FileKindTable[c.row].description, nullptr);
        EXPECT_EQ(hex(FileKindTable[c.row].description), hex(toCp932(c.utf8)));
    }
}
