// The EPIX window and the main window under a real window manager on a 1024x768 screen:
// what the window manager is told (transient, dialog, off the task bar) and what it then
// does (stacking, minimising together, where EPIX opens).
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <vector>

#include "app/term_form.h"
#include "common/msg_table.h"
#include "terminal/terminal_widget.h"
#include "support/main_window_rig.h"
#include "support/qt_test_app.h"
#include "support/qt_wait.h"
#include "support/temp_folder.h"

// Last: Xlib's macros (None, Status, Bool) would clash with names in the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace mirte {
namespace {

using testing::WaitFor;

Display* XDisplay() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->display() : nullptr;
}

Atom AtomNamed(const char* name) { return XInternAtom(XDisplay(), name, False); }

// A property of 32-bit items (atoms, windows), empty when it is not set.
std::vector<unsigned long> Items(Window window, const char* property, Atom type) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> items;
  if (XGetWindowProperty(XDisplay(), window, AtomNamed(property), 0, 1024, False, type, &actualType, &format, &count,
                         &after, &data) == Success &&
      data && format == 32) {
    auto* values = reinterpret_cast<unsigned long*>(data);
    items.assign(values, values + count);
  }
  if (data) XFree(data);
  return items;
}

bool Has(const std::vector<unsigned long>& items, unsigned long item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

bool InState(Window window, unsigned long wanted) {
  auto state = Items(window, "WM_STATE", AtomNamed("WM_STATE"));
  return !state.empty() && state[0] == wanted;
}
bool Iconic(Window window) { return InState(window, IconicState); }
// Managed and on screen, as the window manager sees it.
bool Normal(Window window) { return InState(window, NormalState); }

// The client windows from the bottom of the stack to its top.
std::vector<unsigned long> Stacking() {
  return Items(DefaultRootWindow(XDisplay()), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
}

long StackPosition(Window window) {
  auto stack = Stacking();
  auto at = std::find(stack.begin(), stack.end(), window);
  return at == stack.end() ? -1 : at - stack.begin();
}

class EpixOnDeskTest : public ::testing::Test {
protected:
  testing::TempFolder folder;
  std::unique_ptr<TTermFrm> form;
  QWidget* epix = nullptr;

  void SetUp() override {
    testing::TestApp();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "needs a real X server";
    const Window root = DefaultRootWindow(XDisplay());
    ASSERT_TRUE(WaitFor([&] { return !Items(root, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty(); }))
        << "no window manager on the screen";
    // The window manager names itself a moment before it manages new windows.
    QTest::qWait(300);
    testing::WriteSettingsFile(folder, testing::FolderSettings(folder));
    form = testing::StartMainWindow(folder);
    form->CreateToolWindows();
    ASSERT_TRUE(WaitFor([&] { return Normal(Main()); }));
    // The main window takes its final place once its frame is known.
    QTest::qWait(300);
    form->EPIXCmdClick();
    epix = form->EPIXFrm();
    ASSERT_NE(epix, nullptr);
    ASSERT_TRUE(WaitFor([&] { return Normal(Epix()); }));
    QTest::qWait(100);
  }

  Window Main() const { return static_cast<Window>(form->winId()); }
  Window Epix() const { return static_cast<Window>(epix->winId()); }
};

TEST_F(EpixOnDeskTest, IsADialogOfTheMainWindowKeptOutOfTheTaskBar) {
  Window owner = None;
  ASSERT_TRUE(XGetTransientForHint(XDisplay(), Epix(), &owner));
  EXPECT_EQ(owner, Main());
  EXPECT_TRUE(Has(Items(Epix(), "_NET_WM_WINDOW_TYPE", XA_ATOM), AtomNamed("_NET_WM_WINDOW_TYPE_DIALOG")));
  const auto states = Items(Epix(), "_NET_WM_STATE", XA_ATOM);
  EXPECT_TRUE(Has(states, AtomNamed("_NET_WM_STATE_SKIP_TASKBAR")));
  EXPECT_TRUE(Has(states, AtomNamed("_NET_WM_STATE_SKIP_PAGER")));
}

TEST_F(EpixOnDeskTest, StaysAboveTheMainWindowWhenThatIsActivated) {
  form->raise();
  form->activateWindow();
  ASSERT_TRUE(WaitFor([&] { return form->isActiveWindow(); }));
  QTest::qWait(200);
  EXPECT_GT(StackPosition(Epix()), StackPosition(Main()));
}

TEST_F(EpixOnDeskTest, IsMinimisedAndRestoredWithTheMainWindow) {
  form->showMinimized();
  EXPECT_TRUE(WaitFor([&] { return Iconic(Main()) && Iconic(Epix()); }));
  form->showNormal();
  form->activateWindow();
  EXPECT_TRUE(WaitFor([&] { return !Iconic(Main()) && !Iconic(Epix()); }));
}

TEST_F(EpixOnDeskTest, OpensOnScreenOverTheMainWindowBelowItsMenuBar) {
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect frame = epix->frameGeometry();
  EXPECT_TRUE(available.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                         << frame.height();
  const int menuBottom = form->menuBar()->mapToGlobal(QPoint(0, form->menuBar()->height())).y();
  EXPECT_GE(frame.top(), menuBottom);
  EXPECT_TRUE(form->frameGeometry().intersects(frame)) << "no room beside it on this screen";
}

TEST(MainWindowOnDeskTest, TakesTheLargestFontThatFitsTheScreenAndSaysSo) {
  testing::TestApp();
  testing::TempFolder folder;
  SettingsRec rec = testing::FolderSettings(folder);
  rec.FontSize = 16;
  rec.Language = kLanguageEnglish;
  testing::WriteSettingsFile(folder, rec);
  auto form = testing::StartMainWindow(folder);
  ASSERT_TRUE(WaitFor([&] { return Normal(static_cast<Window>(form->winId())); }));
  QTest::qWait(300);
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(available.contains(form->frameGeometry()))
      << form->frameGeometry().x() << "," << form->frameGeometry().y() << " " << form->frameGeometry().width()
      << "x" << form->frameGeometry().height();
  EXPECT_EQ(form->TerminalWn->FontSize(), 12);
  EXPECT_EQ(form->Settings.Rec.FontSize, 16) << "the choice is kept for a larger screen";
  auto* notice = form->findChild<QLabel*>("PdfFileLb");
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->text(), "Font size 16 does not fit the screen: 12 is used");
}

}  // namespace
}  // namespace mirte
