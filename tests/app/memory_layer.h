// A window layer in memory, for testing TForm1 without a screen. It keeps
// an event queue and dispatches it as the real layers do: every handler runs
// inside the same error boundary, nested event processing included, and a
// close request during a run is carried out once the run's handler returns.
// Controls write what TForm1 does to them into one log, in order.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "app/window_layer.h"

namespace testing_support {

using Log = std::vector<std::string>;

class MemoryLabel final : public halfmap::LabelControl {
 public:
  MemoryLabel(std::string name, Log& log) : name_(std::move(name)), log_(log) {}
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override;

 private:
  std::string name_;
  Log& log_;
  bool enabled_ = true;
};

class MemoryButton final : public halfmap::ButtonControl {
 public:
  MemoryButton(const halfmap::ui::Control& control, Log& log);
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override;
  void SetText(std::string_view text) override;
  void SetFocus() override;
  const std::string& Text() const { return text_; }

 private:
  std::string name_;
  Log& log_;
  bool enabled_;
  std::string text_;
};

class MemoryStatus final : public halfmap::StatusControl {
 public:
  explicit MemoryStatus(Log& log) : log_(log) {}
  void SetText(std::string_view text) override;
  const std::string& Text() const { return text_; }

 private:
  Log& log_;
  std::string text_;
};

// Logs only range changes, so a run's log shows which bar worked when
// without one line per row.
class MemoryBar final : public halfmap::ProgressBarControl {
 public:
  MemoryBar(std::string name, Log& log) : name_(std::move(name)), log_(log) {}
  int DrawnPosition() const { return drawnPosition_; }

 protected:
  void Draw(int min, int max, int position) override;

 private:
  std::string name_;
  Log& log_;
  int drawnMax_ = halfmap::ui::kBarMax;
  int drawnPosition_ = halfmap::ui::kBarMin;
};

class MemoryLayer final : public halfmap::WindowLayer {
 public:
  explicit MemoryLayer(halfmap::MapFolder folder = {});

  halfmap::LabelControl& Label(halfmap::ui::Id id) override;
  halfmap::ProgressBarControl& Bar(halfmap::ui::Id id) override;
  halfmap::ButtonControl& Button(halfmap::ui::Id id) override;
  halfmap::StatusControl& Status(halfmap::ui::Id id) override;
  void PostProbeInputs() override;
  void ProcessPendingEvents() override;
  void CloseWindow() override { closed_ = true; }
  void ShowMapFolder(std::string_view folder) override;

  // Creates and shows the window, as a layer does at start-up.
  void Show();
  // The event loop: dispatches queued events until none is left or the
  // window has closed.
  void Run();

  // What the user does; each arrives as a queued event.
  void QueueClick(halfmap::ui::Id button);
  void QueueCloseBox();
  void QueueDrop(std::vector<std::filesystem::path> dropped);

  // Called at the end of each ProcessPendingEvents with the number of calls
  // so far; events it queues arrive while the next row is converted.
  std::function<void(int calls)> afterProcess;

  halfmap::TForm1& form() { return *form_; }
  const Log& log() const { return log_; }
  const std::vector<std::string>& errorBoxes() const { return errorBoxes_; }
  const MemoryButton& button(halfmap::ui::Id id) const;
  const MemoryStatus& status() const { return status_; }
  const MemoryBar& bar(halfmap::ui::Id id) const;
  int processCalls() const { return processCalls_; }
  bool closed() const { return closed_; }
  std::size_t pending() const { return queue_.size(); }

 private:
  void Dispatch(const std::function<void()>& handler);
  void DrainQueue();

  Log log_;
  std::vector<std::unique_ptr<MemoryLabel>> labels_;
  std::vector<std::unique_ptr<MemoryBar>> bars_;
  std::vector<std::unique_ptr<MemoryButton>> buttons_;
  MemoryStatus status_{log_};
  std::unique_ptr<halfmap::TForm1> form_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::string> errorBoxes_;
  int processCalls_ = 0;
  bool closePending_ = false;
  bool closed_ = false;
};

}  // namespace testing_support
