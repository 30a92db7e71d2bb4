#include "mapconv/errors.h"

namespace mapconv {
namespace {

class FileErrors final : public std::error_category {
 public:
  const char* name() const noexcept override { return "halfmap"; }
  std::string message(int value) const override {
    switch (static_cast<FileError>(value)) {
      case FileError::NotRegularFile: return "not a regular file";
      case FileError::InputChanged: return "the input changed while it was converted";
      case FileError::ForeignLink: return "a link of another user in a shared folder, not followed";
      case FileError::InUse: return "in use by another program";
      case FileError::Device: return "a device, not a regular file";
    }
    return "unknown error";
  }
};

}  // namespace

const std::error_category& FileErrorCategory() noexcept {
  static const FileErrors category;
  return category;
}

std::error_code make_error_code(FileError error) noexcept {
  return {static_cast<int>(error), FileErrorCategory()};
}

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

EOpenFailure::EOpenFailure(const std::filesystem::path& path, std::error_code code)
    : EFileFailure("cannot open " + PathText(path), code) {}

ECreateFailure::ECreateFailure(const std::filesystem::path& path, std::error_code code)
    : EFileFailure("ファイル " + PathText(path) + " を作成できません", code), path_(path) {}

EShortRead::EShortRead(std::error_code code) : EFileFailure("short read", code) {}

EShortWrite::EShortWrite(std::error_code code) : EFileFailure("short write", code) {}

EOutOfMemory::EOutOfMemory() : std::runtime_error("out of memory") {}

EInvalidOperation EInvalidOperation::PropertyOutOfRange(const std::string& className) {
  return EInvalidOperation("プロパティ " + className + " の範囲を超えています");
}

}  // namespace mapconv
