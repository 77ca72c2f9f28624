#include "display/qwatch_info.h"

#include <algorithm>
#include <cstdlib>

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>

namespace qelta {

namespace {

constexpr int kClientWidth = 248;
constexpr int kClientHeight = 133;
constexpr int kCaptionX = 8;
constexpr int kCaptionWidth = 170;
constexpr int kReadingX = 184;
constexpr int kFirstRowY = 8;
constexpr int kRowStep = 16;
constexpr int kStatusX = 8;
constexpr int kStatusY = 104;
constexpr int kStatusWidth = 233;
constexpr int kStatusMinHeight = 25;
constexpr int kBottomMargin = kClientHeight - (kStatusY + kStatusMinHeight);
constexpr int kAutoHideIntervalMs = 250;

const char* const kReadingNames[kInfoReadingCount] = {
    "IP_voltage", "OP_voltage", "OP_current", "OP_frequency", "battery_voltage", "temp"};

QString CaptionText(int row) {
  switch (row) {
    case kIPVoltage:
      return QStringLiteral("Напряжение на входе:");
    case kOPVoltage:
      return QStringLiteral("Напряжение на выходе:");
    case kOPCurrent:
      return QStringLiteral("Нагрузка на выходе:");
    case kOPFrequency:
      return QStringLiteral("Частота напряжения на выходе:");
    case kBatteryVoltage:
      return QStringLiteral("Заряд батареи:");
    default:
      return QStringLiteral("Температура:");
  }
}

// Narrows the label's font until its text fits its width: the captions were laid out for a
// narrower face than the usual sans fonts of Linux desktops.
void FitTextToWidth(QLabel* label) {
  QFont font = label->font();
  for (int stretch = 100; stretch >= 70; stretch -= 5) {
    font.setStretch(stretch);
    if (QFontMetrics(font).horizontalAdvance(label->text()) <= label->width()) break;
  }
  label->setFont(font);
}

}  // namespace

TInfoForm::TInfoForm(InfoSource& source, Settings& settings, BalloonSink& balloons,
                     TimerFactory& timers, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      source_(source),
      settings_(settings),
      balloons_(balloons) {
  setObjectName(QStringLiteral("InfoForm"));
  setWindowTitle(QStringLiteral("QELTA MONITOR"));
  // Closing only hides: the window lives as long as the process, and it never ends it.
  setAttribute(Qt::WA_QuitOnClose, false);
  QFont base = QApplication::font();
  base.setPointSize(8);
  setFont(base);
  setFixedSize(kClientWidth, kClientHeight);

  const int row_height = fontMetrics().height();
  for (int row = 0; row < kInfoReadingCount; ++row) {
    const int y = kFirstRowY + row * kRowStep;
    QLabel* caption = new QLabel(CaptionText(row), this);
    caption->setGeometry(kCaptionX, y, kCaptionWidth, row_height);
    FitTextToWidth(caption);
    captions_[row] = caption;

    QLabel* reading = new QLabel(this);
    reading->setObjectName(QString::fromLatin1(kReadingNames[row]));
    reading->move(kReadingX, y);
    // A screen reader reads each reading with its caption, and Tab walks the readings.
    caption->setBuddy(reading);
    reading->setFocusPolicy(Qt::TabFocus);
    readings_[row] = reading;
  }
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("Status"));
  status_->setGeometry(kStatusX, kStatusY, kStatusWidth, kStatusMinHeight);
  status_->setWordWrap(true);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  status_->setFocusPolicy(Qt::TabFocus);

  countdown_ = new QLabel(this);
  countdown_->setObjectName(QStringLiteral("Countdown"));
  countdown_->setWordWrap(true);
  countdown_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  HighlightLabel(countdown_, true);
  countdown_->setFocusPolicy(Qt::TabFocus);
  countdown_->hide();

  timer_ = timers.CreateTimer(kAutoHideIntervalMs, true);
  timer_->SetHandler([this] { TimerTimer(); });
  timer_->SetParked(true);  // created hidden

  RefreshStatus();
}

TInfoForm::~TInfoForm() = default;

void TInfoForm::RefreshStatus() {
  InfoInputs in;
  in.link_ok = source_.LinkOK();
  if (in.link_ok) in.status = source_.LastStatus();
  in.shutdown_pending = source_.ShutdownPending();
  in.shutdown_deadline = source_.ShutdownDeadline();
  in.tick_count = source_.TickCount();
  in.other_computers_left = source_.OtherComputersLeft();

  view_ = ComputeInfoView(in, view_);
  // A UPS served elsewhere: the title says whose it is.
  const std::string server = source_.ServerName();
  setWindowTitle(server.empty()
                     ? QStringLiteral("QELTA MONITOR")
                     : QStringLiteral("QELTA MONITOR: ") + QString::fromStdString(server));

  for (int row = 0; row < kInfoReadingCount; ++row) {
    readings_[row]->setText(view_.readings[row]);
    readings_[row]->setAccessibleName(captions_[row]->text() + QLatin1Char(' ') +
                                      view_.readings[row]);
    HighlightLabel(readings_[row], view_.highlighted[row]);
  }
  status_->setText(view_.status);
  countdown_->setText(view_.countdown);
  FitToText();
  source_.SetPerformTestEnabled(view_.perform_test_enabled);
}

void TInfoForm::FitToText() {
  const int status_height = std::max(kStatusMinHeight, status_->heightForWidth(kStatusWidth));
  status_->setGeometry(kStatusX, kStatusY, kStatusWidth, status_height);
  int bottom = kStatusY + status_height;
  if (countdown_->text().isEmpty()) {
    countdown_->hide();
  } else {
    const int height = countdown_->heightForWidth(kStatusWidth);
    countdown_->setGeometry(kStatusX, bottom, kStatusWidth, height);
    countdown_->show();
    bottom += height;
  }
  setFixedSize(kClientWidth, std::max(kClientHeight, bottom + kBottomMargin));
}

void TInfoForm::HighlightLabel(QLabel* label, bool highlighted) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText,
                   highlighted ? QColor(Qt::red) : this->palette().color(QPalette::WindowText));
  label->setPalette(palette);
  QFont font = this->font();
  font.setBold(highlighted);
  label->setFont(font);
  if (label != countdown_) label->adjustSize();  // reading labels are sized to their text
}

