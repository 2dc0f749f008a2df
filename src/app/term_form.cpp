#include "app/term_form.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QClipboard>
#include <QMessageBox>
#include <QSaveFile>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>

#include <filesystem>
#include <system_error>

#include "app/apply_language.h"
#include "app/com_port_options.h"
#include "app/drives_form.h"
#include "app/desk_windows.h"
#include "app/epix_host.h"
#include "app/info_form.h"
#include "app/key_translation.h"
#include "app/monitor_form.h"
#include "common/monitor_texts.h"
#include "common/drive_texts.h"
#include "app/paste_sender.h"
#include "common/console_texts.h"
#include "common/desk_texts.h"
#include "common/msg_table.h"
#include "common/port_texts.h"
#include "common/print_texts.h"
#include "app/port_messages.h"
#include "app/printer_canvas_qt.h"
#include "app/splash_form.h"
#include "app/user_string_sender.h"
#include "app/user_strings_form.h"
#include "board/board_service.h"
#include "platform/dos_folder.h"
#include "serial/qt_main_thread_queue.h"
#include "terminal/console_text.h"
#include "terminal/terminal_emulator.h"
#include "terminal/terminal_widget.h"

namespace mirte {

namespace {

constexpr int kStatusBarHeight = 27;
// What the status bar keeps above and below its panels (3 and 2 pixels).
constexpr int kStatusBarFrame = 5;
constexpr int kPortPanelWidth = 170;
constexpr int kKeyPanelWidth = 150;
constexpr TColor kNavy = 0x00800000;

// The window is designed with its Italian caption and translated when first shown.
constexpr const char* kDesignCaption = "MIRTE: Emulazione terminale per schede KTB\u00AE con SOLVAX";

std::string ExecutableFile() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string("mirte") : path.string();
}

// The session a window of these options serves, with the Qt event loop as its main-thread
// queue.
std::unique_ptr<TBoardSession> MakeSession(const TTermFrmOptions& options, IBoardWindow& view, ISessionEvents& events,
                                           IPrinterCanvas* printer) {
  const std::string programFile = options.ProgramFile.empty() ? ExecutableFile() : options.ProgramFile;
  return std::make_unique<TBoardSession>(FindSettingsLocation(programFile), programFile,
                                         std::make_unique<TQtMainThreadQueue>(), view, events, printer);
}

QMenu* NewSubmenu(QWidget* parent, const char* name, int tag, const char* italian) {
  auto* menu = new QMenu(QString::fromUtf8(italian), parent);
  menu->setObjectName(name);
  menu->menuAction()->setObjectName(name);
  if (tag != 0) SetTag(menu->menuAction(), tag);
  return menu;
}

}  // namespace

TTermFrm::TTermFrm(TTermFrmOptions startOptions)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      printer_(std::make_unique<TQtPrinterCanvas>([this] { return std::filesystem::path(Settings.WorkFolderPath()); })),
      session_(MakeSession(startOptions, *this, *this, printer_.get())),
      ComPort(session_->ComPort),
      ConsoleLog(session_->ConsoleLog),
      Settings(session_->Settings),
      options_(std::move(startOptions)),
      flags_(session_->Flags),
      board_(&session_->Board()),
      recovery_(session_->Recovery),
      portFault_(session_->PortFault) {
  setObjectName("TermFrm");
  SetTag(this, 1);
  setWindowTitle(QString::fromUtf8(kDesignCaption));
  if (options_.ProgramFile.empty()) options_.ProgramFile = session_->ProgramFile();

  BuildTerminal();
  BuildMenus();
  BuildStatusBar();
  BuildTimers();
  printer_->OnPdfWritten = [this](const QString& path) { ShowPdfFile(path); };
  // The job often ends inside the board's byte stream, or on the way out: the box must not
  // hold either up with an event loop of its own.
  auto tellJobNotWritten = [this](const QString& folder, std::error_code reason, const QString& instead) {
    const int language = Settings.Rec.Language;
    const TTextPair* known = print_texts::PrintFailureReason(reason.value());
    const QString why = known ? PairText(*known, language) : QString::fromStdString(reason.message());
    QString text = PairText(print_texts::kJobNotWritten, language).arg(folder, why);
    if (!instead.isEmpty()) text += "\n\n" + PairText(print_texts::kJobSavedInstead, language).arg(instead);
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  };
  printer_->OnPdfFailed = [this, tellJobNotWritten](const QString& folder, std::error_code reason) {
    ShowNotice(PairText(print_texts::kJobNotSaved, Settings.Rec.Language));
    tellJobNotWritten(folder, reason, {});
  };
  printer_->OnPdfRedirected = [this, tellJobNotWritten](const QString& path, const QString& folder,
                                                       std::error_code reason) {
    ShowPdfFile(path);
    tellJobNotWritten(folder, reason, path);
  };

  FormCreate();
}

TTermFrm::~TTermFrm() {
  // The monitor lets go of the board service as it goes, so it must go first.
  delete monitorFrm_;
  // The terminal lets go of the session's screen before the session goes, and the session's
  // port and service go before the window's widgets.
  TerminalWn->SetEmulator(nullptr);
  DummyTrm.reset();
  // Closing the port pumps events while its workers stop; a timer of the window firing then
  // would reach a session that is already going (and the flags it holds).
  for (QTimer* timer : findChildren<QTimer*>()) timer->stop();
  session_.reset();
}

