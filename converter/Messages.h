#ifndef CONVERTER_MESSAGES_H
#define CONVERTER_MESSAGES_H

// The converter's console messages, as the Shift_JIS bytes it writes. The
// decoded text stands beside each; "%s" is replaced by a path, unchanged.
namespace morv::msg {

// "MFCの初期化失敗\n" (16 bytes)
inline constexpr char kFrameworkInitFailed[] =
    "MFC\x82\xcc\x8f\x89\x8a\xfa\x89\xbb\x8e\xb8\x94\x73\n";
// "引数数がたりません\n" (19 bytes)
inline constexpr char kTooFewArguments[] =
    "\x88\xf8\x90\x94\x90\x94\x82\xaa\x82\xbd\x82\xe8\x82\xdc\x82\xb9\x82\xf1\n";
// "読み込み失敗 %s\n" (16 bytes before the path is put in)
inline constexpr char kReadFailed[] = "\x93\xc7\x82\xdd\x8d\x9e\x82\xdd\x8e\xb8\x94\x73 %s\n";
// "バッファ格納失敗\n" (17 bytes)
inline constexpr char kConvertFailed[] =
    "\x83\x6f\x83\x62\x83\x74\x83\x40\x8a\x69\x94\x5b\x8e\xb8\x94\x73\n";
// "書き出し失敗\n" (13 bytes)
inline constexpr char kWriteFailed[] = "\x8f\x91\x82\xab\x8f\x6f\x82\xb5\x8e\xb8\x94\x73\n";
// "ファイルを作れませんでした[%s]\n" (31 bytes before the path is put in)
inline constexpr char kCannotCreateFile[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x8d\xec\x82\xea\x82\xdc\x82\xb9\x82\xf1"
    "\x82\xc5\x82\xb5\x82\xbd[%s]\n";
// "書き出し失敗 tbl_num \n" (22 bytes)
inline constexpr char kWriteCountFailed[] =
    "\x8f\x91\x82\xab\x8f\x6f\x82\xb5\x8e\xb8\x94\x73 tbl_num \n";
// "書き出し失敗 frame_tbl \n" (24 bytes)
inline constexpr char kWriteFrameTableFailed[] =
    "\x8f\x91\x82\xab\x8f\x6f\x82\xb5\x8e\xb8\x94\x73 frame_tbl \n";
// "書き出し失敗 tex_tbl \n" (22 bytes)
inline constexpr char kWriteTextureTableFailed[] =
    "\x8f\x91\x82\xab\x8f\x6f\x82\xb5\x8e\xb8\x94\x73 tex_tbl \n";
// "書き出し失敗 pltt_tbl \n" (23 bytes)
inline constexpr char kWritePaletteTableFailed[] =
    "\x8f\x91\x82\xab\x8f\x6f\x82\xb5\x8e\xb8\x94\x73 pltt_tbl \n";

}  // namespace morv::msg

#endif  // CONVERTER_MESSAGES_H
