#include "mapconv/halve_map.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>

#include "mapconv/block_source.h"
#include "mapconv/bmp_layout.h"
#include "mapconv/file_services.h"
#include "mapconv/halver.h"
#include "mapconv/map_files.h"
#include "mapconv/write_watch.h"

namespace mapconv {
namespace {

// A map's fixed names, which older versions' OUTPUT.tmp lay beside and an
// existing output may bear in another case, or names the user gave exactly.
enum class Names { Fixed, Given };

class FileSink final : public ByteSink {
 public:
  explicit FileSink(const fs::File& file) : file_(file) {}
  void Reserve(std::int64_t bytes) override { fs::CheckSpace(file_, bytes); }
  void Write(std::span<const std::byte> bytes) override { fs::Write(file_, bytes); }

 private:
  const fs::File& file_;
};

// Holds what the conversion writes against an existing file as the bytes
// come, and remembers where they first differ; nothing is kept or written.
class CompareSink final : public ByteSink {
 public:
  explicit CompareSink(const fs::File& file) : file_(file), block_(AllocateBuffer(kReadBlockSize)) {}

  void Write(std::span<const std::byte> bytes) override {
    while (!bytes.empty() && !difference_) {
      const std::span<std::byte> theirs = block_.span().first(std::min(bytes.size(), block_.size));
      const std::size_t got = fs::ReadUpTo(file_, compared_, theirs);
      const auto [ours, _] = std::mismatch(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(got),
                                           theirs.begin());
      const auto same = static_cast<std::size_t>(ours - bytes.begin());
      compared_ += static_cast<std::int64_t>(same);
      if (same < theirs.size()) difference_ = compared_;
      bytes = bytes.subspan(same);
    }
  }

  // Once the conversion is done: a longer file differs where ours ended.
  std::optional<std::int64_t> Difference() const {
    if (!difference_ && fs::Size(file_) > compared_) return compared_;
    return difference_;
  }

 private:
  const fs::File& file_;
  Buffer block_;
  std::int64_t compared_ = 0;  // bytes found equal so far
  std::optional<std::int64_t> difference_;
};

// A map's file under whatever case of its name the folder holds: an input
// saved as map29361206-1.bmp, and an output already there in another case,
// which is replaced rather than joined by a second file.
std::filesystem::path Found(const std::filesystem::path& path) { return fs::FindFile(path).value_or(path); }

// What Halve read from the map found as input, and the copy it made.
Converted Told(const std::filesystem::path& input, MapSize in) { return {input, in, {in.width / 2, in.height / 2}}; }

// How long a read that failed waits for the write of a save under way (one
// that cut the file just before it was opened) before the failure stands.
constexpr std::chrono::milliseconds kSaveUnderWay{50};

// Runs read over the input opened as in, watched since before its first
// read. A write meanwhile, or a read that failed while the input changed,
// ends in BreakKind::InputChanged, so nothing made of changing bytes is kept.
template <class Read>
auto WhileUnchanged(const fs::File& in, fs::WriteWatch& watch, const fs::Stamp& before, Read read) {
  const auto changed = [&](std::chrono::milliseconds wait) {
    return watch.Written(wait) || fs::StampOf(in) != before;
  };
  const auto inputChanged = [] { return EForceBreak(BreakKind::InputChanged, FileError::InputChanged); };
  try {
    auto result = read();
    if (changed(std::chrono::milliseconds(0))) throw inputChanged();
    return result;
  } catch (const EShortRead&) {
    if (changed(kSaveUnderWay)) throw inputChanged();
    throw;
  } catch (const EFormatError&) {
    if (changed(kSaveUnderWay)) throw inputChanged();
    throw;
  }
}

// Older versions wrote OUTPUT.tmp beside the fixed names only; one left
// beside an output is theirs, unless it is the input itself under that name.
// Any other name is the user's to choose, so a given output's is left alone.
void RemoveStale(const MapPaths& names, Names kind, const fs::File& in) {
  if (kind == Names::Fixed && present(names.output)) fs::RemoveStale(ScratchFileFor(names.output), fs::IdOf(in));
}

// Converts into a scratch file of this run's own, which takes the output's
// place (a link's target, where the output is a link) only when complete,
// on disk and made from an input nobody wrote to meanwhile.
Converted Convert(const MapPaths& names, Names kind, ProgressBar& bar, const std::function<void()>& check) {
  const std::filesystem::path found = Found(names.input);
  const fs::File in = fs::OpenForReading(found);
  fs::WriteWatch watch(in);
  const fs::Stamp before = fs::StampOf(in);
  RemoveStale(names, kind, in);
  const std::filesystem::path output = fs::ResolveOutput(kind == Names::Fixed ? Found(names.output) : names.output);
  fs::File claim = fs::ClaimForReplace(output);
  fs::ScratchFile out(output);
  BlockSource source(in);
  FileSink sink(out.file());
  const MapSize size = WhileUnchanged(in, watch, before, [&] { return Halve(source, sink, bar, check); });
  out.Commit(std::move(claim));
  return Told(found, size);
}

// Compares the output with what Convert would write; see FirstDifference.
Compared Compare(const MapPaths& names, ProgressBar& bar, const std::function<void()>& check) {
  const std::filesystem::path found = Found(names.input);
  const fs::File in = fs::OpenForReading(found);
  fs::WriteWatch watch(in);
  const fs::Stamp before = fs::StampOf(in);
  const fs::File existing = fs::OpenForReading(Found(names.output));
  BlockSource source(in);
  CompareSink sink(existing);
  return WhileUnchanged(in, watch, before, [&] {
    const MapSize size = Halve(source, sink, bar, check);
    return Compared{Told(found, size), sink.Difference()};
  });
}

// Work, again from the start while the input is being written to: a save
// caught in the middle is followed by a whole one.
template <class Work>
auto Settled(Work work) {
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    try {
      return work();
    } catch (const EForceBreak& e) {
      if (e.kind() != BreakKind::InputChanged || attempt == kAttempts) throw;
    }
  }
}

// Runs work with the failures a conversion expects turned into EForceBreak,
// the system's reason kept; those already of that type (an abort, a format
// error, no space, a changing input) pass as they are. Files are closed and the scratch file removed
// before any of them leave work.
template <class Work>
auto AsForceBreak(Work work) {
  try {
    return work();
  } catch (const EOpenFailure& e) {
    throw EForceBreak(BreakKind::Open, e.code());
  } catch (const EShortRead& e) {
    throw EForceBreak(BreakKind::Read, e.code());
  } catch (const EShortWrite& e) {
    throw EForceBreak(BreakKind::Write, e.code());
  } catch (const EOutOfMemory&) {
    throw EForceBreak(BreakKind::Memory);
  }
}

// Convert, again while the input is being written to, its failures as the
// entries raise them.
Converted ConvertSettled(const MapPaths& names, Names kind, ProgressBar& bar, const std::function<void()>& check) {
  return AsForceBreak([&] { return Settled([&] { return Convert(names, kind, bar, check); }); });
}

}  // namespace