void TTermFrm::BuildTerminal() {
  TerminalWn = new TTerminal(this);
  TerminalWn->setObjectName("TerminalWn");
  DummyTrm = std::make_unique<TTTYEmulator>(session_->Screen());
  TerminalWn->SetEmulator(DummyTrm.get());
  TerminalWn->SetAutoCopy(false);
  TerminalWn->SetScrollback(false);
  TerminalWn->SetScrollbackRows(24);
  TerminalWn->SetHideScrollbars(true);
  TerminalWn->SetCursorType(TCursorType::ctUnderline);
  TerminalWn->SetBlinkTime(0);
  TerminalWn->SetUseLazyDisplay(false);
  // A board streaming text scrolls the whole screen with nearly every burst, and painting
  // the screen is the dearest part of a burst. Changes that follow a paint within 40 ms
  // join the next one (25 screens a second, faster than anyone reads); the first change
  // after a quiet spell, such as the echo of a key, is still painted at once.
  TerminalWn->SetRepaintInterval(40);
  TerminalWn->SetFont(QFont("Courier New", 10));
  TerminalWn->SetFontColor(kColorSilver);
  TerminalWn->SetColor(kNavy);
  TerminalWn->OnClick = [this] { TerminalWnClick(); };
  TerminalWn->OnKeyDown = [this](int& key, Qt::KeyboardModifiers shift) { TerminalWnKeyDown(key, shift); };
  TerminalWn->OnKeyPress = [this](std::uint8_t& ch) { TerminalWnKeyPress(ch); };
  TerminalWn->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(TerminalWn, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu->popup(TerminalWn->mapToGlobal(at)); });
  setCentralWidget(TerminalWn);
}

void TTermFrm::BuildStatusBar() {
  TermStBar = new QStatusBar(this);
  TermStBar->setObjectName("TermStBar");
  SetTag(TermStBar, 1);
  TermStBar->setSizeGripEnabled(false);
  TermStBar->setFixedHeight(kStatusBarHeight);
  QFont panelFont("Courier New");
  panelFont.setPixelSize(13);
  TermStBar->setStyleSheet("QStatusBar::item { border: none; }");
  const Qt::Alignment alignments[3] = {Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignCenter, Qt::AlignCenter};
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(TermStBar);
    panel->setObjectName(QString("TermStBarPanel%1").arg(i));
    panel->setFont(panelFont);
    panel->setAlignment(alignments[i]);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setMinimumWidth(1);
    TermStBar->addWidget(panel, i == 2 ? 1 : 0);
    Panels[static_cast<std::size_t>(i)] = panel;
  }
  Panels[0]->setFixedWidth(kPortPanelWidth);
  // The board changes the message panel's text twice for every record. A label whose size
  // is not fixed asks the whole window to lay itself out again at each change; the
  // panels' widths are fixed with the window's, their heights are the bar's inner height.
  for (QLabel* panel : Panels) panel->setFixedHeight(kStatusBarHeight - kStatusBarFrame);
  // The name of a print job written as a PDF covers the message panel for a while. It is a
  // label of its own, so the panel's text, which the board service saves and restores
  // around every command, stays as it was.
  PdfFileLb = new QLabel(Panels[1]);
  PdfFileLb->setObjectName("PdfFileLb");
  PdfFileLb->setFont(panelFont);
  PdfFileLb->setAlignment(Qt::AlignCenter);
  PdfFileLb->setAutoFillBackground(true);
  PdfFileLb->hide();
  auto* cover = new QHBoxLayout(Panels[1]);
  cover->setContentsMargins(0, 0, 0, 0);
  cover->addWidget(PdfFileLb);
  PdfFileTmr = new QTimer(this);
  PdfFileTmr->setObjectName("PdfFileTmr");
  PdfFileTmr->setSingleShot(true);
  PdfFileTmr->setInterval(kPdfFileShownMs);
  connect(PdfFileTmr, &QTimer::timeout, PdfFileLb, &QLabel::hide);
  setStatusBar(TermStBar);
}

void TTermFrm::ShowPdfFile(const QString& path) { ShowNotice(QFileInfo(path).fileName()); }

void TTermFrm::ShowNotice(const QString& text) {
  PdfFileLb->setText(text);
  PdfFileLb->show();
  PdfFileTmr->start();
}

