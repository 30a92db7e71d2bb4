// halfmap_screenshots FOLDER: shows the real window over small demo maps,
// one of them missing, and saves it before and after a run as
// FOLDER/window-before.png and FOLDER/window-after.png. Needs no display.
// At another density than 96 dots per inch (QT_FONT_DPI=144, say) the
// names end in -144dpi.
#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include <unistd.h>

#include "app/qt/main_window.h"
#include "mapconv/test_hooks.h"
#include "tools/demo_maps.h"

namespace {

// A folder of its own, removed again whatever happens.
class ScratchFolder {
 public:
  ScratchFolder()
      : path_(std::filesystem::temp_directory_path() / ("halfmap-shots-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void Save(QWidget& window, const std::filesystem::path& file) {
  QApplication::processEvents();
  if (!window.grab().save(QString::fromStdString(file.string()), "PNG"))
    throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: halfmap_screenshots FOLDER\n";
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  try {
    const std::filesystem::path out = argv[1];
    ScratchFolder maps;
    demo::WriteDemoMaps(maps.path(), {.width = 480, .height = 320});
    std::filesystem::remove(maps.path() / "MAP29361206-X1.BMP");  // shows an absent input
    mapconv::hooks::SetAppFolder(maps.path());

    halfmap::qt::MainWindow window;
    // Qt lays out at 96 and scales the picture by the device pixel ratio.
    const int dpi = qRound(window.logicalDpiY() * window.devicePixelRatioF());
    const std::string suffix = dpi == 96 ? ".png" : "-" + std::to_string(dpi) + "dpi.png";
    window.show();
    Save(window, out / ("window-before" + suffix));
    static_cast<QPushButton*>(window.widget(halfmap::ui::Id::Button1))->click();
    Save(window, out / ("window-after" + suffix));
    mapconv::hooks::SetAppFolder({});
  } catch (const std::exception& e) {
    std::cerr << "halfmap_screenshots: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
