// HalveMap: writes the half-scale copy of one variant's map, keeping the
// pixel in the even column of every odd row. The caller supplies a progress
// bar and a check that may abort; nothing else of the window is needed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "mapconv/errors.h"
#include "mapconv/force_break.h"

namespace mapconv {

// What HalveMap needs of a progress bar. Setting a range whose maximum lies
// below its minimum raises EInvalidOperation and leaves the range as it was;
// a position outside the range is accepted and shown clamped.
class ProgressBar {
 public:
  virtual ~ProgressBar() = default;
  virtual void SetMin(int value) = 0;
  virtual void SetMax(int value) = 0;
  virtual void SetPosition(int value) = 0;
};

// The range check every ProgressBar makes before taking a new minimum or
// maximum: raises EInvalidOperation ("プロパティ TProgressBar の範囲を超えています")
// when max lies below min.
void CheckProgressRange(int min, int max);

// A bar's range kept under that check, for ProgressBar implementations;
// Value may be std::atomic<int> for a range another thread reads.
template <class Value = int>
class ProgressRange {
 public:
  void SetMin(int value) {
    CheckProgressRange(value, max_);
    min_ = value;
  }
  void SetMax(int value) {
    CheckProgressRange(min_, value);
    max_ = value;
  }
  int Min() const { return min_; }
  int Max() const { return max_; }

 private:
  Value min_{0};
  Value max_{100};
};

// Converts InputFileName(suffix) into OutputFileName(suffix). The result is
// written to a scratch file of the run's own beside the output and replaces
// the output (a link's target, where the output is a link) only once it is
// complete, on disk and made from an input nobody wrote to meanwhile, so an
// earlier output survives every failure and keeps its mode and owner. A
// stale ScratchFileName(suffix) of older versions, a regular file of the
// user running the tool, is removed when the output is present. The free
// space is checked before anything is written.
// Raises EForceBreak for the expected failures and aborts (check's own
// EForceBreak passes through), ECreateFailure when the output cannot be
// replaced, and lets anything else through unchanged.
// Every entry may run on several threads at once, each call on its own files.
void HalveMap(std::string_view suffix, ProgressBar& bar,
              const std::function<void()>& check);

// HalveMap for the variant's map in any folder; HalveMap itself uses the
// executable's folder.
void HalveMapIn(const std::filesystem::path& folder, std::string_view suffix, ProgressBar& bar,
                const std::function<void()>& check);

// Width and height of the bitmap at path as the conversion reads its
// headers, the height without its sign; nullopt for a file it cannot read
// or would refuse.
struct MapSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
};
std::optional<MapSize> ReadMapSize(const std::filesystem::path& path) noexcept;

// What a conversion or a check of one map read and made: the input under
// the name it was found by, its size and the copy's, half of each (0 wide
// for a map 1 wide).
struct Converted {
  std::filesystem::path input;
  MapSize in;
  MapSize out;
};

// Converts one bitmap given by name, with HalveMap's scratch file,
// replacement and failures. Its OUTPUT.tmp is the user's and stays.
void HalveFile(const std::filesystem::path& input, const std::filesystem::path& output,
               ProgressBar& bar, const std::function<void()>& check);

// HalveFile, telling what it converted.
Converted ConvertFile(const std::filesystem::path& input, const std::filesystem::path& output,
                      ProgressBar& bar, const std::function<void()>& check);

// HalveFile for a map under a folder's fixed names (InputFileName,
// OutputFileName), as HalveMapIn converts it: an older version's
// ScratchFileName of this user's is removed as HalveMap removes it.
void HalveFolderMap(const std::filesystem::path& input, const std::filesystem::path& output,
                    ProgressBar& bar, const std::function<void()>& check);

// HalveFolderMap, telling what it converted.
Converted ConvertFolderMap(const std::filesystem::path& input, const std::filesystem::path& output,
                           ProgressBar& bar, const std::function<void()>& check);

// Compares the existing output with what HalveFile would write there,
// writing nothing: one pass over the input and one over the output, as the
// conversion produces its bytes. Returns the offset of the first byte that
// differs (the shorter file's length where one is the start of the other),
// or nullopt when the output is exact. Raises as HalveFile does, the output
// that cannot be read included ("file open error", "read file error").
std::optional<std::int64_t> FirstDifference(const std::filesystem::path& input,
                                            const std::filesystem::path& output, ProgressBar& bar,
                                            const std::function<void()>& check);

// FirstDifference, telling also what the check converted.
struct Compared {
  Converted map;
  std::optional<std::int64_t> difference;
};
Compared CompareFile(const std::filesystem::path& input, const std::filesystem::path& output, ProgressBar& bar,
                     const std::function<void()>& check);

}  // namespace mapconv
