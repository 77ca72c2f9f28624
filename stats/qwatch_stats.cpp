#include "stats/qwatch_stats.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>

#include "platform/qt_russian.h"
#include "stats/graph_description.h"
#include "stats/hover_readout.h"
#include "stats/stats.h"

namespace qelta {

namespace {

// The client area as laid out; the window cannot be made smaller where the screen has room.
constexpr int kClientWidth = 922;
constexpr int kClientHeight = 199;
// The frame around it, until the window manager has given the window its own.
constexpr int kDesignFrameWidth = 930 - kClientWidth;
constexpr int kDesignFrameHeight = 226 - kClientHeight;

// Distances kept to the right edge by the controls anchored to it.
constexpr int kModeLeft = 272;
constexpr int kModeRightMargin = kClientWidth - (272 + 497);
constexpr int kShowButtonRightMargin = kClientWidth - 776;
constexpr int kCloseButtonRightMargin = kClientWidth - 856;
constexpr int kPanelLeft = 8;
constexpr int kPanelTop = 32;
constexpr int kPanelRightMargin = kClientWidth - (8 + 908);
constexpr int kPanelBottomMargin = kClientHeight - (32 + 161);

// Narrows the label's font until its text fits its width: the form was laid out for a
// narrower face than the usual sans fonts of Linux desktops.
void FitTextToWidth(QLabel* label) {
  QFont font = label->font();
  for (int stretch = 100; stretch >= 70; stretch -= 5) {
    font.setStretch(stretch);
    if (QFontMetrics(font).horizontalAdvance(label->text()) <= label->width()) break;
  }
  label->setFont(font);
}

// The locale's long date format without the day of the week, which does not fit the picker.
QString PickerDateFormat(const QLocale& locale) {
  QString format = locale.dateFormat(QLocale::LongFormat);
  format.remove(QRegularExpression(QStringLiteral("d{3,4}[,.]?\\s*")));
  return format.trimmed();
}

}  // namespace

QString LoadingText() {
  return QStringLiteral("Загрузка...");
}

StatsPaintBox::StatsPaintBox(TStatsForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("G"));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  // The last stop of the tab order, so that a screen reader reaches the day's description.
  setFocusPolicy(Qt::TabFocus);
  setAccessibleName(QStringLiteral("График"));
}

void StatsPaintBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  form_.GPaint(painter);
}

void StatsPaintBox::mouseMoveEvent(QMouseEvent* event) {
  form_.GMouseMove(static_cast<int>(event->position().x()));
}

