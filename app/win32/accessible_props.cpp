#include <initguid.h>  // the oleacc identifiers, defined here rather than imported

#include "app/win32/accessible_props.h"

#include <iterator>

namespace halfmap::win32 {
namespace {

// The LiveSetting property of UI Automation, which oleacc passes on for an
// annotated window; absent from the MinGW headers.
constexpr GUID kLiveSetting{0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr long kPolite = 1;

}  // namespace

AccessibleProps::AccessibleProps() {
  com_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (!com_) return;
  void* services = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                   &services))) {
    services_ = static_cast<IAccPropServices*>(services);
  }
}

AccessibleProps::~AccessibleProps() {
  if (services_ != nullptr) services_->Release();
  if (com_) ::CoUninitialize();
}

void AccessibleProps::SetPoliteLiveRegion(HWND control) {
  if (services_ == nullptr) return;
  VARIANT polite{};
  polite.vt = VT_I4;
  polite.lVal = kPolite;
  services_->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kLiveSetting, polite);
}

void AccessibleProps::SetDescription(HWND window, const std::wstring& text) {
  if (services_ == nullptr) return;
  services_->SetHwndPropStr(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                            text.c_str());
}

void AccessibleProps::Clear(HWND window) {
  if (services_ == nullptr) return;
  MSAAPROPID props[] = {kLiveSetting, PROPID_ACC_DESCRIPTION};
  services_->ClearHwndProps(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, props,
                            static_cast<int>(std::size(props)));
}

}  // namespace halfmap::win32