void TTermFrm::BuildMenus() {
  QMenuBar* TermMenu = menuBar();
  TermMenu->setObjectName("TermMenu");
  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName("PopupMenu");

  auto item = [this](QMenu* menu, const char* name, int tag, const char* italian, QKeySequence shortcut = {},
                     bool enabled = true) {
    auto* action = new QAction(QString::fromUtf8(italian), this);
    action->setObjectName(name);
    SetTag(action, tag);
    if (!shortcut.isEmpty()) {
      // Shown in the menu; the terminal keeps the keyboard, so the key handling carries
      // these commands out and the shortcut only acts while its menu is open.
      action->setShortcut(shortcut);
      action->setShortcutContext(Qt::WidgetShortcut);
    }
    action->setEnabled(enabled);
    menu->addAction(action);
    return action;
  };
  auto connectTo = [this](QAction* action, void (TTermFrm::*handler)()) {
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  };

  QMenu* ComandiCmd = NewSubmenu(TermMenu, "ComandiCmd", 2, "&Comandi");
  ClearTermCmd = item(ComandiCmd, "ClearTermCmd", 6, "Ca&ncella Terminale", QKeySequence(Qt::CTRL | Qt::Key_Home));
  ComandiCmd->addSeparator();
  SetPrnCmd = item(ComandiCmd, "SetPrnCmd", 7, "Stam&pante...");
  PrintSingPgCmd = item(ComandiCmd, "PrintSingPgCmd", 53, "Sta&mpa ogni Pagina");
  PrintSingPgCmd->setCheckable(true);
  PrintCmd = item(ComandiCmd, "PrintCmd", 8, "S&tampa", {}, false);
  AbortPrintCmd = item(ComandiCmd, "AbortPrintCmd", 9, "&Annulla Stampa", {}, false);
  ComandiCmd->addSeparator();
  ChDirCmd = item(ComandiCmd, "ChDirCmd", 10, "&Cambia Cartella...");
  QAction* exitSeparator = ComandiCmd->addSeparator();
  ExitCmd = item(ComandiCmd, "ExitCmd", 11, "&Esci", QKeySequence(Qt::ALT | Qt::Key_F4));
  TermMenu->addMenu(ComandiCmd);

  QMenu* EditCmd = NewSubmenu(TermMenu, "EditCmd", 3, "&Edit");
  CopiaCmd = item(EditCmd, "CopiaCmd", 12, "&Copia", QKeySequence(Qt::CTRL | Qt::Key_C), false);
  DeSelCmd = item(EditCmd, "DeSelCmd", 29, "&Deseleziona", {}, false);
  TermMenu->addMenu(EditCmd);

  QMenu* ImpostazCmd = NewSubmenu(TermMenu, "ImpostazCmd", 4, "&Impostazioni");
  SelCOMCmd = item(ImpostazCmd, "SelCOMCmd", 13, "&Porta Seriale...");
  DrivesCmd = item(ImpostazCmd, "DrivesCmd", 0, "");
  SetCaption(DrivesCmd, kDrivesCmdText, kLanguageItalian);
  ImpostazCmd->addSeparator();
  QMenu* LinguaCmd = NewSubmenu(ImpostazCmd, "LinguaCmd", 14, "&Lingua");
  ItaLngCmd = item(LinguaCmd, "ItaLngCmd", 15, "&Italiano");
  EngLngCmd = item(LinguaCmd, "EngLngCmd", 16, "&English");
  ImpostazCmd->addMenu(LinguaCmd);
  ImpostazCmd->addSeparator();
  QMenu* SelFontCmd = NewSubmenu(ImpostazCmd, "SelFontCmd", 17, "&Carattere");
  SmallChrCmd = item(SelFontCmd, "SmallChrCmd", 49, "Picc&olo");
  MedChrCmd = item(SelFontCmd, "MedChrCmd", 50, "M&edio");
  BigChrCmd = item(SelFontCmd, "BigChrCmd", 51, "&Grande");
  VBigChrCmd = item(SelFontCmd, "VBigChrCmd", 61, "&Molto Grande");
  ImpostazCmd->addMenu(SelFontCmd);
  ColBackCmd = item(ImpostazCmd, "ColBackCmd", 18, "Colore &Sfondo...");
  ColTextCmd = item(ImpostazCmd, "ColTextCmd", 52, "Colore &Testo...");
  TermMenu->addMenu(ImpostazCmd);
  // One choice each: the language and the font size.
  auto* languages = new QActionGroup(this);
  for (QAction* choice : {ItaLngCmd, EngLngCmd}) languages->addAction(choice)->setCheckable(true);
  auto* sizes = new QActionGroup(this);
  for (QAction* choice : {SmallChrCmd, MedChrCmd, BigChrCmd, VBigChrCmd}) sizes->addAction(choice)->setCheckable(true);

  QMenu* UtilityCmd = NewSubmenu(TermMenu, "UtilityCmd", 5, "&Utilit\u00E0");
  EPIXCmd = item(UtilityCmd, "EPIXCmd", 19, "&EPIX...");
  MonitorCmd = item(UtilityCmd, "MonitorCmd", 0, "");
  SetCaption(MonitorCmd, kMonitorMenuItem, kLanguageItalian);
  UtilityCmd->addSeparator();
  EditStrCmd = item(UtilityCmd, "EditStrCmd", 20, "&Editor Stringhe...");
  QMenu* TasmStrCmd = NewSubmenu(UtilityCmd, "TasmStrCmd", 33, "&Trasmetti Stringa");
  UtilityCmd->addMenu(TasmStrCmd);
  TermMenu->addMenu(UtilityCmd);

  QMenu* PntIntCmd = NewSubmenu(TermMenu, "PntIntCmd", 0, "&?");
  InfoCmd = item(PntIntCmd, "InfoCmd", 21, "&Informazioni...");
  TermMenu->addMenu(PntIntCmd);

  CopiaPup = item(PopupMenu, "CopiaPup", 12, "&Copia", QKeySequence(Qt::CTRL | Qt::Key_C), false);
  DeSelPup = item(PopupMenu, "DeSelPup", 29, "&Deseleziona", {}, false);
  QAction* clearSeparator = PopupMenu->addSeparator();
  ClearTermPup = item(PopupMenu, "ClearTermPup", 6, "Cancella T&erminale", QKeySequence(Qt::CTRL | Qt::Key_Home));
  PopupMenu->addSeparator();
  PrintPup = item(PopupMenu, "PrintPup", 8, "S&tampa", {}, false);
  AbortPrintPup = item(PopupMenu, "AbortPrintPup", 9, "&Annulla Stampa", {}, false);
  PopupMenu->addSeparator();
  QMenu* TrasmStrPup = NewSubmenu(PopupMenu, "TrasmStrPup", 33, "&Trasmetti Stringa");
  PopupMenu->addMenu(TrasmStrPup);

  for (int n = 1; n <= 10; ++n) {
    QKeySequence key(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_F1 + n - 1));
    QString caption = QString("%1: <Nessuna>").arg(n);
    auto idx = static_cast<std::size_t>(n - 1);
    TxStrCmd[idx] = item(TasmStrCmd, QString::asprintf("TxStr%02dCmd", n).toLatin1().constData(), 34,
                         caption.toUtf8().constData(), key, false);
    TxStrPup[idx] = item(TrasmStrPup, QString::asprintf("TxStr%02dPup", n).toLatin1().constData(), 34,
                         caption.toUtf8().constData(), key, false);
    for (QAction* action : {TxStrCmd[idx], TxStrPup[idx]})
      connect(action, &QAction::triggered, this, [this, action] { TxStrClick(action); });
  }

  BuildConsoleItems(ComandiCmd, exitSeparator, EditCmd, clearSeparator);

  connectTo(ClearTermCmd, &TTermFrm::ClearTermCmdClick);
  connectTo(ClearTermPup, &TTermFrm::ClearTermCmdClick);
  connectTo(SetPrnCmd, &TTermFrm::SetPrnCmdClick);
  connectTo(PrintSingPgCmd, &TTermFrm::PrintSingPgCmdClick);
  connectTo(PrintCmd, &TTermFrm::PrintCmdClick);
  connectTo(PrintPup, &TTermFrm::PrintCmdClick);
  connectTo(AbortPrintCmd, &TTermFrm::AbortPrintCmdClick);
  connectTo(AbortPrintPup, &TTermFrm::AbortPrintCmdClick);
  connectTo(ChDirCmd, &TTermFrm::ChDirCmdClick);
  connectTo(ExitCmd, &TTermFrm::ExitCmdClick);
  connectTo(CopiaCmd, &TTermFrm::CopiaCmdClick);
  connectTo(CopiaPup, &TTermFrm::CopiaCmdClick);
  connectTo(DeSelCmd, &TTermFrm::DeSelCmdClick);
  connectTo(DeSelPup, &TTermFrm::DeSelCmdClick);
  connectTo(SelCOMCmd, &TTermFrm::SelCOMCmdClick);
  connectTo(DrivesCmd, &TTermFrm::DrivesCmdClick);
  connectTo(ColBackCmd, &TTermFrm::ColBackCmdClick);
  connectTo(ColTextCmd, &TTermFrm::ColTextCmdClick);
  connectTo(EPIXCmd, &TTermFrm::EPIXCmdClick);
  connectTo(MonitorCmd, &TTermFrm::MonitorCmdClick);
  connectTo(EditStrCmd, &TTermFrm::EditStrCmdClick);
  connectTo(InfoCmd, &TTermFrm::InfoCmdClick);
  connect(ItaLngCmd, &QAction::triggered, this, [this] { LanguageCmdClick(kLanguageItalian); });
  connect(EngLngCmd, &QAction::triggered, this, [this] { LanguageCmdClick(kLanguageEnglish); });
  connect(SmallChrCmd, &QAction::triggered, this, [this] { FontSizeCmdClick(8); });
  connect(MedChrCmd, &QAction::triggered, this, [this] { FontSizeCmdClick(10); });
  connect(BigChrCmd, &QAction::triggered, this, [this] { FontSizeCmdClick(12); });
  connect(VBigChrCmd, &QAction::triggered, this, [this] { FontSizeCmdClick(16); });
}

