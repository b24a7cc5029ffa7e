#include "app/messages.h"

#include <algorithm>
#include <cstring>

#include "platform/console.h"

// The Shift-JIS bytes are what the program writes; the UTF-8 form beside each is the same
// text for a reader whose locale is UTF-8.
// Every byte of a Japanese character is written as a hex escape.
namespace messages {
const Message kStartBanner = {"Pelinor Lite \x8a\x4a\x8e\x6e", "Pelinor Lite 開始"};
const Message kFrameworkFailed = {"Fatal Error: MFC initialization failed",
                                  "Fatal Error: MFC initialization failed"};
const Message kUsageTitle = {"Pelinor Lite - \x8e\x67\x97\x70\x96\x40", "Pelinor Lite - 使用法"};
const Message kUsageSyntax = {"\x8f\x91\x8e\xae\x81\x46", "書式："};
const Message kUsageArguments = {" \x93\xfc\x97\xcd\x83\x74\x83\x40\x83\x43\x83\x8b...",
                                 " 入力ファイル..."};
const Message kUsageInputs = {
    "\x81\x45\x93\xfc\x97\xcd\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcd\x81\x41tiff\x83\x74\x83\x40"
    "\x83\x43\x83\x8b \x82\xf0\x97\xf1\x8b\x93\x82\xb5\x82\xdc\x82\xb7\x81\x42",
    "・入力ファイルは、tiffファイル を列挙します。"};
const Message kFormatError = {"Pelinor - \x8f\x91\x8e\xae\x83\x47\x83\x89\x81\x5b",
                              "Pelinor - 書式エラー"};
const Message kEndBanner = {"Pelinor \x8f\x49\x97\xb9", "Pelinor 終了"};
const Message kPathFailed = {" \x82\xcc\x83\x70\x83\x58\x96\xbc\x8e\xe6\x93\xbe\x8e\xb8\x94\x73",
                             " のパス名取得失敗"};
const Message kNotFound = {" \x82\xcc\x91\xae\x90\xab\x8e\xe6\x93\xbe\x8e\xb8\x94\x73",
                           " の属性取得失敗"};
const Message kFileFailed = {" \x82\xcc\x8f\xee\x95\xf1\x8e\xe6\x93\xbe\x8e\xb8\x94\x73",
                             " の情報取得失敗"};
const Message kLoadFailed = {"-->TIFF\xb2\xd2\xb0\xbc\xde\x8e\xe6\x93\xbe\xb4\xd7\xb0",
                             "-->TIFFｲﾒｰｼﾞ取得ｴﾗｰ"};
const Message kWriteFailed = {"-->JPEG\x8f\x6f\x97\xcd\xb4\xd7\xb0", "-->JPEG出力ｴﾗｰ"};

} // namespace messages

namespace {
std::string_view shown(const Message& message) {
    return platform::consoleShowsUtf8() ? message.utf8 : message.sjis;
}
} // namespace

void printMessage(const Message& message) {
    if (&message == &messages::kFrameworkFailed)
        platform::writeErrorLine(shown(message));
    else
        platform::writeOutputLine({}, shown(message));
}

void printPathMessage(std::string_view path, const Message& message) {
    platform::writeOutputLine(path, shown(message));
}

void printNamedMessage(const Message& head, std::string_view name, const Message& tail) {
    // Built in place: the usage must print even when no memory is left to allocate.
    char line[128];
    size_t length = 0;
    for (const std::string_view part : {shown(head), name, shown(tail)}) {
        const size_t taken = std::min(part.size(), sizeof line - length);
        std::memcpy(line + length, part.data(), taken);
        length += taken;
    }
    platform::writeOutputLine({}, std::string_view(line, length));
}

void printRaw(std::string_view bytes) { platform::writeOutputLine(bytes); }
