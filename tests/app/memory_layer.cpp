#include "tests/app/memory_layer.h"

#include <stdexcept>

#include "app/error_boundary.h"

namespace testing_support {

using halfmap::ui::Id;
using halfmap::ui::Kind;

void MemoryLabel::SetEnabled(bool enabled) {
  enabled_ = enabled;
  log_.push_back(name_ + ".Enabled=" + (enabled ? "1" : "0"));
}

MemoryButton::MemoryButton(const halfmap::ui::Control& control, Log& log)
    : name_(control.name), log_(log), enabled_(control.enabled), text_(control.text) {}

void MemoryButton::SetEnabled(bool enabled) {
  enabled_ = enabled;
  log_.push_back(name_ + ".Enabled=" + (enabled ? "1" : "0"));
}

void MemoryButton::SetText(std::string_view text) {
  text_ = text;
  log_.push_back(name_ + ".Text=" + text_);
}

void MemoryButton::SetFocus() { log_.push_back(name_ + ".Focus"); }

void MemoryStatus::SetText(std::string_view text) {
  text_ = text;
  log_.push_back("Stsbar.Text=" + text_);
}

void MemoryBar::Draw(int min, int max, int position) {
  if (max != drawnMax_) log_.push_back(name_ + ".Max=" + std::to_string(max));
  if (position < min || position > max) throw std::logic_error("bar drawn outside its range");
  drawnMax_ = max;
  drawnPosition_ = position;
}

MemoryLayer::MemoryLayer(halfmap::MapFolder folder) {
  for (const auto& control : halfmap::ui::kControls) {
    const std::string name(control.name);
    if (control.kind == Kind::Label) labels_.push_back(std::make_unique<MemoryLabel>(name, log_));
    if (control.kind == Kind::ProgressBar) bars_.push_back(std::make_unique<MemoryBar>(name, log_));
    if (control.kind == Kind::Button) buttons_.push_back(std::make_unique<MemoryButton>(control, log_));
  }
  form_ = std::make_unique<halfmap::TForm1>(*this, std::move(folder));
}

halfmap::LabelControl& MemoryLayer::Label(Id id) {
  return *labels_.at(static_cast<std::size_t>(id) - static_cast<std::size_t>(Id::Label1));
}

halfmap::ProgressBarControl& MemoryLayer::Bar(Id id) {
  return *bars_.at(static_cast<std::size_t>(id) - static_cast<std::size_t>(Id::Bar1));
}

halfmap::ButtonControl& MemoryLayer::Button(Id id) {
  return *buttons_.at(static_cast<std::size_t>(id) - static_cast<std::size_t>(Id::Button1));
}

halfmap::StatusControl& MemoryLayer::Status(Id) { return status_; }

const MemoryButton& MemoryLayer::button(Id id) const {
  return *buttons_.at(static_cast<std::size_t>(id) - static_cast<std::size_t>(Id::Button1));
}

const MemoryBar& MemoryLayer::bar(Id id) const {
  return *bars_.at(static_cast<std::size_t>(id) - static_cast<std::size_t>(Id::Bar1));
}

void MemoryLayer::PostProbeInputs() {
  queue_.push_back([this] { form_->WMProbeInputs(); });
}

void MemoryLayer::ProcessPendingEvents() {
  ++processCalls_;
  DrainQueue();
  if (afterProcess) afterProcess(processCalls_);
}

void MemoryLayer::Show() {
  Dispatch([this] { form_->FormCreate(); });
  Dispatch([this] { form_->FormShow(); });
}

void MemoryLayer::Run() { DrainQueue(); }

void MemoryLayer::QueueClick(Id id) {
  queue_.push_back([this, id] {
    if (!button(id).Enabled()) return;  // a disabled button takes no click
    if (id == Id::Button1) form_->Button1Click();
    if (id == Id::Button2) form_->Button2Click();
  });
}

void MemoryLayer::QueueCloseBox() {
  queue_.push_back([this] {
    // Closing in the middle of a run would pull the window from under it.
    if (form_->runState() == halfmap::RunState::Running) {
      closePending_ = true;
    } else {
      closed_ = true;
    }
  });
}

void MemoryLayer::QueueDrop(std::vector<std::filesystem::path> dropped) {
  queue_.push_back([this, dropped = std::move(dropped)] { form_->FolderDropped(dropped); });
}

void MemoryLayer::ShowMapFolder(std::string_view folder) { log_.push_back("Folder=" + std::string(folder)); }

void MemoryLayer::Dispatch(const std::function<void()>& handler) {
  halfmap::RunHandler(handler, [this](const std::string& text) { errorBoxes_.push_back(text); });
  if (closePending_ && form_->runState() != halfmap::RunState::Running) closed_ = true;
}

void MemoryLayer::DrainQueue() {
  while (!closed_ && !queue_.empty()) {
    const auto event = std::move(queue_.front());
    queue_.pop_front();
    Dispatch(event);
  }
}

}  // namespace testing_support