void TTermFrm::BuildTimers() {
  RefreshTmr = new QTimer(this);
  RefreshTmr->setObjectName("RefreshTmr");
  RefreshTmr->setInterval(200);
  connect(RefreshTmr, &QTimer::timeout, this, [this] { RefreshTmrTimer(); });
  RefreshTmr->start();
  DeSelTmr = new QTimer(this);
  DeSelTmr->setObjectName("DeSelTmr");
  DeSelTmr->setInterval(100);
  connect(DeSelTmr, &QTimer::timeout, this, [this] { DeSelTmrTimer(); });
  ReconnectTmr = new QTimer(this);
  ReconnectTmr->setObjectName("ReconnectTmr");
  ReconnectTmr->setInterval(kReconnectMs);
  connect(ReconnectTmr, &QTimer::timeout, this, [this] { ReconnectTmrTimer(); });
}

void TTermFrm::FormCreate() {
  // The settings come first, only so that the splash speaks their language; reading them
  // shows nothing and takes no time the splash would cover.
  session_->LoadSettings();
  if (options_.ShowSplash) {
    auto* splash = new TSplashFrm(std::chrono::milliseconds(3000), Settings.Rec.Language);
    splash->ShowAndHold(options_.SplashWait);
  }
  SetTermImp();
  SetTermDim();
  SetStrCaption();
  session_->StartBoard();
}

void TTermFrm::CreateToolWindows() {
  if (!comPortOptions_) comPortOptions_ = new TComPortOptions(this);
  if (!epixFrm_) epixFrm_ = NewEPIXFrm(Settings, this);
}

void TTermFrm::SetTermImp() {
  const SettingsRec& rec = Settings.Rec;
  session_->SetTermImp();
  ItaLngCmd->setChecked(rec.Language == kLanguageItalian);
  EngLngCmd->setChecked(rec.Language == kLanguageEnglish);
  SetCheckedFontItem();
  PrintSingPgCmd->setChecked(rec.PrintEachPage != 0);
  TerminalWn->SetFontSize(rec.FontSize);
  TerminalWn->SetFontColor(rec.TextColor);
  TerminalWn->SetColor(rec.BackColor);
  SetWorkingFolder(Settings.WorkFolderPath());
}

void TTermFrm::SetCheckedFontItem() {
  const int size = Settings.Rec.FontSize;
  SmallChrCmd->setChecked(size == 8);
  MedChrCmd->setChecked(size == 10);
  BigChrCmd->setChecked(size == 12);
  VBigChrCmd->setChecked(size == 16);
}

