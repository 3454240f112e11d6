#include "ui/fMIDI.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <initializer_list>

#include "ui/TextBoxView.h"
#include "ui/Twips.h"
#include "ui/fHelp.h"
#include "ui/fTBufSiz.h"

namespace ui {
namespace {

void Call(const std::function<void()>& handler) {
  if (handler) handler();
}

}  // namespace

fMIDI::fMIDI(const MainWindowParts& parts, QWidget* parent) : QWidget(parent, Qt::Window), p_(parts) {
  setObjectName(QStringLiteral("fMIDI"));
  setWindowTitle(QString::fromLatin1(kMainCaption));
  const double s = ScreenScale(this);
  setFixedSize(TwipsToPixels(8280, s), TwipsToPixels(4755, s));

  auto button = [this, s](const char* caption, int left, int top, int width) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setGeometry(TwipRect(left, top, width, 375, s));
    b->setFocusPolicy(Qt::TabFocus);
    return b;
  };
  bStart = button("Start", 120, 120, 855);
  bAdd = button("Add", 1080, 120, 735);
  bSend = button("Send", 1920, 120, 855);
  Command2 = button("Help", 2880, 120, 855);
  bStop = button("Stop", 120, 840, 855);
  bSave = button("Save", 1080, 840, 735);
  Command1 = button("Speed", 1920, 840, 855);
  bQuit = button("Quit", 2880, 840, 855);

  auto label = [this, s](const char* caption, QRect twips, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(QString::fromLatin1(caption), this);
    l->setGeometry(TwipRect(twips.x(), twips.y(), twips.width(), twips.height(), s));
    l->setAlignment(align);
    return l;
  };
  // The headings line up over the button columns by their blanks, which takes a
  // fixed-pitch font of about 5.6 pixels to a character.
  Label6 = label("  Record    Combine   Transmit        Other", QRect(120, 555, 3615, 255));
  QFont headings = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  headings.setPointSize(7);
  headings.setBold(true);
  Label6->setFont(headings);
  Label1 = label("Input Device:", QRect(3840, 240, 1335, 375), Qt::AlignRight | Qt::AlignTop);
  Label2 = label("Output Device:", QRect(3720, 840, 1455, 255), Qt::AlignRight | Qt::AlignVCenter);
  Label5 = label("Files", QRect(120, 1320, 3615, 315), Qt::AlignLeft | Qt::AlignBottom);
  Label4 = label("Pieces", QRect(3840, 1320, 1335, 315), Qt::AlignLeft | Qt::AlignBottom);
  lDevice = label("MC303", QRect(5280, 1320, 1695, 315), Qt::AlignLeft | Qt::AlignBottom);
  Label3 = label("Traffic", QRect(7080, 1320, 1095, 315), Qt::AlignLeft | Qt::AlignBottom);

  cInp = new QComboBox(this);
  cInp->setGeometry(TwipRect(5400, 120, 2775, 360, s));
  cOut = new QComboBox(this);
  cOut->setGeometry(TwipRect(5400, 720, 2775, 360, s));
  inputList_ = std::make_unique<QtDeviceList>(*cInp);
  outputList_ = std::make_unique<QtDeviceList>(*cOut);

  auto box = [this, s](TextBox& model, TextBoxView::Editing editing, bool hScroll, bool vScroll, int left,
                       int width) {
    auto* v = new TextBoxView(model, editing, hScroll, vScroll, this);
    v->setGeometry(TwipRect(left, 1680, width, 2895, s));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    v->setFont(font);
    return v;
  };
  tFiles = box(p_.boxes.tFiles, TextBoxView::Editing::Keys, true, true, 120, 3615);
  tPieces = box(p_.boxes.tPieces, TextBoxView::Editing::None, true, true, 3840, 1335);
  tDev = box(p_.boxes.tDev, TextBoxView::Editing::Text, true, false, 5280, 1695);
  tTraffic = box(p_.boxes.tTraffic, TextBoxView::Editing::None, false, false, 7080, 1095);
  // Small enough for four bytes to a line, so that all 58 the box can hold are seen.
  QFont traffic = tTraffic->font();
  traffic.setPixelSize(qRound(9 * s));
  tTraffic->setFont(traffic);

