#include "mapconv/errors.h"

namespace mapconv {

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

EOpenFailure::EOpenFailure(const std::filesystem::path& path)
    : std::runtime_error("cannot open " + PathText(path)) {}

ECreateFailure::ECreateFailure(const std::filesystem::path& path)
    : std::runtime_error("ファイル " + PathText(path) + " を作成できません") {}

EShortRead::EShortRead() : std::runtime_error("short read") {}

EShortWrite::EShortWrite() : std::runtime_error("short write") {}

EOutOfMemory::EOutOfMemory() : std::runtime_error("out of memory") {}

EInvalidOperation EInvalidOperation::PropertyOutOfRange(const std::string& className) {
  return EInvalidOperation("プロパティ " + className + " の範囲を超えています");
}

}  // namespace mapconv