void TTermFrm::SetWorkingFolder(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // Board drives resolve through the file service's own idea of the current folder; the
  // desktop program follows it so that anything relative (the terminal's capture file, a
  // dialog's start) lands in the same place. A folder that cannot be entered is still
  // recorded for its drive.
  std::error_code ignored;
  std::filesystem::current_path(folder, ignored);
  session_->SetWorkingFolder(folder);
}

QSize TTermFrm::TermClientSize(QSize frame) const {
  const int w = TerminalWn->CellWidth();
  const int h = TerminalWn->CellHeight();
  // The outer size the window is given; the frame the window system draws is taken off
  // (it is known once the window is on screen), and in any case the 24 x 80 cells must
  // fit fully inside the terminal.
  QSize outer(81 * w + 6, 25 * h + 75);
  const int border = TerminalWn->frameWidth() * 2;
  const int menuHeight = menuBar()->sizeHint().height();
  return QSize(std::max(outer.width() - frame.width(), 80 * w + border),
               std::max(outer.height() - frame.height(), menuHeight + 24 * h + border + kStatusBarHeight));
}

void TTermFrm::SetTermDim() {
  QSize frame = frameGeometry().size() - geometry().size();
  if (!isVisible()) frame = QSize(0, 0);
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect();
  // The terminal stays 24 x 80: on a screen too small for the chosen size the largest
  // size that fits is used, and the settings keep the choice for a larger screen.
  const int chosen = Settings.Rec.FontSize;
  const int used = screen ? LargestFittingFontSize(chosen, {8, 10, 12, 16},
                                                   [&](int size) {
                                                     TerminalWn->SetFontSize(size);
                                                     return TermClientSize(frame) + frame;
                                                   },
                                                   available.size())
                          : chosen;
  TerminalWn->SetFontSize(used);
  if (used < chosen)
    ShowNotice(PairText(desk_texts::kFontDoesNotFit, Settings.Rec.Language).arg(chosen).arg(used));
  const QSize client = TermClientSize(frame);
  setFixedSize(client);
  Panels[0]->setFixedWidth(kPortPanelWidth);
  Panels[1]->setFixedWidth(std::max(1, client.width() - kPortPanelWidth - kKeyPanelWidth));
  if (screen) {
    QSize whole = client + frame;
    move(available.left() + std::max(0, (available.width() - whole.width()) / 2),
         available.top() + std::max(0, (available.height() - whole.height()) / 2));
  }
}

void TTermFrm::SetStrCaption() {
  QList<QAction*> items;
  for (std::size_t i = 0; i < 10; ++i) items << TxStrCmd[i] << TxStrPup[i];
  mirte::SetStrCaption(items, Settings.Rec, Settings.Rec.Language);
}

void TTermFrm::UpdateComInfo() {
  const int language = Settings.Rec.Language;
  QString text;
  QString hint;
  if (recovery_.Active()) {
    text = PairText(kPortLostPanel, language).arg(recovery_.ComNumber());
    hint = PairText(kPortLostHint, language).arg(QString::fromStdString(recovery_.Device()));
  } else if (flags_.ComNotAvailable) {
    text = PortFailurePanel(portFault_, language);
    if (portFault_.Fault != TPortFault::None) hint = PortFailureMessage(portFault_, language);
  } else if (ComPort.TapiMode() == tmNone || ComPort.TapiMode() == tmOff) {
    text = QString(" COM%1:%2 Baud").arg(ComPort.ComNumber()).arg(ComPort.Baud());
  }
  Panels[0]->setText(text);
  Panels[0]->setToolTip(hint);
}

void TTermFrm::ComPortDeviceLost() { session_->ComPortDeviceLost(); }

void TTermFrm::DeviceLost() {
  UpdateComInfo();
  ReconnectTmr->start();
}

void TTermFrm::ReconnectTmrTimer() {
  if (!recovery_.Active()) {
    ReconnectTmr->stop();
    return;
  }
  session_->RetryPort();
}

void TTermFrm::DeviceBack() {
  ReconnectTmr->stop();
  UpdateComInfo();
}

void TTermFrm::ShowKeyState() {
  QString text = QString::fromStdString(KeyStateText(lockKeys_.Read()));
  if (Panels[2]->text() != text) Panels[2]->setText(text);
}

void TTermFrm::ApplyLanguage() {
  qtTranslations_.Apply(Settings.Rec.Language);
  mirte::ApplyLanguage(Settings.Rec);
}

void TTermFrm::FormShow() {
  UpdateComInfo();
  ShowKeyState();
  ApplyLanguage();
  FocusTerminal();
}

void TTermFrm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_ || event->spontaneous()) return;
  shown_ = true;
  FormShow();
  // The frame the window system adds is known only now; size the window again with it.
  QTimer::singleShot(0, this, [this] { SetTermDim(); });
}

void TTermFrm::closeEvent(QCloseEvent* event) {
  if (flags_.TxBusy) {
    flags_.CloseRequested = true;
    event->ignore();
    return;
  }
  session_->ClosePort();
  event->accept();
  Terminate();
}

void TTermFrm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // The port panel's own texts are not in the message table, which the switch translates.
  if (event->type() == QEvent::LanguageChange && Panels[0]) UpdateComInfo();
}

void TTermFrm::RefreshTmrTimer() {
  ShowKeyState();
  session_->WatchLine();
  if (flags_.CloseRequested) Terminate();
}

void TTermFrm::DeSelTmrTimer() {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(DeSelectDue - std::chrono::steady_clock::now());
  if (left.count() > 0) {
    DeSelTmr->start(int(left.count()));
    return;
  }
  RemoveSelect();
  DeSelTmr->stop();
}

