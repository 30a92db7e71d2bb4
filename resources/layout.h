// The window's layout and every text it shows, held once for both windowing
// layers. Positions and sizes are client pixels for a font whose text is 14
// pixels high; layers scale them by the measured height of "0" over 14.
// Texts are UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace halfmap::ui {

enum class Kind : std::uint8_t { Bevel, Label, ProgressBar, Button, StatusBar };

enum class Id : std::uint8_t {
  Bevel1, Label1, Label2, Label3, Bar1, Bar2, Bar3, Button1, Button2, Stsbar
};

inline constexpr int kNoTabStop = -1;

struct Control {
  Id id;
  std::string_view name;
  Kind kind;
  int left, top, width, height;
  std::string_view text;
  bool enabled;
  // The form's tab order; kNoTabStop where the form gives none. The bars
  // keep the orders the form gave them, but only buttons take the focus.
  int tabOrder;
};

constexpr bool TakesFocus(const Control& control) { return control.kind == Kind::Button; }

inline constexpr int kClientWidth = 270;
inline constexpr int kClientHeight = 158;
inline constexpr int kDesignTextHeight = 14;
inline constexpr std::string_view kFontFace = "MS Shell Dlg 2";
inline constexpr int kFontHeight = 12;
inline constexpr int kBarMin = 0;
inline constexpr int kBarMax = 100;

// Rows in creation order: each label just before its bar, so a platform
// that names a nameless control after the label created before it names
// every bar after its own map.
inline constexpr std::array<Control, 10> kControls{{
    {Id::Bevel1, "Bevel1", Kind::Bevel, 4, 4, 261, 89, "", true, kNoTabStop},
    {Id::Label1, "Label1", Kind::Label, 44, 12, 24, 14, "通常", true, kNoTabStop},
    {Id::Bar1, "Bar1", Kind::ProgressBar, 76, 12, 181, 16, "", true, 0},
    {Id::Label2, "Label2", Kind::Label, 12, 40, 57, 14, "固定物無し", true, kNoTabStop},
    {Id::Bar2, "Bar2", Kind::ProgressBar, 76, 40, 181, 16, "", true, 1},
    {Id::Label3, "Label3", Kind::Label, 48, 68, 20, 14, "Ｘ線", true, kNoTabStop},
    {Id::Bar3, "Bar3", Kind::ProgressBar, 76, 68, 181, 16, "", true, 2},
    {Id::Button1, "Button1", Kind::Button, 32, 104, 75, 25, "実行", false, 3},
    {Id::Button2, "Button2", Kind::Button, 164, 104, 75, 25, "終了", true, 4},
    {Id::Stsbar, "Stsbar", Kind::StatusBar, 0, 139, 270, 19, "", true, kNoTabStop},
}};

constexpr const Control& ControlFor(Id id) {
  for (const Control& control : kControls) {
    if (control.id == id) return control;
  }
  throw std::out_of_range("control not in the layout");
}

// The bar that shows a label's map: Label1 goes with Bar1, and so on.
constexpr Id BarOf(Id label) {
  return static_cast<Id>(static_cast<int>(label) - static_cast<int>(Id::Label1) + static_cast<int>(Id::Bar1));
}

constexpr bool LabelsPrecedeTheirBars() {
  for (std::size_t i = 0; i + 1 < kControls.size(); ++i) {
    if (kControls[i].kind == Kind::Label && kControls[i + 1].id != BarOf(kControls[i].id)) return false;
  }
  return true;
}
static_assert(LabelsPrecedeTheirBars(), "each label is created just before its bar");

namespace text {
inline constexpr std::string_view kCaption = "Corvane 1/2MAPの修正";
inline constexpr std::string_view kReady = "修正MAPを作成するならば『実行』を押してください";
inline constexpr std::string_view kNotFound = "x1 MAPが見つかりません";
inline constexpr std::string_view kQuit = "終了";      // Button2 outside a run
inline constexpr std::string_view kAbort = "中断";     // Button2 during a run
inline constexpr std::string_view kFinished = "終了";  // status after a complete run
inline constexpr std::string_view kAborted = "中断しました";
// A command line that names no single folder: what it should name.
inline constexpr std::string_view kFolderExpected = "MAPのあるフォルダを1つ指定してください";
// Before the folder in the window's description, after the status.
inline constexpr std::string_view kFolderIs = "フォルダ: ";
}  // namespace text

}  // namespace halfmap::ui
