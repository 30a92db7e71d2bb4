// Every text halfmap-cli shows a person, in English and in Japanese, picked
// once at start from the user's language. JSON keys and status values are
// for programs and stay out of this table. The window's texts are its own.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <system_error>

namespace halfmap::cli {

enum class Language { English, Japanese };

enum class Msg {
  Synopsis,
  Help,
  UnknownOption,   // {option}
  DidYouMean,      // {option} {known option}
  NeedsValue,      // {option}
  BadJobs,         // {most} {given}
  OutputOneInput,
  OutputNoJobs,
  ModesExclusive,
  NotAFolder,      // {folder}
  NoSuchFolder,    // {folder}
  FolderFails,     // {folder} {reason}
  FileNotFolder,   // {folder}
  NoSuchBitmap,
  NothingToDo,     // {folders}
  CannotCreate,    // {path}
  CannotCreateIn,  // {folder}
  OpenError,
  ReadError,
  WriteError,
  NotEnoughSpace,  // {needed} {available}
  OutOfMemory,
  FormatError,
  Interrupted,
  SameFile,
  EndsEarly,
  Verified,        // {input} {output}
  Differs,         // {input} {output} {offset}
  Missing,         // {input} {output}
  Unchanged,       // {input} {output}
  Watching,        // {count}
  CannotWatch,
  FolderGone,      // {folder}
  FolderReplaced,  // {folder}
  NotText,         // {argument}
  FewerWorkers,    // {missing} {wanted} {left}
  NotRegularFile,
  InputChanged,
  ForeignLink,
  InUse,
  CannotReport,
  LinkLoop,
  Device,
};

// The language asked for by a POSIX locale: LC_ALL, LC_MESSAGES or LANG,
// whichever is set first, beginning with "ja".
Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang);

// The user's language as the platform says (the locale's variables on
// POSIX, the user interface language on Windows).
Language UserLanguage();

// Chosen once, before any text is made.
void SetLanguage(Language language);

// The text with each "{}" replaced by the next argument, made Printable
// (escape.h): arguments are names, and a name may hold anything.
std::string Say(Msg id, std::initializer_list<std::string_view> args = {});

// Why something failed: the failures the tool finds itself
// (mapconv::FileError) in the user's language, others in the system's.
std::string SystemReason(std::error_code code);

// The system's own words for an error (FormatMessageW's on Windows); each
// platform implements it.
std::string PlatformReason(std::error_code code);

}  // namespace halfmap::cli