void TTermFrm::Terminate() {
  flags_.CloseRequested = true;
  // A reply drain or a user string pumps events: an ending handled in there must wait until
  // that loop is left, or the drain would carry on over a closed port. The refresh timer
  // comes back here once it is.
  if (flags_.TxBusy || terminated_) return;
  terminated_ = true;
  session_->Terminate();
  // The port is closed, so no list character can follow: the job is ended complete here
  // rather than left to whatever order the windows are destroyed in.
  board_->EndPrintJob(false);
  if (options_.Terminate)
    options_.Terminate();
  else
    // quit() asks every window to close first and is dropped if one refuses; the ending
    // has been decided already, so the loop is left unconditionally.
    QCoreApplication::exit(0);
}

void TTermFrm::FocusTerminal() { TerminalWn->setFocus(Qt::OtherFocusReason); }

// --- Commands ----------------------------------------------------------------------------

void TTermFrm::ClearTermCmdClick() { board_->ResetConsole(); }

void TTermFrm::CopiaCmdClick() { TerminalWn->CopySelectedText(); }

void TTermFrm::DeSelCmdClick() { RemoveSelect(); }

void TTermFrm::SetPrnCmdClick() { PrnSetDlg(this, *printer_); }

void TTermFrm::PrintSingPgCmdClick() {
  Settings.Rec.PrintEachPage = Settings.Rec.PrintEachPage ? 0 : 1;
  PrintSingPgCmd->setChecked(Settings.Rec.PrintEachPage != 0);
  Settings.SaveSettings();
}

void TTermFrm::PrintCmdClick() { board_->EndPrintJob(false); }

void TTermFrm::AbortPrintCmdClick() { board_->EndPrintJob(true); }

void TTermFrm::ChDirCmdClick() {
  auto& files = board_->FileService();
  std::string start = files.Drives().CurrentFolder();
  if (start.empty()) start = files.Drives().WorkingFolder();
  files.RecordDriveFolder(start);
  const QString title = MsgText(Settings.Rec.Language, 28);
  std::optional<QString> chosen;
  if (options_.ChooseFolder) {
    chosen = options_.ChooseFolder(QString::fromStdString(start), title);
  } else {
    QString folder = QFileDialog::getExistingDirectory(this, title, QString::fromStdString(start),
                                                       QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (!folder.isEmpty()) chosen = folder;
  }
  if (!chosen) {
    // The working folder stays; only the board's current folder is put back.
    files.Drives().SetCurrentFolder(start);
    return;
  }
  std::string folder = chosen->toStdString();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (IsRefusedRoot(folder)) {
    // Said here rather than left to the drives, which would leave the board with no
    // working folder at all; the old one stays, in the settings too.
    files.Drives().SetCurrentFolder(start);
    QMessageBox::warning(this, windowTitle(), PairText(kRefusedFolderText, Settings.Rec.Language).arg(*chosen));
    return;
  }
  SetWorkingFolder(folder);
  Settings.SetWorkFolder(folder);
  Settings.SaveSettings();
}

void TTermFrm::ExitCmdClick() { Terminate(); }

void TTermFrm::DrivesCmdClick() {
  if (!drivesFrm_) drivesFrm_ = new TDrivesFrm(this, board_->FileService().Drives(), Settings.Rec, options_.ChooseFolder);
  drivesFrm_->Refresh();
  drivesFrm_->show();
  drivesFrm_->raise();
  drivesFrm_->activateWindow();
}

void TTermFrm::SelCOMCmdClick() {
  CreateToolWindows();
  TSelComHost host{[this] { UpdateComInfo(); }, [this] { FocusTerminal(); },
                   [this](const TPortDiagnosis& why) { portFault_ = why; }};
  // While the dialog is open the port is the user's business.
  ReconnectTmr->stop();
  mirte::SelCOMCmdClick(ComPort, *comPortOptions_, Settings, flags_, host);
  if (recovery_.Active() && !comPortOptions_->Confirmed) ReconnectTmr->start();
  // A port the user chose is theirs: the one that went away is no longer waited for.
  if (comPortOptions_->Confirmed && recovery_.Active()) {
    recovery_.Stop();
    ReconnectTmr->stop();
    UpdateComInfo();
  }
}

void TTermFrm::LanguageCmdClick(int language) {
  const bool same = Settings.Rec.Language == language;
  // A checkable item unchecks itself when chosen again; the check marks follow the record.
  ItaLngCmd->setChecked(language == kLanguageItalian);
  EngLngCmd->setChecked(language == kLanguageEnglish);
  if (same) return;
  Settings.Rec.Language = static_cast<std::uint8_t>(language);
  ApplyLanguage();
  Settings.SaveSettings();
}

void TTermFrm::FontSizeCmdClick(int size) {
  // A checkable item unchecks itself when chosen again; the check marks follow the record.
  if (Settings.Rec.FontSize == size) {
    SetCheckedFontItem();
    return;
  }
  Settings.Rec.FontSize = size;
  SetCheckedFontItem();
  TerminalWn->SetFontSize(size);
  SetTermDim();
  Settings.SaveSettings();
}

std::optional<QColor> TTermFrm::ChooseColor(const QColor& initial) {
  if (options_.ChooseColor) return options_.ChooseColor(initial);
  QColorDialog ColorWn(initial, this);
  ColorWn.setObjectName("ColorWn");
  ColorWn.setOption(QColorDialog::DontUseNativeDialog);
  if (ColorWn.exec() != QDialog::Accepted) return std::nullopt;
  return ColorWn.selectedColor();
}

void TTermFrm::ColBackCmdClick() {
  auto chosen = ChooseColor(ToQColor(TerminalWn->Color()));
  if (!chosen || !chosen->isValid()) return;
  TerminalWn->SetColor(FromQColor(*chosen));
  Settings.Rec.BackColor = FromQColor(*chosen);
  Settings.SaveSettings();
}

void TTermFrm::ColTextCmdClick() {
  auto chosen = ChooseColor(ToQColor(TerminalWn->FontColor()));
  if (!chosen || !chosen->isValid()) return;
  TerminalWn->SetFontColor(FromQColor(*chosen));
  Settings.Rec.TextColor = FromQColor(*chosen);
  Settings.SaveSettings();
}

void TTermFrm::EPIXCmdClick() {
  CreateToolWindows();
  ShowEPIXFrm(epixFrm_);
}

void TTermFrm::MonitorCmdClick() {
  if (!monitorFrm_) {
    auto attach = [this](IFrameObserver* observer) { session_->SetFrameObserver(observer); };
    monitorFrm_ = new TMonitorFrm(Settings.Rec, attach, this);
    monitorFrm_->ReadLineErrors = [this] { return session_->CurrentLineErrors(); };
  }
  monitorFrm_->show();
  monitorFrm_->raise();
  monitorFrm_->activateWindow();
}

void TTermFrm::EditStrCmdClick() {
  mirte::EditStrCmd(this, Settings, [this] { ApplyLanguage(); }, [this] { SetStrCaption(); });
}

void TTermFrm::TxStrClick(QAction* item) {
  int n = mirte::TxStrClick(item);
  if (n == 0) return;
  SendUserString(n, Settings.Rec, flags_, ComPort,
                 [] { QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents); });
}

