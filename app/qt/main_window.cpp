#include "app/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>
#include <vector>

#include "app/error_boundary.h"
#include "app/qt/accessibility.h"
#include "app/common/error_report.h"
#include "mapconv/file_services.h"

namespace halfmap::qt {
namespace {

const QEvent::Type kProbeEvent = static_cast<QEvent::Type>(QEvent::User + kWmProbeInputs);

// The dialog font, or the installed Japanese font fontconfig offers in its
// place, at 12 pixels for 96 dots per inch.
QFont WindowFont(double dotsPerInch) {
  QFont font;
  font.setFamilies({FromUtf8(ui::kFontFace), "Noto Sans CJK JP", "Noto Sans JP", "IPAGothic",
                    "VL Gothic", "Droid Sans Fallback"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(ui::kFontHeight * dotsPerInch / 96.0))));
  return font;
}

// The layout is drawn for text 14 pixels high; another height scales it all.
double LayoutScale(const QFont& font) {
  const int measured = QFontMetrics(font).size(Qt::TextSingleLine, "0").height();
  return measured == ui::kDesignTextHeight ? 1.0 : double(measured) / ui::kDesignTextHeight;
}

std::u16string LowerCase(std::u16string_view text) {
  return QString::fromStdU16String(std::u16string(text)).toLower().toStdU16String();
}

std::size_t Index(ui::Id id) { return static_cast<std::size_t>(id); }

}  // namespace

MainWindow::MainWindow(MapFolder folder)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint) {
  InstallAccessibility();
  setWindowTitle(FromUtf8(ui::text::kCaption));
  setFont(WindowFont(logicalDpiY()));
  scale_ = LayoutScale(font());
  setFixedSize(qRound(ui::kClientWidth * scale_), qRound(ui::kClientHeight * scale_));
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  setPalette(colours);
  setAutoFillBackground(true);

  CreateControls();
  setAcceptDrops(true);
  form_ = std::make_unique<TForm1>(*this, std::move(folder));
  Dispatch(&TForm1::FormCreate);
  // The window is activated before the probe enables Run, so the focus
  // belongs on Quit from the start, not on the first enabled button later.
  widget(ui::Id::Button2)->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow() = default;

void MainWindow::CreateControls() {
  QWidget* previous = nullptr;
  for (const ui::Control& control : ui::kControls) {
    QWidget* created = CreateControl(control);
    widgets_[Index(control.id)] = created;
    created->setGeometry(Place(control));
    created->setEnabled(control.enabled);
    if (ui::TakesFocus(control)) {
      if (previous) setTabOrder(previous, created);
      previous = created;
    }
  }
  // Each bar is known by its map's label: as its buddy, and by name.
  for (const ui::Control& control : ui::kControls) {
    if (control.kind != ui::Kind::Label) continue;
    auto* label = static_cast<qt::Label*>(widget(control.id));
    QWidget* bar = widget(ui::BarOf(control.id));
    label->setBuddy(bar);
    bar->setAccessibleName(label->text());
  }
}

QRect MainWindow::Place(const ui::Control& control) const {
  const QRect scaled(qRound(control.left * scale_), qRound(control.top * scale_), qRound(control.width * scale_),
                     qRound(control.height * scale_));
  if (control.kind != ui::Kind::Label) return scaled;
  // Sized to its text, with its right edge where the layout puts it.
  const int right = qRound((control.left + control.width) * scale_);
  const QSize size = static_cast<const qt::Label*>(widget(control.id))->textSize();
  return {right - size.width(), scaled.top(), size.width(), size.height()};
}

int MainWindow::etch() const { return std::max(1, qRound(scale_)); }

QWidget* MainWindow::CreateControl(const ui::Control& control) {
  const QString text = FromUtf8(control.text);
  switch (control.kind) {
    case ui::Kind::Bevel:
      return new qt::Bevel(this);
    case ui::Kind::Label:
      return new qt::Label(text, etch(), this);
    case ui::Kind::ProgressBar:
      return new qt::Bar(this);
    case ui::Kind::Button: {
      auto* button = new qt::Button(text, this);
      const auto handler = control.id == ui::Id::Button1 ? &TForm1::Button1Click : &TForm1::Button2Click;
      connect(button, &QPushButton::clicked, this, [this, handler] { Dispatch(handler); });
      return button;
    }
    case ui::Kind::StatusBar:
      return new qt::Status(this);
  }
  return nullptr;
}

LabelControl& MainWindow::Label(ui::Id id) { return *static_cast<qt::Label*>(widget(id)); }
ProgressBarControl& MainWindow::Bar(ui::Id id) { return *static_cast<qt::Bar*>(widget(id)); }
ButtonControl& MainWindow::Button(ui::Id id) { return *static_cast<qt::Button*>(widget(id)); }
StatusControl& MainWindow::Status(ui::Id id) { return *static_cast<qt::Status*>(widget(id)); }

void MainWindow::PostProbeInputs() {
  // Ahead of the first repaint, so that repaint shows the probe's results.
  QCoreApplication::postEvent(this, new QEvent(kProbeEvent), Qt::HighEventPriority);
}

void MainWindow::ShowMapFolder(std::string_view folder) {
  static_cast<qt::Status*>(widget(ui::Id::Stsbar))->SetFolder(folder);
}

void MainWindow::ProcessPendingEvents() {
  if (sinceEvents_.isValid() && std::chrono::nanoseconds(sinceEvents_.nsecsElapsed()) < eventInterval_) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  sinceEvents_.start();
}

bool MainWindow::event(QEvent* event) {
  if (event->type() != kProbeEvent) return QWidget::event(event);
  Dispatch(&TForm1::WMProbeInputs);
  return true;
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!centred_) {
    centred_ = true;
    if (const QScreen* display = screen()) {
      QRect frame = frameGeometry();  // move() places the frame, not the client
      frame.moveCenter(display->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  Dispatch(&TForm1::FormShow);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing would pull the window from under a run; it closes when the run
  // is over instead, and Abort keeps working until then.
  if (form_->runState() == RunState::Running) {
    closePending_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

// One local folder, before a run: the drag shows whether it would be taken.
void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (form_->TakesFolder() && urls.size() == 1 && urls.front().isLocalFile() &&
      QFileInfo(urls.front().toLocalFile()).isDir()) {
    event->acceptProposedAction();
  }
}

void MainWindow::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  Dispatch([this, urls = event->mimeData()->urls()] {
    std::vector<std::filesystem::path> dropped;
    for (const QUrl& url : urls) {
      if (url.isLocalFile()) dropped.emplace_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    form_->FolderDropped(dropped);
  });
}

void MainWindow::Dispatch(void (TForm1::*handler)()) {
  Dispatch([this, handler] { (form_.get()->*handler)(); });
}

void MainWindow::Dispatch(const std::function<void()>& handler) {
  RunHandler(handler, [this](const std::string& text) { ShowErrorBox(this, text); });
  if (closePending_ && form_->runState() != RunState::Running) {
    closePending_ = false;
    close();
  }
}

void ShowErrorBox(QWidget* parent, const std::string& text) {
  // The same path the map folder comes from.
  const auto title = AppTitle(mapconv::fs::ExecutablePath().u16string(), &LowerCase);
  QMessageBox box(QMessageBox::Critical, QString::fromStdU16String(title), FromUtf8(text), QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace halfmap::qt
