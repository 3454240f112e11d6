#include "ui/MainWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "ui/Placement.h"
#include "ui/TextBoxView.h"
#include "ui/Twips.h"
#include "ui/HelpWindow.h"
#include "ui/SpeedWindow.h"

namespace ui {
namespace {

void Call(const std::function<void()>& handler) {
  if (handler) handler();
}

// The layout in twips at the window's first size. Growing, the window gives the room
// to the four boxes with their headings and to the device lists; the rest stays. The
// boxes' columns were laid out for a client area kColumnsWidth wide; the first size
// is wider by the rescan button beside the device lists and by lists that hold a port
// name such as "a2j:Roland MC-303 [20] (capture" (31 characters, all a list shows),
// and the boxes share that width too.
constexpr int kColumnsWidth = 8280, kClientHeight = 4755;
constexpr int kHeadingTop = 1320, kHeadingHeight = 315, kBoxTop = 1680, kBoxHeight = 2895;
// share: the parts of the extra width of a grown window each box takes. The Files box
// takes two for its long paths; the others' lines ("U01 Missing Settings", the report
// lines) are cut at the first size and want only a little more.
struct Column {
  int left, width, share;
};
constexpr Column kColumns[4] = {{120, 3615, 2}, {3840, 1335, 1}, {5280, 1695, 1}, {7080, 1095, 1}};
constexpr int kListLeft = 5400, kListWidth = 3600, kInpTop = 120, kOutTop = 720, kListHeight = 360;
// Midway between the two lists, as it reads both afresh.
constexpr int kRescanLeft = kListLeft + kListWidth + 105, kRescanTop = 412, kRescanWidth = 855;
constexpr int kClientWidth = kRescanLeft + kRescanWidth + 105;

// How much wider a list must be for its text field to show its longest name whole.
int ListShortfall(const QComboBox& list) {
  int longest = 0;
  for (int i = 0; i < list.count(); ++i) longest = std::max(longest, list.fontMetrics().horizontalAdvance(list.itemText(i)));
  QStyleOptionComboBox option;
  option.initFrom(&list);
  return std::max(0, longest - list.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField,
                                                             &list).width());
}

}  // namespace

MainWindow::MainWindow(const MainWindowParts& parts, QWidget* parent) : QWidget(parent, Qt::Window), p_(parts) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QString::fromLatin1(kMainCaption));
  const double s = ScreenScale(this);
  scale_ = s;
  // Resizable from the first size down to nothing smaller, which is what the controls
  // were placed for; growing, the boxes and the device lists take the room.
  resize(TwipsToPixels(kClientWidth, s), TwipsToPixels(kClientHeight, s));
  setMinimumSize(size());
  CentreOver(*this, nullptr);

  MakeButtons(s);
  MakeLabels(s);
  inputList = new QComboBox(this);
  outputList = new QComboBox(this);
  inputList_ = std::make_unique<QtDeviceList>(*inputList);
  outputList_ = std::make_unique<QtDeviceList>(*outputList);
  MakeBoxes(s);
  ConnectControls();
  SetNamesAndTabOrder();
  Timer1.setInterval(500);
  connect(&Timer1, &QTimer::timeout, this, &MainWindow::Timer1Tick);
  // As fine as the system allows; it runs only while a pacing countdown is armed.
  Timer3.setTimerType(Qt::PreciseTimer);
  Timer3.setInterval(1);
  connect(&Timer3, &QTimer::timeout, this, &MainWindow::Timer3Tick);
}

void MainWindow::MakeButtons(double s) {
  auto button = [this, s](const char* caption, int left, int top, int width) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setGeometry(TwipRect(left, top, width, 375, s));
    // Clicks leave the focus where it was (the caret in the Files box marks the line
    // to remove); Tab reaches each button, and Return presses it as Space does.
    b->setFocusPolicy(Qt::TabFocus);
    b->setAutoDefault(true);
    return b;
  };
  startButton = button("Start", 120, 120, 855);
  addButton = button("Add", 1080, 120, 735);
  sendButton = button("Send", 1920, 120, 855);
  helpButton = button("Help", 2880, 120, 855);
  stopButton = button("Stop", 120, 840, 855);
  saveButton = button("Save", 1080, 840, 735);
  speedButton = button("Speed", 1920, 840, 855);
  quitButton = button("Quit", 2880, 840, 855);
  rescanButton = button("Rescan", kRescanLeft, kRescanTop, kRescanWidth);
  rescanButton->setToolTip(QStringLiteral(
      "Look for MIDI devices again, such as one plugged in since the start (not during a capture or a Send)"));
}

