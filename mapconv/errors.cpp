#include "mapconv/errors.h"

namespace mapconv {

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