void CheckProgressRange(int min, int max) {
  if (max < min) throw EInvalidOperation::PropertyOutOfRange("TProgressBar");
}

void HalveMap(std::string_view suffix, ProgressBar& bar,
              const std::function<void()>& check) {
  HalveMapIn(AppFolder(), suffix, bar, check);
}

void HalveMapIn(const std::filesystem::path& folder, std::string_view suffix, ProgressBar& bar,
                const std::function<void()>& check) {
  // Naming failures are no file failures and pass through as they are.
  HalveFolderMap(InputFileName(folder, suffix), OutputFileName(folder, suffix), bar, check);
}

void HalveFolderMap(const std::filesystem::path& input, const std::filesystem::path& output,
                    ProgressBar& bar, const std::function<void()>& check) {
  ConvertFolderMap(input, output, bar, check);
}

Converted ConvertFolderMap(const std::filesystem::path& input, const std::filesystem::path& output,
                           ProgressBar& bar, const std::function<void()>& check) {
  return ConvertSettled({input, output}, Names::Fixed, bar, check);
}

void HalveFile(const std::filesystem::path& input, const std::filesystem::path& output,
               ProgressBar& bar, const std::function<void()>& check) {
  ConvertFile(input, output, bar, check);
}

Converted ConvertFile(const std::filesystem::path& input, const std::filesystem::path& output,
                      ProgressBar& bar, const std::function<void()>& check) {
  return ConvertSettled({input, output}, Names::Given, bar, check);
}

std::optional<std::int64_t> FirstDifference(const std::filesystem::path& input,
                                            const std::filesystem::path& output, ProgressBar& bar,
                                            const std::function<void()>& check) {
  return CompareFile(input, output, bar, check).difference;
}

Compared CompareFile(const std::filesystem::path& input, const std::filesystem::path& output, ProgressBar& bar,
                     const std::function<void()>& check) {
  const MapPaths names{input, output};
  return AsForceBreak([&] { return Settled([&] { return Compare(names, bar, check); }); });
}

std::optional<MapSize> ReadMapSize(const std::filesystem::path& path) noexcept {
  try {
    const fs::File file = fs::OpenForReading(path);
    BlockSource source(file);
    FileHead head;
    const BmpLayout layout = ReadLayout(source, head);
    return MapSize{layout.width, layout.height < 0 ? -layout.height : layout.height};
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace mapconv
