#include "app/win32/dropped_files.h"

#include <string>

#include "app/common/dll_search.h"

namespace halfmap::win32 {
namespace {

using QueryFile = UINT(WINAPI*)(HDROP, UINT, LPWSTR, UINT);
using Finish = void(WINAPI*)(HDROP);

// Releases the drop on every path, as its receiver must.
class DropScope {
 public:
  DropScope(HDROP drop, Finish finish) : drop_(drop), finish_(finish) {}
  DropScope(const DropScope&) = delete;
  DropScope& operator=(const DropScope&) = delete;
  ~DropScope() {
    if (finish_ != nullptr) {
      finish_(drop_);
    } else {
      ::GlobalFree(drop_);  // what DragFinish does, where the shell is missing
    }
  }

 private:
  HDROP drop_;
  Finish finish_;
};

}  // namespace

std::vector<std::filesystem::path> DroppedFiles(HDROP drop) {
  const auto query = SystemFunction<QueryFile>(L"shell32.dll", "DragQueryFileW");
  const DropScope scope(drop, SystemFunction<Finish>(L"shell32.dll", "DragFinish"));
  std::vector<std::filesystem::path> dropped;
  if (query == nullptr) return dropped;
  const UINT count = query(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::wstring name(query(drop, i, nullptr, 0) + 1, L'\0');
    name.resize(query(drop, i, name.data(), static_cast<UINT>(name.size())));
    dropped.emplace_back(name);
  }
  return dropped;
}

}  // namespace halfmap::win32
