#include "mapconv/halve_map.h"

#include <algorithm>
#include <utility>

#include "mapconv/block_source.h"
#include "mapconv/bmp_layout.h"
#include "mapconv/file_services.h"
#include "mapconv/halver.h"
#include "mapconv/map_files.h"

namespace mapconv {
namespace {

class FileSink final : public ByteSink {
 public:
  explicit FileSink(const fs::File& file) : file_(file) {}
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

// The conversion's own file beside the output. Unless Commit has put it in
// the output's place, it is removed when this goes away, on every path.
class ScratchFile {
 public:
  ScratchFile(std::filesystem::path path, const std::filesystem::path& output)
      : path_(std::move(path)), file_(fs::CreateExclusive(path_, output)) {}
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() {
    file_ = fs::File();
    if (!committed_) fs::Remove(path_);
  }

  const fs::File& file() const { return file_; }

  // Puts the finished file on disk and then in the output's place in one
  // step. The claim on the output is given up first, as Windows cannot
  // replace a file that is still open.
  void Commit(fs::File claim, const std::filesystem::path& output) {
    fs::Flush(file_);
    file_ = fs::File();
    claim = fs::File();
    fs::Replace(path_, output);
    committed_ = true;
  }

 private:
  std::filesystem::path path_;
  fs::File file_;
  bool committed_ = false;
};

struct MapNames {
  std::filesystem::path input, output, scratch;
};

// The input under whatever case of its name the folder holds.
fs::File OpenInput(const std::filesystem::path& input) {
  return fs::OpenExclusive(fs::FindFile(input).value_or(input));
}

void Convert(const MapNames& names, ProgressBar& bar, const std::function<void()>& check) {
  fs::Remove(names.scratch);  // a stale one from an interrupted run

  const fs::File in = OpenInput(names.input);
  fs::File claim = fs::ClaimForReplace(names.output);
  ScratchFile out(names.scratch, names.output);
  BlockSource source(in);
  FileSink sink(out.file());
  Halve(source, sink, bar, check);
  out.Commit(std::move(claim), names.output);
}

// Runs work with the failures a conversion expects turned into EForceBreak,
// the system's reason kept. Files are closed and the scratch file removed
// before any of them leave work.
template <class Work>
auto AsForceBreak(Work work) {
  try {
    return work();
  } catch (const EOpenFailure& e) {
    throw EForceBreak("file open error", e.code());
  } catch (const EShortRead& e) {
    throw EForceBreak("read file error", e.code());
  } catch (const EShortWrite& e) {
    throw EForceBreak("write file error", e.code());
  } catch (const EOutOfMemory&) {
    throw EForceBreak("out of memory");
  }
}

}  // namespace

void HalveMap(std::string_view suffix, ProgressBar& bar,
              const std::function<void()>& check) {
  HalveMapIn(AppFolder(), suffix, bar, check);
}

void HalveMapIn(const std::filesystem::path& folder, std::string_view suffix, ProgressBar& bar,
                const std::function<void()>& check) {
  // Naming failures are no file failures and pass through as they are.
  HalveFile(InputFileName(folder, suffix), OutputFileName(folder, suffix), bar, check);
}

void HalveFile(const std::filesystem::path& input, const std::filesystem::path& output,
               ProgressBar& bar, const std::function<void()>& check) {
  const MapNames names{input, output, ScratchFileFor(output)};
  AsForceBreak([&] { Convert(names, bar, check); });
}

std::optional<std::int64_t> FirstDifference(const std::filesystem::path& input,
                                            const std::filesystem::path& output, ProgressBar& bar,
                                            const std::function<void()>& check) {
  return AsForceBreak([&] {
    const fs::File in = OpenInput(input);
    const fs::File existing = fs::OpenExclusive(output);
    BlockSource source(in);
    CompareSink sink(existing);
    Halve(source, sink, bar, check);
    return sink.Difference();
  });
}

std::optional<MapSize> ReadMapSize(const std::filesystem::path& path) noexcept {
  try {
    const fs::File file = fs::OpenExclusive(path);
    BlockSource source(file);
    FileHead head;
    const BmpLayout layout = ReadLayout(source, head);
    return MapSize{layout.width, layout.height < 0 ? -layout.height : layout.height};
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace mapconv