void TTermFrm::InfoCmdClick() {
  TInfoFrm InfoFrm(this, [this] { ApplyLanguage(); }, Settings.SettingsPath);
  InfoFrm.SetWorkFolder(QString::fromStdString(board_->FileService().Drives().WorkingFolder()), Settings.Rec.Language);
  InfoFrm.SetLineNotice(QString::fromStdString(session_->AdapterNotice()));
  InfoFrm.exec();
}

void TTermFrm::TerminalWnClick() {
  const bool selected = TerminalWn->HasSelection();
  for (QAction* action : {CopiaCmd, DeSelCmd, CopiaPup, DeSelPup}) action->setEnabled(selected);
}

void TTermFrm::SendToPort(const std::string& bytes) { session_->SendToPort(bytes); }

void TTermFrm::TerminalWnKeyDown(int& key, Qt::KeyboardModifiers shift) {
  if (pasting_ && key == Qt::Key_Escape && shift == Qt::NoModifier) pasteStopped_ = true;
  TKeyEvent event{key, static_cast<unsigned>(shift.toInt()), {}};
  TKeyResult result = mirte::TerminalWnKeyDown(event);
  switch (result.Action) {
    case TKeyAction::ClearTerminal:
      board_->ResetConsole();
      break;
    case TKeyAction::SendUserString:
      if (result.UserString >= 1 && result.UserString <= 10 &&
          TxStrCmd[static_cast<std::size_t>(result.UserString - 1)]->isEnabled())
        TxStrClick(TxStrCmd[static_cast<std::size_t>(result.UserString - 1)]);
      break;
    case TKeyAction::EndProgram:
      Terminate();
      break;
    case TKeyAction::Paste:
      PasteCmdClick();
      break;
    default:
      // Alt with a menu's letter still opens that menu, as the window system's own menu
      // handling does behind the consumed key.
      if (shift == Qt::AltModifier) OpenMenuByMnemonic(key);
      break;
  }
  if (result.Consumed) key = 0;
  SendToPort(result.Bytes);
  ShowKeyState();
}

void TTermFrm::OpenMenuByMnemonic(int key) {
  if (key <= 0 || key >= Qt::Key_Escape) return;
  const QKeySequence wanted(Qt::ALT | static_cast<Qt::Key>(QChar(key).toUpper().unicode()));
  for (QAction* menu : menuBar()->actions()) {
    if (menu->isVisible() && menu->isEnabled() && QKeySequence::mnemonic(menu->text()) == wanted) {
      menuBar()->setActiveAction(menu);
      return;
    }
  }
}

void TTermFrm::TerminalWnKeyPress(std::uint8_t& ch) {
  if (pasting_ && ch == 0x1B) {  // the Esc that stops a paste goes no further
    pasteStopped_ = true;
    ch = 0;
    return;
  }
  if (!flags_.ComNotAvailable) SendToPort(std::string(1, static_cast<char>(ch)));
  ch = 0;
}

void TTermFrm::ComPortTriggerAvail() { session_->ComPortTriggerAvail(); }

// --- The board service's view of the window -------------------------------------------

void TTermFrm::SetCursorShape(TCursorType shape) { TerminalWn->SetCursorType(shape); }

void TTermFrm::RemoveSelect() {
  if (TerminalWn->HasSelection()) TerminalWn->DropSelection();
  for (QAction* action : {CopiaCmd, DeSelCmd, CopiaPup, DeSelPup}) action->setEnabled(false);
}

void TTermFrm::Beep() { QApplication::beep(); }

std::string TTermFrm::StatusText() const { return Panels[1]->text().toStdString(); }

