#include "app/tform1.h"

#include <array>
#include <functional>
#include <utility>

#include "mapconv/errors.h"
#include "mapconv/file_services.h"
#include "mapconv/force_break.h"
#include "mapconv/map_files.h"

namespace halfmap {

using ui::Id;

TForm1::TForm1(WindowLayer& layer, MapFolder folder)
    : layer_(layer),
      folder_(std::move(folder)),
      Label1(layer.Label(Id::Label1)),
      Label2(layer.Label(Id::Label2)),
      Label3(layer.Label(Id::Label3)),
      Bar1(layer.Bar(Id::Bar1)),
      Bar2(layer.Bar(Id::Bar2)),
      Bar3(layer.Bar(Id::Bar3)),
      Button1(layer.Button(Id::Button1)),
      Button2(layer.Button(Id::Button2)),
      Stsbar(layer.Status(Id::Stsbar)) {}

void TForm1::FormCreate() {
  FFirstShow = true;
  FRunState = RunState::Ready;
  // Beside the executable the window stays as it always was.
  if (folder_.kind == MapFolder::Kind::Given) layer_.ShowMapFolder(mapconv::PathText(folder_.path));
}

void TForm1::FormShow() {
  if (!FFirstShow) return;
  FFirstShow = false;
  // Probed from the event loop, once the window is on screen.
  layer_.PostProbeInputs();
}

void TForm1::WMProbeInputs() {
  const std::array<LabelControl*, 3> labels{&Label1, &Label2, &Label3};
  bool any = false;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const auto suffix = mapconv::Suffix(mapconv::kMapVariants[i]);
    const bool found = folder_.kind != MapFolder::Kind::None && mapconv::present(InputName(suffix));
    labels[i]->SetEnabled(found);
    any = any || found;
  }
  if (!any) {
    Stsbar.SetText(ui::text::kNotFound);
    FRunState = RunState::NoInput;
    return;
  }
  Stsbar.SetText(ui::text::kReady);
  Button1.SetEnabled(true);
}

void TForm1::Button1Click() {
  FRunState = RunState::Running;
  // Focus leaves Run before it is disabled, so the keyboard can still abort.
  Button2.SetFocus();
  Button1.SetEnabled(false);
  Button2.SetText(ui::text::kAbort);
  FBreakRequest = false;

  struct Closing {
    TForm1& form;
    ~Closing() {
      form.Button2.SetText(ui::text::kQuit);
      form.FRunState = RunState::Finished;
    }
  } closing{*this};

  const std::array<std::pair<LabelControl*, ProgressBarControl*>, 3> rows{
      {{&Label1, &Bar1}, {&Label2, &Bar2}, {&Label3, &Bar3}}};
  const std::function<void()> check = [this] { CheckBreak(); };
  try {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].first->Enabled()) {
        HalveMapHere(mapconv::Suffix(mapconv::kMapVariants[i]), *rows[i].second, check);
      }
    }
    Stsbar.SetText(ui::text::kFinished);
  } catch (const mapconv::EForceBreak& e) {
    // The status line's words come from the failure's kind, as every front
    // end's do; an abort is this window's own.
    Stsbar.SetText(e.kind() == mapconv::BreakKind::Abort ? ui::text::kAborted : mapconv::StatusText(e.kind()));
  }
}

void TForm1::Button2Click() {
  if (FRunState == RunState::Running) {
    FBreakRequest = true;  // taken up by the next CheckBreak
    return;
  }
  layer_.CloseWindow();
}

void TForm1::FolderDropped(const std::vector<std::filesystem::path>& dropped) {
  if (!TakesFolder() || dropped.size() != 1 || !mapconv::fs::IsFolder(dropped.front())) return;
  folder_ = {MapFolder::Kind::Given, dropped.front()};
  layer_.ShowMapFolder(mapconv::PathText(folder_.path));
  FRunState = RunState::Ready;
  WMProbeInputs();
  if (FRunState == RunState::NoInput) Button1.SetEnabled(false);
}

std::filesystem::path TForm1::InputName(std::string_view suffix) const {
  if (folder_.kind == MapFolder::Kind::Given) return mapconv::InputFileName(folder_.path, suffix);
  return mapconv::InputFileName(suffix);
}

void TForm1::HalveMapHere(std::string_view suffix, ProgressBarControl& bar, const std::function<void()>& check) const {
  if (folder_.kind == MapFolder::Kind::Given) {
    mapconv::HalveMapIn(folder_.path, suffix, bar, check);
  } else {
    mapconv::HalveMap(suffix, bar, check);
  }
}

void TForm1::CheckBreak() {
  layer_.ProcessPendingEvents();
  if (FBreakRequest) throw mapconv::EForceBreak(std::string(ui::text::kAborted));
}

}  // namespace halfmap
