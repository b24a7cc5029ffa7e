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

// Each text the program writes, and each file kind's description, is the Shift-JIS (code
// page 932) form of the text shown here; the message's UTF-8 form is that text too.
TEST(MessageCatalogue, ShiftJisBytesAreTheTextInCodePage932) {
    const struct {
        std::string_view sjis;
        std::string_view utf8; // the message's own UTF-8 form; empty for a description
        const char* text;
    } cases[] = {
        {messages::kStartBanner.sjis, messages::kStartBanner.utf8, "Pelinor Lite 開始"},
        {messages::kFrameworkFailed.sjis, messages::kFrameworkFailed.utf8,
         "Fatal Error: MFC initialization failed"},
        {messages::kUsageTitle.sjis, messages::kUsageTitle.utf8, "Pelinor Lite - 使用法"},
        {messages::kUsageSyntax.sjis, messages::kUsageSyntax.utf8, "書式："},
        {messages::kUsageArguments.sjis, messages::kUsageArguments.utf8, " 入力ファイル..."},
        {messages::kUsageInputs.sjis, messages::kUsageInputs.utf8,
         "・入力ファイルは、tiffファイル を列挙します。"},
        {messages::kFormatError.sjis, messages::kFormatError.utf8, "Pelinor - 書式エラー"},
        {messages::kEndBanner.sjis, messages::kEndBanner.utf8, "Pelinor 終了"},
        // The "%s ..." texts follow the path, from the space after it.
        {messages::kPathFailed.sjis, messages::kPathFailed.utf8, " のパス名取得失敗"},
        {messages::kNotFound.sjis, messages::kNotFound.utf8, " の属性取得失敗"},
        {messages::kFileFailed.sjis, messages::kFileFailed.utf8, " の情報取得失敗"},
        // Half-width katakana are one byte each, full-width kanji two.
        {messages::kLoadFailed.sjis, messages::kLoadFailed.utf8, "-->TIFFｲﾒｰｼﾞ取得ｴﾗｰ"},
        {messages::kWriteFailed.sjis, messages::kWriteFailed.utf8, "-->JPEG出力ｴﾗｰ"},
        {FileKindTable[0].description, {}, ""},
        {FileKindTable[1].description, {}, "OS/2 / Windows ﾋﾞｯﾄﾏｯﾌﾟ"},
        {FileKindTable[7].description, {}, "JPEG-JFIF 準拠"},
        {FileKindTable[12].description, {}, "Potable Pixelmap"},
        {FileKindTable[15].description, {}, "Tagged Image File Format"},
        {FileKindTable[16].description, {}, "Tagged Image File Format"},
        {FileKindTable[17].description, {}, "CompuServe / Windows 圧縮"},
        {FileKindTable[18].description, {}, "Windows ﾒﾀﾌｧｲﾙ"},
        {FileKindTable[22].description, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hex(c.sjis), hex(toCp932(c.text)));
        if (!c.utf8.empty()) {
            EXPECT_EQ(c.utf8, c.text);
        }
    }
}