void TInfoForm::ShowStatusBalloon(int kind) {
  const std::optional<StatusBalloon> balloon =
      StatusBalloonFor(kind, source_.LinkOK(), view_.summary);
  if (!balloon) return;
  balloons_.ShowBalloon(balloon->title, balloon->text, balloon->icon, kStatusBalloonTimeoutMs);
}

QString TInfoForm::ReadingText(int index) const {
  if (index < 0 || index >= kInfoReadingCount) return QString();
  return readings_[index]->text();
}

void TInfoForm::PlaceFrame(FramePlacement place) {
  placement_ = std::move(place);
  Place();
}

QSize TInfoForm::FrameSize() {
  const QRect frame = frameGeometry();
  const QRect client = geometry();
  const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                         frame.right() - client.right(), frame.bottom() - client.bottom());
  if (!margins.isNull()) frame_margins_ = margins;
  return size().grownBy(frame_margins_);
}

void TInfoForm::Place() {
  if (!placement_) return;
  const QSize frame = FrameSize();
  const QPoint position = placement_(frame);
  placed_ = QRect(position, frame);
  move(position);  // a window's position is that of its frame
}

namespace {
// Pixels by which a frame may lie off its placed position and still count as placed.
constexpr int kPlacementSlack = 2;
}  // namespace

void TInfoForm::FollowFrame() {
  if (!placement_ || !isVisible()) return;
  const QRect frame = frameGeometry();
  // Moved away by the user. Under a fractional scale (1.5 at QT_FONT_DPI=144) the frame that
  // the window manager reports lies a pixel off the one asked for, which is no move.
  const QPoint off = frame.topLeft() - placed_.topLeft();
  if (std::abs(off.x()) > kPlacementSlack || std::abs(off.y()) > kPlacementSlack) return;
  if (FrameSize() != placed_.size()) Place();
}

void TInfoForm::FollowFrameSoon() {
  // The geometry that an event reports is not settled until the windowing system has handled
  // the whole change (a frame that appears moves the client area first), so look afterwards.
  if (follow_queued_) return;
  follow_queued_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        follow_queued_ = false;
        FollowFrame();
      },
      Qt::QueuedConnection);
}

void TInfoForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  FollowFrameSoon();
}

void TInfoForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FollowFrameSoon();
}

void TInfoForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  timer_->SetParked(false);
  FollowFrameSoon();
}

void TInfoForm::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // A window that the window manager hid (minimised, on another desktop) is still visible to
  // the program, and the check still applies to it.
  if (!isVisible()) timer_->SetParked(true);
}

void TInfoForm::TimerTimer() {
  FollowFrame();
  if (!isVisible() || isActiveWindow()) return;
  if (settings_.ReadBool("Settings", "CloseInformationOnDeactivate", true)) hide();
}

}  // namespace qelta