void MainWindow::MakeLabels(double s) {
  auto label = [this, s](const char* caption, QRect twips, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(QString::fromLatin1(caption), this);
    l->setGeometry(TwipRect(twips.x(), twips.y(), twips.width(), twips.height(), s));
    l->setAlignment(align);
    return l;
  };
  // The headings line up over the button columns by their blanks, which takes a
  // fixed-pitch font of about 5.6 pixels to a character.
  columnHeadings = label("  Record    Combine   Transmit        Other", QRect(120, 555, 3615, 255));
  QFont headings = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  headings.setPointSize(7);
  headings.setBold(true);
  columnHeadings->setFont(headings);
  inputLabel = label("Input Device:", QRect(3840, 240, 1335, 375), Qt::AlignRight | Qt::AlignTop);
  outputLabel = label("Output Device:", QRect(3720, 840, 1455, 255), Qt::AlignRight | Qt::AlignVCenter);
  const char* captions[4] = {"Files", "Pieces", "MC303", "Traffic"};
  QLabel* heads[4];
  for (int i = 0; i < 4; ++i) {
    heads[i] = label(captions[i], QRect(kColumns[i].left, kHeadingTop, kColumns[i].width, kHeadingHeight),
                     Qt::AlignLeft | Qt::AlignBottom);
  }
  filesHeading = heads[0];
  piecesHeading = heads[1];
  reportHeading = heads[2];
  trafficHeading = heads[3];
}

void MainWindow::MakeBoxes(double s) {
  auto box = [this](roles::TextBox& model, TextBoxView::Editing editing, bool hScroll, bool vScroll) {
    auto* v = new TextBoxView(model, editing, hScroll, vScroll, this);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    v->setFont(font);
    return v;
  };
  filesBox = box(p_.boxes.filesBox, TextBoxView::Editing::Keys, true, true);
  piecesBox = box(p_.boxes.piecesBox, TextBoxView::Editing::None, true, true);
  reportBox = box(p_.boxes.reportBox, TextBoxView::Editing::Text, true, false);
  trafficBox = box(p_.boxes.trafficBox, TextBoxView::Editing::None, false, false);
  // Report lines come in at the bottom, and the box has no vertical scroll bar to
  // follow them with.
  reportBox->SetFollowEnd(true);
  for (TextBoxView* v : {filesBox, piecesBox, reportBox, trafficBox}) v->setTabChangesFocus(true);
  PlaceGrowingControls();
  // Small enough for four bytes to a line, so that all 58 the box can hold are seen.
  QFont traffic = trafficBox->font();
  traffic.setPixelSize(qRound(9 * s));
  trafficBox->setFont(traffic);
}

void MainWindow::ConnectControls() {
  connect(startButton, &QPushButton::clicked, this, [this] { Call(OnStartClick); });
  connect(stopButton, &QPushButton::clicked, this, [this] { Call(OnStopClick); });
  connect(addButton, &QPushButton::clicked, this, [this] { Call(OnAddClick); });
  connect(saveButton, &QPushButton::clicked, this, [this] { Call(OnSaveClick); });
  connect(sendButton, &QPushButton::clicked, this, [this] { Call(OnSendClick); });
  connect(rescanButton, &QPushButton::clicked, this, [this] { Call(OnRescanClick); });
  connect(speedButton, &QPushButton::clicked, this, &MainWindow::ShowSpeedWindow);
  connect(helpButton, &QPushButton::clicked, this, &MainWindow::ShowHelpWindow);
  connect(quitButton, &QPushButton::clicked, this, [this] { (void)Quit(); });
  filesBox->OnKeyDown = [this](int code) {
    if (OnFilesKeyDown) OnFilesKeyDown(code);
  };
  filesBox->OnKeyPress = [this](int code) {
    if (OnFilesKeyPress) OnFilesKeyPress(code);
  };
}

void MainWindow::SetNamesAndTabOrder() {
  // Names for the keyboard order's tests and for accessibility tools.
  const std::pair<QWidget*, const char*> named[] = {
      {startButton, "startButton"},   {stopButton, "stopButton"},         {addButton, "addButton"},       {saveButton, "saveButton"},
      {sendButton, "sendButton"},     {speedButton, "speedButton"},   {helpButton, "helpButton"}, {quitButton, "quitButton"},
      {inputList, "inputList"},       {outputList, "outputList"},           {rescanButton, "rescanButton"},
      {filesBox, "filesBox"},   {piecesBox, "piecesBox"},     {reportBox, "reportBox"},       {trafficBox, "trafficBox"}};
  for (const auto& [widget, name] : named) widget->setObjectName(QString::fromLatin1(name));
  // The button grid column by column, as its headings read (Record, Combine, Transmit,
  // Other), then the device lists with their button, then the boxes left to right.
  for (std::size_t i = 1; i < std::size(named); ++i) setTabOrder(named[i - 1].first, named[i].first);
}

MainWindow::~MainWindow() = default;

