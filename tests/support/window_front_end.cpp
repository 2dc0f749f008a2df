// The main window as a board's front end, in this process on the offscreen platform.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>

#include "app/term_form.h"
#include "common/msg_table.h"
#include "support/board_front_end.h"
#include "support/main_window_rig.h"
#include "support/qt_test_app.h"
#include "support/qt_wait.h"
#include "support/screen_rows.h"

namespace mirte::testing {

namespace fs = std::filesystem;

namespace {

class WindowFrontEnd final : public IBoardFrontEnd {
public:
  bool Start(const TFrontEndSetUp& setUp, std::string& why) override {
    TestApp();
    const fs::path devices = setUp.ProgramFolder / "dosdevices";
    std::error_code ignored;
    fs::remove(devices / "com49", ignored);
    fs::create_symlink(setUp.Device, devices / "com49");
    for (const auto& [letter, folder] : setUp.Drives) {
      const fs::path link = devices / std::string{static_cast<char>(std::tolower(letter)), ':'};
      fs::remove(link, ignored);
      fs::create_symlink(folder, link);
    }
    TTermFrmOptions options;
    options.ProgramFile = (setUp.ProgramFolder / "mirte").string();
    options.ShowSplash = false;
    options.Terminate = [] {};
    form = std::make_unique<TTermFrm>(options);
    form->show();
    QCoreApplication::processEvents();
    if (!form->ComPort.Open()) {
      why = "the window did not open its port: " + form->Panels[0]->text().toStdString();
      return false;
    }
    return true;
  }
  void Turn() override { QCoreApplication::processEvents(QEventLoop::AllEvents, 1); }
  void Idle(std::chrono::milliseconds time) override { RunEventLoopFor(time); }
  void RunBesides(const std::function<void()>& board) override { RunEventLoopBeside(board); }
  std::string Console() override {
    TTerminalBuffer& buffer = form->Session().Screen();
    std::string text;
    for (int row = 1; row <= 24; ++row) text += (row > 1 ? "\r\n" : "") + RowText(buffer, row);
    return text.substr(0, text.find_last_not_of("\r\n") + 1);
  }
  bool PortLost() override { return form->PortLost(); }
  double CpuSeconds() override {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
  }
  void ExpectShownLost() override {
    EXPECT_FALSE(form->ComPort.Open());
    EXPECT_TRUE(form->Flags().ComNotAvailable) << "keys are not sent to a lost port";
    EXPECT_EQ(Panel(), " COM49 unplugged");
    EXPECT_TRUE(form->Panels[0]->toolTip().contains("went away"));
    form->Settings.Rec.Language = mirte::kLanguageItalian;
    form->ApplyLanguage();
    EXPECT_EQ(Panel(), " COM49 scollegata");
    form->Settings.Rec.Language = mirte::kLanguageEnglish;
    form->ApplyLanguage();
  }
  void ExpectShownServing() override {
    EXPECT_TRUE(form->ComPort.Open());
    EXPECT_FALSE(form->PortLost());
    EXPECT_FALSE(form->Flags().ComNotAvailable);
    EXPECT_EQ(Panel(), " COM49:115200 Baud");
    EXPECT_EQ(form->ComPort.Baud(), 115200);
    EXPECT_EQ(form->Panels[1]->text(), "");
    EXPECT_FALSE(form->Flags().TxBusy);
  }
  void Stop() override { form.reset(); }

private:
  std::string Panel() { return form->Panels[0]->text().toStdString(); }

  std::unique_ptr<TTermFrm> form;
};

}  // namespace

std::unique_ptr<IBoardFrontEnd> MakeWindowFrontEnd() { return std::make_unique<WindowFrontEnd>(); }

}  // namespace mirte::testing