TStatsForm::TStatsForm(StatsFile& file, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint),
      file_(file),
      loader_(file, [this] {
        QMetaObject::invokeMethod(
            this, [this] { RefreshFinished(); }, Qt::QueuedConnection);
      }) {
  setObjectName(QStringLiteral("StatsForm"));
  setWindowTitle(QStringLiteral("QELTA MONITOR: Статистика"));
  // Closing only hides: the window lives as long as its owner, and it never ends the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  QFont base = QApplication::font();
  base.setPointSize(8);
  setFont(base);
  graph_font_ = GraphFont();

  Label1 = new QLabel(QStringLiteral("Показать статистику за:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(8, 9, 126, 13);
  FitTextToWidth(Label1);

  Picker = new QDateEdit(this);
  Picker->setObjectName(QStringLiteral("Picker"));
  Picker->setGeometry(139, 5, 129, 21);
  Picker->setCalendarPopup(true);
  // The calendar's month and day names come from the locale, not from Qt's translations.
  Picker->setLocale(RussianWidgetLocale());
  Picker->setDisplayFormat(PickerDateFormat(Picker->locale()));
  Picker->setDateRange(FirstStampedDate(), LastStampedDate());

  Mode = new QComboBox(this);
  Mode->setObjectName(QStringLiteral("Mode"));
  Mode->setEditable(false);
  Mode->addItem(QStringLiteral("График напряжения в электросети"));
  Mode->addItem(QStringLiteral("График напряжения на выходе UPS"));
  Mode->setCurrentIndex(0);

  ShowButton = new QPushButton(QStringLiteral("&Обновить"), this);
  ShowButton->setObjectName(QStringLiteral("ShowButton"));
  CloseButton = new QPushButton(QStringLiteral("&Закрыть"), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));

  PaintPanel = new QFrame(this);
  PaintPanel->setObjectName(QStringLiteral("PaintPanel"));
  PaintPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PaintPanel->setLineWidth(1);
  G = new StatsPaintBox(*this, PaintPanel);
  Label1->setBuddy(Picker);
  // A list is read by the label linked to it; the series list has no words of its own on the
  // window, so its label is there for the screen reader only.
  auto* mode_label = new QLabel(QStringLiteral("Вид графика"), this);
  mode_label->setObjectName(QStringLiteral("ModeLabel"));
  mode_label->hide();
  mode_label->setBuddy(Mode);

  setTabOrder(Picker, Mode);
  setTabOrder(Mode, ShowButton);
  setTabOrder(ShowButton, CloseButton);
  setTabOrder(CloseButton, G);

  FormCreate();

  connect(Picker, &QDateEdit::dateChanged, this, [this] { PickerChange(); });
  connect(Mode, &QComboBox::currentIndexChanged, this, [this] { ModeChange(); });
  connect(ShowButton, &QPushButton::clicked, this, [this] { ShowButtonClick(); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { CloseButtonClick(); });
}

void TStatsForm::FormCreate() {
  SavedCaption = windowTitle();
  Picker->setDate(QDate::currentDate());
  setMinimumSize(kClientWidth, kClientHeight);
  resize(kClientWidth, kClientHeight);
  ApplyAnchors(kClientWidth, kClientHeight);
  geometry_ = GeometryFor(G->size());
  // Centred on the desktop.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desktop = screen->availableGeometry();
    move(desktop.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    FitToScreen(desktop);
  }
}

void TStatsForm::FitToScreen(const QRect& available) {
  QSize frame(kDesignFrameWidth, kDesignFrameHeight);
  if (isVisible() && frameGeometry().size() != size()) frame = frameGeometry().size() - size();
  const QSize room = (available.size() - frame).expandedTo(QSize(1, 1));
  setMinimumSize(QSize(kClientWidth, kClientHeight).boundedTo(room));
  if (width() > room.width() || height() > room.height()) resize(size().boundedTo(room));
  // The whole frame inside the area, the top-left corner first.
  QPoint corner = pos();
  corner.setX(std::max(available.left(),
                       std::min(corner.x(), available.right() + 1 - (width() + frame.width()))));
  corner.setY(std::max(available.top(),
                       std::min(corner.y(), available.bottom() + 1 - (height() + frame.height()))));
  if (corner != pos()) move(corner);
}

void TStatsForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (QScreen* shown_on = screen()) FitToScreen(shown_on->availableGeometry());
}

void TStatsForm::ApplyAnchors(int width, int height) {
  Mode->setGeometry(kModeLeft, 5, width - kModeLeft - kModeRightMargin, 21);
  ShowButton->setGeometry(width - kShowButtonRightMargin, 5, 75, 21);
  CloseButton->setGeometry(width - kCloseButtonRightMargin, 5, 60, 21);
  PaintPanel->setGeometry(kPanelLeft, kPanelTop, width - kPanelLeft - kPanelRightMargin,
                          height - kPanelTop - kPanelBottomMargin);
  G->setGeometry(1, 1, PaintPanel->width() - 2, PaintPanel->height() - 2);
}

void TStatsForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ApplyAnchors(width(), height());
}

void TStatsForm::closeEvent(QCloseEvent* event) {
  // FormClose: hidden, not destroyed.
  event->accept();
  hide();
}

TStatsForm::~TStatsForm() = default;

void TStatsForm::ShowButtonClick() {
  if (loader_.Busy()) {
    refresh_again_ = true;
    return;
  }
  StartRefresh();
}

void TStatsForm::StartRefresh() {
  refresh_again_ = false;
  loading_date_ = Picker->date();
  loader_.Start(DayStartOf(loading_date_));
  setCursor(Qt::BusyCursor);
  G->repaint();
}

void TStatsForm::RefreshFinished() {
  std::optional<DayColumns> columns = loader_.Finish();
  if (refresh_again_) {
    StartRefresh();
    return;
  }
  if (columns) {
    columns_ = *columns;
    described_date_ = loading_date_;
    Describe();
  }
  unsetCursor();
  G->repaint();
}

void TStatsForm::Describe() {
  G->setAccessibleDescription(
      DescribeDay(columns_, Mode->currentIndex(), Mode->currentText(), described_date_, QLocale()));
}

void TStatsForm::PickerChange() {
  ShowButtonClick();
}

void TStatsForm::ModeChange() {
  Describe();
  G->repaint();
}

void TStatsForm::CloseButtonClick() {
  close();
}

void TStatsForm::GPaint(QPainter& painter) {
  GraphStyle style;
  style.font = graph_font_;
  style.text_colour = palette().color(QPalette::WindowText);
  style.decimal_point = QLocale().decimalPoint();
  geometry_ = PaintStatsGraph(painter, G->size(), columns_, Mode->currentIndex(), style);
  if (loader_.Busy()) {
    // Over the graph's top left corner, opaque like the other texts of the graph.
    painter.setFont(graph_font_);
    painter.setPen(style.text_colour);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const QFontMetrics metrics(graph_font_);
    painter.drawText(geometry_.PlotLeft + 10, geometry_.PlotTop + 2 + metrics.ascent(),
                     LoadingText());
  }
}

void TStatsForm::GMouseMove(int x) {
  setWindowTitle(HoverCaption(SavedCaption, x, geometry_.PlotLeft, columns_, Mode->currentIndex(),
                              DayStartOf(Picker->date()), QLocale()));
}

}  // namespace qelta