void MainWindow::PlaceGrowingControls() {
  const double s = scale_;
  const int wider = std::max(0, width() - TwipsToPixels(kClientWidth, s));
  const int taller = std::max(0, height() - TwipsToPixels(kClientHeight, s));
  const int widerColumns = std::max(0, width() - TwipsToPixels(kColumnsWidth, s));
  // The gaps between the boxes stay as they were.
  QLabel* heads[4] = {filesHeading, piecesHeading, reportHeading, trafficHeading};
  TextBoxView* views[4] = {filesBox, piecesBox, reportBox, trafficBox};
  int shares = 0;
  for (const Column& c : kColumns) shares += c.share;
  int sharesBefore = 0;
  for (int i = 0; i < 4; ++i) {
    const int extraBefore = widerColumns * sharesBefore / shares;
    sharesBefore += kColumns[i].share;
    const int extra = widerColumns * sharesBefore / shares - extraBefore;
    QRect head = TwipRect(kColumns[i].left, kHeadingTop, kColumns[i].width, kHeadingHeight, s);
    head.translate(extraBefore, 0);
    head.setWidth(head.width() + extra);
    heads[i]->setGeometry(head);
    QRect box = TwipRect(kColumns[i].left, kBoxTop, kColumns[i].width, kBoxHeight, s);
    box.translate(extraBefore, 0);
    box.setSize(box.size() + QSize(extra, taller));
    views[i]->setGeometry(box);
  }
  // Port names can be long; the lists reach to the rescan button at the right edge.
  for (auto [list, top] : {std::pair{inputList, kInpTop}, std::pair{outputList, kOutTop}}) {
    QRect r = TwipRect(kListLeft, top, kListWidth, kListHeight, s);
    r.setWidth(r.width() + wider);
    list->setGeometry(r);
  }
  rescanButton->move(TwipsToPixels(kRescanLeft, s) + wider, TwipsToPixels(kRescanTop, s));
}

void MainWindow::FitDeviceLists() {
  const int shortfall = std::max(ListShortfall(*inputList), ListShortfall(*outputList));
  if (shortfall == 0) return;
  const QScreen* screen = this->screen();
  const int room = screen != nullptr ? screen->availableGeometry().width() - frameGeometry().width() : shortfall;
  resize(width() + std::clamp(room, 0, shortfall), height());
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceGrowingControls();
}

void MainWindow::Load() {
  hide();
  while (p_.title.TitleCountdown > 0 && !p_.title.TitleDismissed) p_.pump.WaitForEvents();
  // The focus is drawn from the start, not only once Tab has been pressed: Return and
  // Space press the focused button.
  setAttribute(Qt::WA_KeyboardFocusChange);
  show();
  raise();
  activateWindow();
  p_.boxes.reportBox.SetText(std::string(session::kStartPrompt));
  p_.state.BlinkEnabled = true;
  Timer1.start();
}

void MainWindow::Timer1Tick() {
  if ((p_.suppressed && p_.suppressed()) || !p_.state.BlinkEnabled) return;
  if (p_.state.PromptBlanked) {
    p_.state.PromptBlanked = false;
    p_.boxes.reportBox.SetText(std::string(session::kStartPrompt));
  } else {
    p_.state.PromptBlanked = true;
    p_.boxes.reportBox.SetText("");
  }
}

void MainWindow::Timer3Tick() {
  if (OnTimer3Tick) OnTimer3Tick();
}

void MainWindow::SetSending(bool sending) {
  for (QWidget* control : std::initializer_list<QWidget*>{startButton, stopButton, addButton, saveButton, sendButton, outputList, rescanButton}) {
    control->setEnabled(!sending);
  }
}

void MainWindow::SetRescanning(bool rescanning) {
  SetSending(rescanning);
  inputList->setEnabled(!rescanning);
}

QRect MainWindow::ClearOfControls() const {
  const QRect boxes = piecesBox->geometry().united(trafficBox->geometry()).united(piecesHeading->geometry());
  return QRect(mapToGlobal(boxes.topLeft()), boxes.size());
}

void MainWindow::ShowSpeedWindow() {
  if (!speedWindow_) speedWindow_ = std::make_unique<SpeedWindow>(p_.settings);
  // Where the user put it, while it is open; over the main window when it opens.
  if (!speedWindow_->isVisible()) CentreOver(*speedWindow_, this);
  speedWindow_->Load();
}

void MainWindow::ShowHelpWindow() {
  // Closing the help window ends it; the next Help reads README.TXT afresh.
  if (helpWindow_ && helpWindow_->Closed()) helpWindow_.reset();
  if (!helpWindow_) {
    helpWindow_ = std::make_unique<HelpWindow>(p_.programDirectory);
    CentreOver(*helpWindow_, this);
  }
  helpWindow_->show();
  helpWindow_->raise();
  helpWindow_->activateWindow();
}

bool MainWindow::Quit() {
  if (!p_.flags.QuitRequested && OkToQuit && !OkToQuit()) return false;
  p_.flags.QuitRequested = true;
  return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (Quit()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace ui