  connect(bStart, &QPushButton::clicked, this, [this] { Call(OnStartClick); });
  connect(bStop, &QPushButton::clicked, this, [this] { Call(OnStopClick); });
  connect(bAdd, &QPushButton::clicked, this, [this] { Call(OnAddClick); });
  connect(bSave, &QPushButton::clicked, this, [this] { Call(OnSaveClick); });
  connect(bSend, &QPushButton::clicked, this, [this] { Call(OnSendClick); });
  connect(Command1, &QPushButton::clicked, this, &fMIDI::ShowSpeedWindow);
  connect(Command2, &QPushButton::clicked, this, &fMIDI::ShowHelpWindow);
  connect(bQuit, &QPushButton::clicked, this, [this] { p_.flags.QuitRequested = true; });
  tFiles->OnKeyDown = [this](int code) {
    if (OnFilesKeyDown) OnFilesKeyDown(code);
  };
  tFiles->OnKeyPress = [this](int code) {
    if (OnFilesKeyPress) OnFilesKeyPress(code);
  };

  Timer1.setInterval(500);
  connect(&Timer1, &QTimer::timeout, this, &fMIDI::Timer1Tick);
  // As fine as the system allows; it runs only while a pacing countdown is armed.
  Timer3.setTimerType(Qt::PreciseTimer);
  Timer3.setInterval(1);
  connect(&Timer3, &QTimer::timeout, this, &fMIDI::Timer3Tick);
}

fMIDI::~fMIDI() = default;

void fMIDI::Load() {
  hide();
  while (p_.title.TitleCountdown > 0 && !p_.title.TitleDismissed) p_.pump.WaitForEvents();
  show();
  raise();
  activateWindow();
  p_.boxes.tDev.SetText(std::string(kStartPrompt));
  p_.state.BlinkEnabled = true;
  Timer1.start();
}

void fMIDI::Timer1Tick() {
  if ((p_.suppressed && p_.suppressed()) || !p_.state.BlinkEnabled) return;
  if (p_.state.PromptBlanked) {
    p_.state.PromptBlanked = false;
    p_.boxes.tDev.SetText(std::string(kStartPrompt));
  } else {
    p_.state.PromptBlanked = true;
    p_.boxes.tDev.SetText("");
  }
}

void fMIDI::Timer3Tick() {
  if (pacingTick_) pacingTick_();
}

void fMIDI::ArmPacing() {
  if (!Timer3.isActive()) Timer3.start();
}

void fMIDI::DisarmPacing() { Timer3.stop(); }

void fMIDI::SetSending(bool sending) {
  for (QWidget* control : std::initializer_list<QWidget*>{bStart, bStop, bAdd, bSave, bSend, Command1, cOut, tFiles}) {
    control->setEnabled(!sending);
  }
}

void fMIDI::ShowSpeedWindow() {
  if (!speedWindow_) speedWindow_ = std::make_unique<fTBufSiz>(p_.settings);
  speedWindow_->Load();
}

void fMIDI::ShowHelpWindow() {
  // Closing the help window ends it; the next Help reads README.TXT afresh.
  if (helpWindow_ && helpWindow_->Closed()) helpWindow_.reset();
  if (!helpWindow_) helpWindow_ = std::make_unique<fHelp>(p_.programDirectory);
  helpWindow_->show();
  helpWindow_->raise();
  helpWindow_->activateWindow();
}

void fMIDI::closeEvent(QCloseEvent* event) {
  p_.flags.QuitRequested = true;
  event->accept();
}

}  // namespace ui
