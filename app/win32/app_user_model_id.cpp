#include "app/win32/app_user_model_id.h"

#include <windows.h>

#include "app/common/dll_search.h"

namespace halfmap::win32 {

void SetAppUserModelId(const wchar_t* id) noexcept {
  // Loaded from the system folder at run time rather than imported, so the
  // programs keep their short list of imports for this one call.
  using SetId = HRESULT(WINAPI*)(const wchar_t*);
  const auto set = SystemFunction<SetId>(L"shell32.dll", "SetCurrentProcessExplicitAppUserModelID");
  if (set != nullptr) set(id);
}

}  // namespace halfmap::win32
