// TForm1, the main window's logic, written once for every platform: the
// start-up probe, the single run, abort and quit. It reaches the screen only
// through a WindowLayer, whose event dispatch calls the handlers below and
// shows the generic error report for anything they let escape.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include "app/map_folder.h"
#include "app/window_layer.h"

namespace halfmap {

enum class RunState : std::uint8_t { NoInput = 0, Ready = 1, Running = 2, Finished = 3 };

// Its names (TForm1, Button1, Button1Click, Stsbar, FRunState...) are the
// original form's and are kept on purpose, so the two can be read side by
// side; only what it adds, such as layer_, is named in this code's style.
class TForm1 {
 public:
  explicit TForm1(WindowLayer& layer, MapFolder folder = {});
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  void FormCreate();
  void FormShow();
  void WMProbeInputs();
  void Button1Click();
  void Button2Click();
  // The conversion's check: handles pending events, then raises EForceBreak
  // if Abort was pressed meanwhile.
  void CheckBreak();
  // What was dropped onto the window. One folder, before a run, becomes the
  // window's folder and is probed as at start-up; anything else is ignored.
  void FolderDropped(const std::vector<std::filesystem::path>& dropped);

  RunState runState() const { return FRunState; }
  const MapFolder& folder() const { return folder_; }
  // Whether a folder dropped now would be taken: only before a run.
  bool TakesFolder() const { return FRunState == RunState::NoInput || FRunState == RunState::Ready; }

 private:
  std::filesystem::path InputName(std::string_view suffix) const;
  void HalveMapHere(std::string_view suffix, ProgressBarControl& bar, const std::function<void()>& check) const;

  WindowLayer& layer_;
  MapFolder folder_;
  RunState FRunState = RunState::Ready;
  bool FFirstShow = true;
  bool FBreakRequest = false;

 public:
  // The controls, owned by the layer.
  LabelControl& Label1;
  LabelControl& Label2;
  LabelControl& Label3;
  ProgressBarControl& Bar1;
  ProgressBarControl& Bar2;
  ProgressBarControl& Bar3;
  ButtonControl& Button1;
  ButtonControl& Button2;
  StatusControl& Stsbar;
};

}  // namespace halfmap
