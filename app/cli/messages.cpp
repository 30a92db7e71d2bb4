#include "app/cli/messages.h"

#include <array>
#include <atomic>
#include <string_view>

#include "app/cli/escape.h"
#include "mapconv/errors.h"

namespace halfmap::cli {
namespace {

struct Texts {
  Msg id;
  std::string_view english;
  std::string_view japanese;
};

constexpr std::array kTexts{
    Texts{Msg::Synopsis,
          "usage: halfmap-cli [-j N] [-q] [--json] [--verify | --changed] [--watch] [FOLDER...]\n"
          "       halfmap-cli [-q] [--json] [--verify | --changed] [--watch] -o OUTPUT INPUT\n"
          "       halfmap-cli --help | --version\n",
          "使い方: halfmap-cli [-j N] [-q] [--json] [--verify | --changed] [--watch] [フォルダ...]\n"
          "        halfmap-cli [-q] [--json] [--verify | --changed] [--watch] -o 出力 入力\n"
          "        halfmap-cli --help | --version\n"},
    Texts{Msg::Help,
          "\n"
          "Writes half-scale copies of MAP29361206-1.BMP, -NS1.BMP and -X1.BMP in each\n"
          "FOLDER (the current folder when none is given) as MAP29361206-2.BMP,\n"
          "-NS2.BMP and -X2.BMP.\n"
          "\n"
          "  -j, --jobs N   convert up to N maps at once (1 to 64, default 1)\n"
          "  -q, --quiet    no progress display on the terminal\n"
          "      --json     one JSON object per map on stdout\n"
          "  -o OUTPUT      convert the one bitmap INPUT to OUTPUT\n"
          "      --verify   write nothing; check that each output is exactly what a\n"
          "                 conversion would write (verified, differs or missing)\n"
          "      --changed  convert only maps whose output is missing or not newer\n"
          "                 than the input; leave the others unchanged\n"
          "      --watch    after a first run, keep converting each map again when\n"
          "                 its input is saved, until Ctrl+C\n"
          "\n"
          "Exit status: 0 all converted (or verified, or unchanged), 1 a map failed\n"
          "or differs, 2 usage error, 3 nothing to convert, 130 interrupted.\n",
          "\n"
          "各フォルダ (指定がなければ現在のフォルダ) の MAP29361206-1.BMP、-NS1.BMP、\n"
          "-X1.BMP の縦横半分の複製を MAP29361206-2.BMP、-NS2.BMP、-X2.BMP に書きます。\n"
          "\n"
          "  -j, --jobs N   同時に N 枚まで変換する (1 から 64、既定は 1)\n"
          "  -q, --quiet    端末に進み具合を表示しない\n"
          "      --json     地図ごとに JSON オブジェクトを 1 行、標準出力に書く\n"
          "  -o 出力        1 枚のビットマップ 入力 を 出力 に変換する\n"
          "      --verify   何も書かず、各出力が変換の結果と同じかを調べる\n"
          "                 (verified 一致、differs 相違、missing 出力なし)\n"
          "      --changed  出力がないか入力より新しくない地図だけを変換し、\n"
          "                 ほかはそのままにする\n"
          "      --watch    最初の変換のあと、入力が保存されるたびにその地図を\n"
          "                 変換し直す (Ctrl+C で終了)\n"
          "\n"
          "終了ステータス: 0 すべて変換 (または一致、変更なし)、1 失敗または相違あり、\n"
          "2 使い方の誤り、3 変換するものがない、130 中断。\n"},
    Texts{Msg::UnknownOption, "unknown option '{}'", "不明なオプション '{}'"},
    Texts{Msg::DidYouMean, "unknown option '{}'; did you mean '{}'?", "不明なオプション '{}'。'{}' のことですか?"},
    Texts{Msg::NeedsValue, "{} needs a value", "{} には値が必要です"},
    Texts{Msg::BadJobs, "-j takes a number from 1 to {}, not '{}'", "-j には 1 から {} までの数を指定します ('{}' ではなく)"},
    Texts{Msg::OutputOneInput, "-o takes exactly one INPUT", "-o には入力をちょうど 1 つ指定します"},
    Texts{Msg::OutputNoJobs, "-o converts one bitmap and takes no -j", "-o は 1 枚だけを変換するので -j は指定できません"},
    Texts{Msg::ModesExclusive, "--verify writes nothing and takes no --changed or --watch",
          "--verify は何も書かないので --changed や --watch と一緒には使えません"},
    Texts{Msg::NotAFolder, "'{}' is not a folder", "'{}' はフォルダではありません"},
    Texts{Msg::NoSuchFolder, "'{}' does not exist", "'{}' は存在しません"},
    Texts{Msg::FolderFails, "'{}': {}", "'{}': {}"},
    Texts{Msg::FileNotFolder, "'{}' is a file, not a folder; to convert this one bitmap: halfmap-cli -o OUTPUT '{}'",
          "'{}' はフォルダではなくファイルです。この 1 枚を変換するには: halfmap-cli -o 出力 '{}'"},
    Texts{Msg::NoSuchBitmap, "no such bitmap", "そのビットマップはありません"},
    Texts{Msg::NothingToDo, "nothing to convert: no MAP29361206-1.BMP, -NS1.BMP or -X1.BMP in {}",
          "変換するものがありません: {} に MAP29361206-1.BMP、-NS1.BMP、-X1.BMP がありません"},
    Texts{Msg::CannotCreate, "cannot create {}", "ファイル {} を作成できません"},
    Texts{Msg::CannotCreateIn, "cannot create files in folder {}", "フォルダ {} にファイルを作成できません"},
    Texts{Msg::OpenError, "file open error", "ファイルを開けません"},
    Texts{Msg::ReadError, "read file error", "ファイルの読み込みエラー"},
    Texts{Msg::WriteError, "write file error", "ファイルの書き込みエラー"},
    Texts{Msg::NotEnoughSpace, "not enough space: {} bytes needed, {} free",
          "空き容量が足りません: {} バイト必要ですが空きは {} バイトです"},
    Texts{Msg::OutOfMemory, "out of memory", "メモリが足りません"},
    Texts{Msg::FormatError, "bitmap format error", "ビットマップ形式のエラー"},
    Texts{Msg::Interrupted, "interrupted", "中断しました"},
    Texts{Msg::SameFile, "output is the input itself", "出力が入力そのものです"},
    Texts{Msg::EndsEarly, "the file ends before its data does", "ファイルがデータの途中で終わっています"},
    Texts{Msg::Verified, "{} = {}  verified", "{} = {}  一致"},
    Texts{Msg::Differs, "{} != {}  differs at byte {}", "{} != {}  バイト {} から相違"},
    Texts{Msg::Missing, "{} -> {}  missing", "{} -> {}  出力なし"},
    Texts{Msg::Unchanged, "{} -> {}  unchanged", "{} -> {}  変更なし"},
    Texts{Msg::Watching, "watching {} maps; Ctrl+C ends", "{} 枚の地図を監視中です。Ctrl+C で終了します"},
    Texts{Msg::CannotWatch, "cannot watch the folders", "フォルダを監視できません"},
    Texts{Msg::FolderGone, "{} is gone; watching for it to come back", "{} がなくなりました。戻るのを待っています"},
    Texts{Msg::FolderReplaced, "{} was renamed or removed; watching the folder now at that path",
          "{} は名前が変わったか削除されました。今その場所にあるフォルダを監視しています"},
    Texts{Msg::NotText, "argument '{}' is not valid text", "引数 '{}' は正しい文字列ではありません"},
    Texts{Msg::FewerWorkers, "could not start {} of {} workers; going on with {}",
          "{} 個のワーカーを開始できませんでした ({} 個中)。{} 個で続けます"},
    Texts{Msg::NotRegularFile, "not a regular file", "通常のファイルではありません"},
    Texts{Msg::InputChanged, "the input changed while it was converted", "変換中に入力が変更されました"},
    Texts{Msg::ForeignLink, "a link of another user in a shared folder, not followed",
          "共有フォルダにある他のユーザーのリンクなので、たどりません"},
    Texts{Msg::InUse, "in use by another program", "ほかのプログラムが使用中です"},
    Texts{Msg::LinkLoop, "a loop of links, which leads to no file", "リンクが循環していて、どのファイルにも行き着きません"},
    Texts{Msg::CannotReport, "the results could not all be written", "結果をすべては書き出せませんでした"},
    Texts{Msg::Device, "a device, not a regular file", "デバイスです。通常のファイルではありません"},
};

std::atomic<Language> gLanguage{Language::English};

std::string_view Find(Msg id) {
  for (const Texts& texts : kTexts) {
    if (texts.id == id) return gLanguage == Language::Japanese ? texts.japanese : texts.english;
  }
  return {};
}

}  // namespace

Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (value == nullptr || *value == '\0') continue;
    return std::string_view(value).starts_with("ja") ? Language::Japanese : Language::English;
  }
  return Language::English;
}

void SetLanguage(Language language) { gLanguage = language; }

std::string Say(Msg id, std::initializer_list<std::string_view> args) {
  const std::string_view text = Find(id);
  std::string said;
  auto arg = args.begin();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "{}") == 0 && arg != args.end()) {
      said += Printable(*arg++);
      ++i;
    } else {
      said += text[i];
    }
  }
  return said;
}

std::string SystemReason(std::error_code code) {
  if (code == mapconv::FileError::NotRegularFile) return Say(Msg::NotRegularFile);
  if (code == mapconv::FileError::InputChanged) return Say(Msg::InputChanged);
  if (code == mapconv::FileError::ForeignLink) return Say(Msg::ForeignLink);
  if (code == mapconv::FileError::InUse) return Say(Msg::InUse);
  if (code == std::errc::too_many_symbolic_link_levels) return Say(Msg::LinkLoop);
  if (code == mapconv::FileError::Device) return Say(Msg::Device);
  return PlatformReason(code);
}

}  // namespace halfmap::cli