void TTermFrm::SetStatusText(std::string_view text) {
  Panels[1]->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void TTermFrm::RestartDeSelectTimer() {
  // The board restarts this with every burst it sends: moving the due time is enough, and
  // far cheaper than taking the timer down and setting it up again each time.
  DeSelectDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  if (!DeSelTmr->isActive()) DeSelTmr->start(100);
}

void TTermFrm::SetPrintJobOpen(bool open) {
  for (QAction* action : {PrintCmd, AbortPrintCmd, PrintPup, AbortPrintPup}) action->setEnabled(open);
  SetPrnCmd->setEnabled(!open);
}

void TTermFrm::WaitForPortNews() {
  session_->WaitForPortNews();
}

void TTermFrm::ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

}  // namespace mirte

namespace mirte {

// --- Console: paste, save and log ----------------------------------------------------------

void TTermFrm::BuildConsoleItems(QMenu* comandi, QAction* beforeExit, QMenu* edit,
                                 QAction* popupBeforeClear) {
  const int language = Settings.Rec.Language;
  auto item = [this, language](const char* name, const TTextPair& caption) {
    auto* action = new QAction(this);
    action->setObjectName(name);
    SetCaption(action, caption, language);
    return action;
  };
  PasteCmd = item("PasteCmd", console_texts::kPasteCmd);
  PastePup = item("PastePup", console_texts::kPasteCmd);
  for (QAction* paste : {PasteCmd, PastePup}) {
    // Shown in the menus; Shift+Insert reaches the key handling, which pastes.
    paste->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Insert));
    paste->setShortcutContext(Qt::WidgetShortcut);
    connect(paste, &QAction::triggered, this, [this] { PasteCmdClick(); });
  }
  SaveTextCmd = item("SaveTextCmd", console_texts::kSaveTextCmd);
  connect(SaveTextCmd, &QAction::triggered, this, [this] { SaveTextCmdClick(); });
  LogConsoleCmd = item("LogConsoleCmd", console_texts::kLogConsoleCmd);
  LogConsoleCmd->setCheckable(true);
  connect(LogConsoleCmd, &QAction::triggered, this, [this] { LogConsoleCmdClick(); });
  comandi->insertAction(beforeExit, LogConsoleCmd);
  edit->addSeparator();
  edit->addAction(PasteCmd);
  edit->addSeparator();
  edit->addAction(SaveTextCmd);
  PopupMenu->insertAction(popupBeforeClear, PastePup);

  LogFlushTmr = new QTimer(this);
  LogFlushTmr->setObjectName("LogFlushTmr");
  LogFlushTmr->setInterval(1000);
  connect(LogFlushTmr, &QTimer::timeout, this, [this] {
    if (!ConsoleLog.Stopped()) return;
    // The log gave up on its own; what it wrote stays, the console carries on without it.
    const std::string reason = ConsoleLog.StopReason(Settings.Rec.Language);
    session_->StopConsoleLog();
    LogFlushTmr->stop();
    LogConsoleCmd->setChecked(false);
    SetStatusText((PairText(console_texts::kLoggingStopped, Settings.Rec.Language) + QString::fromLocal8Bit(reason))
                      .toStdString());
  });
}

std::optional<QString> TTermFrm::ChooseFile(const QString& title, const QString& suggested) {
  const QString start = QString::fromStdString(Settings.WorkFolderPath()) + "/" + suggested;
  if (options_.ChooseFile) return options_.ChooseFile(title, start);
  // The log appends to a file chosen again, so no overwrite question is asked; Save asks.
  const QString chosen = QFileDialog::getSaveFileName(
      this, title, start, PairText(console_texts::kTextFilter, Settings.Rec.Language), nullptr,
      QFileDialog::DontUseNativeDialog |
          (suggested.endsWith(".log") ? QFileDialog::DontConfirmOverwrite : QFileDialog::Options()));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen;
}

void TTermFrm::PasteCmdClick() {
  // One paced transfer at a time: a user string or a paste already waiting keeps the line.
  if (flags_.ComNotAvailable || flags_.TxBusy || pasting_) return;
  const std::string bytes = PasteBytes(QGuiApplication::clipboard()->text().toStdString());
  if (bytes.empty()) return;
  TerminalWn->ReturnToLive();
  pasting_ = true;
  pasteStopped_ = false;
  SendEchoPaced(bytes, flags_, ComPort,
                [] { QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents); },
                &pasteStopped_);
  pasting_ = false;
}

void TTermFrm::SaveTextCmdClick() {
  const int language = Settings.Rec.Language;
  const auto path = ChooseFile(PairText(console_texts::kSaveTextTitle, language), "console.txt");
  if (!path) return;
  const std::string text = ConsoleText(TerminalWn->Buffer());
  QSaveFile file(*path);
  const bool written = file.open(QIODevice::WriteOnly) &&
                       file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
                       file.commit();
  if (!written) QMessageBox::warning(this, windowTitle(), PairText(console_texts::kCannotWrite, language) + "\n" + *path);
}

void TTermFrm::LogConsoleCmdClick() {
  if (ConsoleLog.IsOpen()) {
    session_->StopConsoleLog();
    LogFlushTmr->stop();
    LogConsoleCmd->setChecked(false);
    return;
  }
  LogConsoleCmd->setChecked(false);
  const int language = Settings.Rec.Language;
  const auto path = ChooseFile(PairText(console_texts::kLogConsoleTitle, language), "console.log");
  if (!path) return;
  if (!session_->StartConsoleLog(QFile::encodeName(*path).toStdString())) {
    const bool notRegular = ConsoleLog.OpenFailure() == TConsoleLog::TOpenFailure::NotRegularFile;
    QMessageBox::warning(
        this, windowTitle(),
        PairText(notRegular ? console_texts::kLogNotRegularFile : console_texts::kCannotWrite, language) + "\n" + *path);
    return;
  }
  LogFlushTmr->start();
  LogConsoleCmd->setChecked(true);
}

}  // namespace mirte
