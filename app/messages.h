// Every console text of pelc, as its exact Shift-JIS bytes beside its readable UTF-8 form.
#pragma once

#include <string_view>

struct Message {
    std::string_view sjis;
    std::string_view utf8;
};

namespace messages {
extern const Message kStartBanner;     // "Pelinor Lite 開始"
extern const Message kFrameworkFailed; // "Fatal Error: MFC initialization failed" (stderr)
extern const Message kUsageTitle;      // "Pelinor Lite - 使用法"
extern const Message kUsageSyntax;     // "書式：" (the program's name follows)
extern const Message kUsageArguments;  // " 入力ファイル..."
extern const Message kUsageInputs; // "・入力ファイルは、tiffファイル を列挙します。"
extern const Message kFormatError; // "Pelinor - 書式エラー"
extern const Message kEndBanner;   // "Pelinor 終了"
extern const Message kPathFailed;  // "%s のパス名取得失敗" (text after the path)
extern const Message kNotFound;    // "%s の属性取得失敗"
extern const Message kFileFailed;  // "%s の情報取得失敗"
extern const Message kLoadFailed;  // "-->TIFFｲﾒｰｼﾞ取得ｴﾗｰ"
extern const Message kWriteFailed; // "-->JPEG出力ｴﾗｰ"
} // namespace messages

/// Writes the message on its own line (stdout; stderr for the framework failure).
void printMessage(const Message& message);
/// Writes "<path><message>" on its own line: the "%s ..." messages, with the path's bytes
/// as the user gave them.
void printPathMessage(std::string_view path, const Message& message);
/// Writes "<head><name><tail>" on its own line: a text that names the program.
void printNamedMessage(const Message& head, std::string_view name, const Message& tail);
/// Writes raw bytes (an argument, a path, an output name) on their own line.
void printRaw(std::string_view bytes);
