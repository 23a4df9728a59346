// The window's controls and their layout: rows top to bottom as the table of controls has them,
// the frame sized from the layout in the design proportion.
#include <QAction>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <algorithm>
#include <iterator>

#include "window/main_window.h"
#include "window/window_icon.h"

namespace quenby {

namespace {

// Design-time contents; loading the settings replaces every one of them.
constexpr const char* DesignHost = "localhost";
constexpr const char* DesignPort = "80";
constexpr const char* DesignIndex = "default.htm";
constexpr const char* DesignRoot = "/srv/www/site/";
constexpr const char* DesignAlias =
    "/bin=/srv/www/dlls\n/scripts=/srv/www/scripts\n/cgi=/srv/www/cgi";
constexpr const char* DesignLogFile = "/srv/www/quenby.log";

// Texts the fields must show whole; the fields are sized from them.
constexpr const char* WidestHost = "255.255.255.255";
constexpr const char* WidestPort = "65535";
constexpr const char* WidestIndex = "default.htm";
// Lines the Alias memo and the Status list show without scrolling.
constexpr int AliasLinesShown = 3;
constexpr int StatusLinesShown = 3;
// Stretch of the two rows that take the height the proportion adds.
constexpr int AliasRowStretch = 3;
constexpr int StatusRowStretch = 2;

QLabel* NewLabel(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

// A label beside a multi-line control, its text level with the control's first line.
QLabel* NewTopLabel(const char* text, int first_line_offset, QWidget* parent) {
  auto* label = NewLabel(text, parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setContentsMargins(0, first_line_offset, 0, 0);
  return label;
}

QLineEdit* NewField(const char* name, const char* text, QWidget* parent) {
  auto* field = new QLineEdit(QString::fromUtf8(text), parent);
  field->setObjectName(QString::fromUtf8(name));
  return field;
}

// Wide enough for `sample` plus a character on either side, inside the field's frame.
void FitFieldTo(QLineEdit* field, const char* sample) {
  const QFontMetrics metrics(field->font());
  const int text = metrics.horizontalAdvance(QString::fromUtf8(sample));
  const QMargins margins = field->textMargins();
  field->setMinimumWidth(text + 2 * metrics.averageCharWidth() + margins.left() + margins.right() +
                         field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) * 4);
}

int HeightForLines(const QFrame* frame, int lines, int extra_per_line) {
  const QFontMetrics metrics(frame->font());
  return lines * (metrics.lineSpacing() + extra_per_line) + 2 * frame->frameWidth() +
         2 * metrics.descent();
}

}  // namespace

void TdlgMain::CreateControls() {
  setObjectName(QStringLiteral("dlgMain"));
  setWindowTitle(QString::fromUtf8(WindowCaption));
  setWindowIcon(QuenbyIcon());
  edHost = NewField("edHost", DesignHost, this);
  FitFieldTo(edHost, WidestHost);
  edPort = NewField("edPort", DesignPort, this);
  FitFieldTo(edPort, WidestPort);
  edIndex = NewField("edIndex", DesignIndex, this);
  FitFieldTo(edIndex, WidestIndex);
  edRoot = NewField("edRoot", DesignRoot, this);
  btnBrowseRoot = new QPushButton(QStringLiteral("..."), this);
  btnBrowseRoot->setObjectName(QStringLiteral("btnBrowseRoot"));
  btnBrowseRoot->setToolTip(QStringLiteral("Choose the document root"));
  memoAlias = new QPlainTextEdit(QString::fromUtf8(DesignAlias), this);
  memoAlias->setObjectName(QStringLiteral("memoAlias"));
  memoAlias->setLineWrapMode(QPlainTextEdit::NoWrap);
  memoAlias->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memoAlias->setTabChangesFocus(true);
  memoAlias->setMinimumHeight(HeightForLines(memoAlias, AliasLinesShown, 0));
  edLogFile = NewField("edLogFile", DesignLogFile, this);
  btnBrowseLogFile = new QPushButton(QStringLiteral("..."), this);
  btnBrowseLogFile->setObjectName(QStringLiteral("btnBrowseLogFile"));
  btnBrowseLogFile->setToolTip(QStringLiteral("Choose the log file"));
  chkEnableLog = new QCheckBox(QStringLiteral("Enable"), this);
  chkEnableLog->setObjectName(QStringLiteral("chkEnableLog"));
  chkEnableLog->setChecked(true);
  lbLog = new QListWidget(this);
  lbLog->setObjectName(QStringLiteral("lbLog"));
  lbLog->setFocusPolicy(Qt::ClickFocus);
  lbLog->setMinimumHeight(HeightForLines(lbLog, StatusLinesShown, 2));
  lbLog->setContextMenuPolicy(Qt::ActionsContextMenu);
  actOpenInBrowser = new QAction(QStringLiteral("Open in browser"), lbLog);
  actOpenInBrowser->setObjectName(QStringLiteral("actOpenInBrowser"));
  actCopyAddress = new QAction(QStringLiteral("Copy address"), lbLog);
  actCopyAddress->setObjectName(QStringLiteral("actCopyAddress"));
  lbLog->addAction(actOpenInBrowser);
  lbLog->addAction(actCopyAddress);
  chkAutoStart = new QCheckBox(QStringLiteral("Auto Start"), this);
  chkAutoStart->setObjectName(QStringLiteral("chkAutoStart"));
  btnStart = new QPushButton(QStringLiteral("Start"), this);
  btnStart->setObjectName(QStringLiteral("btnStart"));
  btnStop = new QPushButton(QStringLiteral("Stop"), this);
  btnStop->setObjectName(QStringLiteral("btnStop"));
  btnMinimize = new QPushButton(QStringLiteral("Minimize"), this);
  btnMinimize->setObjectName(QStringLiteral("btnMinimize"));
  btnExit = new QPushButton(QStringLiteral("Exit"), this);
  btnExit->setObjectName(QStringLiteral("btnExit"));
  // The browse buttons are as narrow as their text allows.
  for (QPushButton* browse : {btnBrowseRoot, btnBrowseLogFile}) {
    const QFontMetrics metrics(browse->font());
    browse->setFixedWidth(
        std::max(browse->minimumSizeHint().height(),
                 metrics.horizontalAdvance(browse->text()) + 2 * metrics.averageCharWidth()));
  }
}

void TdlgMain::LayOutControls() {
  auto* grid = new QGridLayout(this);
  int row = 0;
  auto* hostRow = new QHBoxLayout;
  hostRow->addWidget(edHost, 3);
  hostRow->addWidget(NewLabel("Port", this));
  hostRow->addWidget(edPort, 1);
  hostRow->addWidget(NewLabel("Index", this));
  hostRow->addWidget(edIndex, 2);
  grid->addWidget(NewLabel("Host IP", this), row, 0);
  grid->addLayout(hostRow, row++, 1);

  auto* rootRow = new QHBoxLayout;
  rootRow->addWidget(edRoot, 1);
  rootRow->addWidget(btnBrowseRoot);
  grid->addWidget(NewLabel("Host Path", this), row, 0);
  grid->addLayout(rootRow, row++, 1);

  const int aliasOffset =
      memoAlias->frameWidth() + static_cast<int>(memoAlias->document()->documentMargin());
  grid->addWidget(NewTopLabel("Alias", aliasOffset, this), row, 0, Qt::AlignTop);
  grid->addWidget(memoAlias, row, 1);
  grid->setRowStretch(row++, AliasRowStretch);

  auto* logRow = new QHBoxLayout;
  logRow->addWidget(edLogFile, 1);
  logRow->addWidget(btnBrowseLogFile);
  logRow->addWidget(chkEnableLog);
  grid->addWidget(NewLabel("Log File", this), row, 0);
  grid->addLayout(logRow, row++, 1);

  grid->addWidget(NewTopLabel("Status", lbLog->frameWidth() + 1, this), row, 0, Qt::AlignTop);
  grid->addWidget(lbLog, row, 1);
  grid->setRowStretch(row++, StatusRowStretch);

  auto* buttonRow = new QHBoxLayout;
  buttonRow->addWidget(chkAutoStart);
  buttonRow->addStretch(1);
  for (QPushButton* button : {btnStart, btnStop, btnMinimize, btnExit}) {
    buttonRow->addWidget(button);
  }
  grid->addLayout(buttonRow, row, 0, 1, 2);
  grid->setColumnStretch(1, 1);
}

void TdlgMain::SizeFrame() {
  // The least size at which nothing is clipped, grown in one direction to the design proportion.
  const QSize least = layout()->totalMinimumSize();
  int width = least.width();
  int height = least.height();
  if (width * DesignClientHeight < height * DesignClientWidth) {
    width = (height * DesignClientWidth + DesignClientHeight - 1) / DesignClientHeight;
  } else {
    height = (width * DesignClientHeight + DesignClientWidth - 1) / DesignClientWidth;
  }
  setFixedSize(width, height);
}

void TdlgMain::SetTabOrder() {
  QWidget* order[] = {edHost,    edPort,    edIndex,          edRoot,       btnBrowseRoot,
                      memoAlias, edLogFile, btnBrowseLogFile, chkEnableLog, chkAutoStart,
                      btnStart,  btnStop,   btnMinimize,      btnExit};
  for (std::size_t i = 1; i < std::size(order); ++i) {
    setTabOrder(order[i - 1], order[i]);
  }
}

}  // namespace quenby
