// TForm1, the main window's logic, written once for every platform: the
// start-up probe, the single run, abort and quit. It reaches the screen only
// through a WindowLayer, whose event dispatch calls the handlers below and
// shows the generic error report for anything they let escape.
#pragma once

#include <cstdint>

#include "app/window_layer.h"

namespace halfmap {

enum class RunState : std::uint8_t { NoInput = 0, Ready = 1, Running = 2, Finished = 3 };

// Its names (TForm1, Button1, Button1Click, Stsbar, FRunState...) are the
// original form's and are kept on purpose, so the two can be read side by
// side; only what it adds, such as layer_, is named in this code's style.
class TForm1 {
 public:
  explicit TForm1(WindowLayer& layer);
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

  RunState runState() const { return FRunState; }

 private:
  WindowLayer& layer_;
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
