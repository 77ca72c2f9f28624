#include "settings/qwatch_config.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>

#include "platform/platform_texts.h"
#include "settings/config_logo.h"
#include "settings/config_widgets.h"
#include "settings/layout_fit.h"
#include "settings/report_address.h"

namespace qelta {
namespace {

using C = ConfigControl;

// The designed client area, and where each control stands in it (x, y, width, height).
constexpr int kDesignWidth = 577;
constexpr int kDesignHeight = 305;
constexpr int kHeaderHeight = 47;
constexpr int kDividerX = 304;

struct Placement {
  ConfigControl control;
  int x, y, width, height;
};

// Labels that size themselves in the design are given the room up to their next neighbour.
constexpr Placement kPlacements[] = {
    {C::Label1, 200, 17, 369, 13},
    {C::Label2, 0, 62, 97, 13},
    {C::Port, 104, 58, 97, 21},
    {C::Search, 208, 58, 57, 21},
    {C::Label8, 0, 86, 97, 13},
    {C::Interval, 104, 82, 97, 21},
    {C::CloseInformationOnDeactivateCheckbox, 8, 121, 265, 17},
    {C::PopupBaloonIn2SecsCheckBox, 8, 142, 289, 17},
    {C::CatchStats, 8, 163, 177, 17},
    {C::AutoRun, 8, 184, 201, 17},
    {C::WarnOnModeChangeCheckbox, 8, 205, 249, 17},
    {C::SenseBattery, 312, 55, 233, 17},
    {C::SenseLabel1, 330, 76, 90, 13},
    {C::SenseTime, 424, 73, 45, 21},
    {C::SenseLabel2, 473, 76, 96, 13},
    {C::SenseBatteryPercent, 312, 98, 193, 17},
    {C::SenseLabel4, 330, 119, 34, 13},
    {C::SenseBatteryPercentValue, 368, 116, 45, 21},
    {C::SenseLabel5, 417, 119, 152, 13},
    {C::SensePlaySound, 312, 147, 100, 17},
    {C::SenseSound, 415, 145, 108, 21},
    {C::SenseSoundPreview, 525, 145, 22, 21},
    {C::SenseShutdown, 312, 176, 260, 17},
    {C::Label3, 330, 200, 34, 13},
    {C::SenseShutdownCountdown, 368, 197, 45, 21},
    {C::SenseLabel3, 417, 200, 152, 13},
    {C::PerformPost, 8, 239, 257, 17},
    {C::PostURL, 272, 237, 201, 21},
    {C::PostInterval, 480, 237, 89, 21},
    {C::CloseButton, 499, 276, 73, 25},
};

// The etched dividing lines: horizontal ones (x, y, length) and the vertical one.
struct Line {
  bool horizontal;
  int x, y, length;
};
constexpr Line kLines[] = {
    {true, 0, kHeaderHeight, kDesignWidth},  // under the header
    {true, 0, 111, kDividerX},               // under the interval row
    {true, 0, 227, kDesignWidth},            // under both groups
    {true, 0, 266, kDesignWidth},            // above the close button
    {false, kDividerX, 48, 227 - 48},        // between the groups
};
constexpr int kLineThickness = 2;

constexpr int kLogoX = 3;
constexpr int kLogoY = 3;
constexpr int kLogoWidth = 191;
constexpr int kLogoHeight = 40;

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// The room a push button's caption needs: the text and the style's margins around it (the
// style's own minimum button width is a look, not a need).
QSize ButtonNeed(const QAbstractButton* button) {
  QString caption = button->text();
  caption.remove(QLatin1Char('&'));
  const QStyle* style = button->style();
  const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                     style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
  const int width = caption.isEmpty() ? button->iconSize().width() + 2 * margin
                                      : button->fontMetrics().horizontalAdvance(caption);
  return {width + 2 * margin, button->fontMetrics().height() + 2 * margin};
}

// The room a control needs so that nothing of it is clipped: its text and frame for captions
// and lists; for editable fields the design's width is enough, but not less than its minimum.
QSize Need(QWidget* widget, const Placement& placed) {
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    const QSize need = ButtonNeed(button);
    return {need.width(), std::max(need.height(), placed.height)};
  }
  if (qobject_cast<QLineEdit*>(widget) != nullptr || qobject_cast<FileNameEdit*>(widget)) {
    return {std::max(placed.width, widget->minimumSizeHint().width()), widget->sizeHint().height()};
  }
  return widget->sizeHint();
}

}  // namespace

TConfigurationForm::TConfigurationForm(const ConfigurationDependencies& deps, HandlerGuard guard,
                                       QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      logic_(deps),
      guard_(std::move(guard)) {
  setObjectName(QStringLiteral("ConfigurationForm"));
  setWindowTitle(QStringLiteral("QELTA MONITOR"));
  setModal(false);
  // Closing only hides the dialog; it never ends the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  CreateControls();
  Arrange();
  ConnectControls();
  ApplyEnabledStates();
}

TConfigurationForm::~TConfigurationForm() {
  // The controls outlive this part of the window, and losing the focus as they go makes them
  // signal (a spin field's end of editing): nothing of theirs may reach this window any more.
  for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

void TConfigurationForm::CreateControls() {
  header_ = new QWidget(this);
  header_->setObjectName(QStringLiteral("Header"));
  header_->setAutoFillBackground(true);
  QPalette white = header_->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  header_->setPalette(white);
  logo_ = new QLabel(this);
  logo_->setObjectName(QStringLiteral("Logo"));
  for (const Line& line : kLines) {
    auto* frame = new QFrame(this);
    frame->setFrameShape(line.horizontal ? QFrame::HLine : QFrame::VLine);
    frame->setFrameShadow(QFrame::Sunken);
    lines_.append(frame);
  }

  auto label = [this](C control, const char* name, const char* text) {
    auto* widget = new QLabel(Text(text), this);
    widget->setObjectName(QString::fromLatin1(name));
    controls_[control] = widget;
    return widget;
  };
  auto check = [this](C control, const char* name, const char* text, const char* hint) {
    auto* widget = new QCheckBox(Text(text), this);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setToolTip(Text(hint));
    controls_[control] = widget;
    return widget;
  };
  auto spin = [this](C control, const char* name) {
    auto* widget = new QSpinBox(this);
    widget->setObjectName(QString::fromLatin1(name));
    const SpinRange range = SpinRangeOf(control);
    widget->setRange(range.min, range.max);
    widget->setValue(range.initial);
    controls_[control] = widget;
    return widget;
  };
  auto intervals = [this](C control, const char* name) {
    auto* widget = new QComboBox(this);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setEditable(false);
    for (const IntervalChoice& choice : IntervalChoices) {
      widget->addItem(Text(choice.text), choice.seconds);
    }
    widget->setCurrentIndex(-1);
    controls_[control] = widget;
    return widget;
  };

  Label1 = label(C::Label1, "Label1", "Режим работы от батарей");
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  Label1->setPalette(white);

  Label2 = label(C::Label2, "Label2", "Порт:");
  Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Port = new PortList(this);
  Port->setObjectName(QStringLiteral("Port"));
  Port->setToolTip(Text("Выберите последовательный порт, к которому подключен UPS."));
  for (const char* name : kPortChoices) Port->addItem(Text(PortChoiceText(name)));
  controls_[C::Port] = Port;
  Search = new QPushButton(Text("&Поиск"), this);
  Search->setObjectName(QStringLiteral("Search"));
  Search->setToolTip(Text("Автоматически определить порт, к которому подключен UPS."));
  Search->setAutoDefault(false);
  controls_[C::Search] = Search;

  Label8 = label(C::Label8, "Label8", "Интервал:");
  Label8->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Interval = intervals(C::Interval, "Interval");
  Interval->setToolTip(Text("Выберите интервал проверки состояния UPS."));

  CloseInformationOnDeactivateCheckbox =
      check(C::CloseInformationOnDeactivateCheckbox, "CloseInformationOnDeactivateCheckbox",
            "Автоматически закрывать окно состояния UPS",
            "Автоматически закрыть окно состояния UPS при переключении в другую программу.");
  PopupBaloonIn2SecsCheckBox =
      check(C::PopupBaloonIn2SecsCheckBox, "PopupBaloonIn2SecsCheckBox",
            "Показать состояние UPS при 4-х сек. удержании Ctrl",
            "Показать текущее состояние UPS при четырехсекундном удержании Ctrl (работает в любой "
            "программе).");
  CatchStats = check(C::CatchStats, "CatchStats", "Накапливать статистику UPS",
                     "Накапливать статистику для дальнейшего построения графиков в разделе "
                     "\"Статистика\".");
  AutoRun =
      check(C::AutoRun, "AutoRun", platform_texts::kAutoRunCaption, platform_texts::kAutoRunHint);
  WarnOnModeChangeCheckbox = check(C::WarnOnModeChangeCheckbox, "WarnOnModeChangeCheckbox",
                                   "Сообщать о переходе на питание от батарей",
                                   "Сообщать о переходе на питание от батарей и обратно.");

  SenseBattery = check(C::SenseBattery, "SenseBattery", "Оповестить о переходе в режим работы",
                       "Оповестить о переходе в режим работы от батарей через указанное "
                       "количество времени.");
  SenseLabel1 = label(C::SenseLabel1, "SenseLabel1", "от батарей через");
  SenseTime = spin(C::SenseTime, "SenseTime");
  SenseLabel2 = label(C::SenseLabel2, "SenseLabel2", "сек.");
  SenseBatteryPercent =
      check(C::SenseBatteryPercent, "SenseBatteryPercent", "Оповестить, если заряд батареи",
            "Оповестить, если заряд батареи менее указанного.");
  SenseLabel4 = label(C::SenseLabel4, "SenseLabel4", "менее");
  SenseBatteryPercentValue = spin(C::SenseBatteryPercentValue, "SenseBatteryPercentValue");
  SenseLabel5 = label(C::SenseLabel5, "SenseLabel5", "%");
  SensePlaySound = check(C::SensePlaySound, "SensePlaySound", "Проиграть звук",
                         "Воспроизвести указанный звуковой файл.");
  SenseSound = new FileNameEdit(this);
  SenseSound->setObjectName(QStringLiteral("SenseSound"));
  controls_[C::SenseSound] = SenseSound;
  SenseSoundPreview = new QToolButton(this);
  SenseSoundPreview->setObjectName(QStringLiteral("SenseSoundPreview"));
  SenseSoundPreview->setIcon(PlayGlyph(palette().color(QPalette::ButtonText), 16));
  controls_[C::SenseSoundPreview] = SenseSoundPreview;
  SenseShutdown =
      check(C::SenseShutdown, "SenseShutdown", "Автоматически завершить работу компьютера",
            "Автоматически завершить работу через указанное количество времени "
            "после оповещения.");
  Label3 = label(C::Label3, "Label3", "через");
  SenseShutdownCountdown = spin(C::SenseShutdownCountdown, "SenseShutdownCountdown");
  SenseLabel3 = label(C::SenseLabel3, "SenseLabel3", "сек. после оповещения");

  PerformPost = check(C::PerformPost, "PerformPost", "Передавать состояние UPS на HTTP-сервер:",
                      "Передавать состояние UPS на указанный адрес (метод POST) с указанным "
                      "интервалом.");
  PostURL = new QLineEdit(Text(kSamplePostUrl), this);
  PostURL->setObjectName(QStringLiteral("PostURL"));
  PostURL->setCursorPosition(0);
  controls_[C::PostURL] = PostURL;
  ShowAddressCheck();
  PostInterval = intervals(C::PostInterval, "PostInterval");

  CloseButton = new QPushButton(Text("&Закрыть"), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  CloseButton->setDefault(true);
  controls_[C::CloseButton] = CloseButton;
  // Beside the close button; shown once the main window gives it something to open.
  NetworkButton = new QPushButton(Text("&Сеть..."), this);
  NetworkButton->setObjectName(QStringLiteral("NetworkButton"));
  NetworkButton->setAccessibleName(Text("Сеть"));
  NetworkButton->setToolTip(Text("Сообщать состояние UPS другим компьютерам по сети."));
  NetworkButton->hide();

  NameControls();

  // Tab order: the order of the controls' table; labels take no focus. The sound field is
  // two stops, the text and then its browse button; the network button comes before the
  // close button.
  QWidget* previous = nullptr;
  auto chain = [this, &previous](QWidget* widget) {
    if (previous != nullptr) setTabOrder(previous, widget);
    previous = widget;
  };
  for (const Placement& placed : kPlacements) {
    QWidget* widget = controls_.at(placed.control);
    if (qobject_cast<QLabel*>(widget) != nullptr) continue;
    if (widget == SenseSound) {
      chain(SenseSound->Edit());
      chain(SenseSound->BrowseButton());
    } else if (widget == CloseButton) {
      // The network button sits left of the close button on the bottom row.
      chain(NetworkButton);
      chain(CloseButton);
    } else {
      chain(widget);
    }
  }
}

void TConfigurationForm::NameControls() {
  // What a screen reader says for each control: the words around it on the form.
  Label2->setBuddy(Port);
  Label8->setBuddy(Interval);
  SenseLabel1->setBuddy(SenseTime);
  SenseTime->setAccessibleName(Text("Оповестить о переходе на батарею через, секунд"));
  SenseLabel4->setBuddy(SenseBatteryPercentValue);
  SenseBatteryPercentValue->setAccessibleName(
      Text("Оповестить, если заряд батареи менее, процентов"));
  Label3->setBuddy(SenseShutdownCountdown);
  SenseShutdownCountdown->setAccessibleName(
      Text("Завершить работу компьютера через, секунд после оповещения"));
  SenseSound->Edit()->setAccessibleName(Text("Файл звука оповещения"));
  SenseSound->Edit()->setAccessibleDescription(Text("Alt+Вниз: выбрать файл звука"));
  SenseSound->BrowseButton()->setAccessibleName(Text("Выбрать файл звука"));
  SenseSound->BrowseButton()->setAccessibleDescription(Text("Открыть окно выбора звукового файла"));
  SenseSoundPreview->setAccessibleName(Text("Прослушать звук"));
  SenseSoundPreview->setAccessibleDescription(Text("Воспроизвести выбранный звуковой файл"));
  PostURL->setAccessibleName(Text("Адрес HTTP-сервера"));
  // A list is read by the label linked to it; this one has no words of its own on the form,
  // so its label is there for the screen reader only.
  auto* post_interval_label = new QLabel(Text("Интервал передачи на HTTP-сервер"), this);
  post_interval_label->setObjectName(QStringLiteral("PostIntervalLabel"));
  post_interval_label->hide();
  post_interval_label->setBuddy(PostInterval);
}

void TConfigurationForm::SetNetworkSettingsOpener(std::function<void()> open) {
  open_network_settings_ = std::move(open);
  NetworkButton->setVisible(static_cast<bool>(open_network_settings_));
}

void TConfigurationForm::Arrange() {
  AxisStretch across;
  AxisStretch down;
  for (const Placement& placed : kPlacements) {
    const QSize need = Need(controls_.at(placed.control), placed);
    across.Need(placed.x, placed.width, need.width());
    down.Need(placed.y, placed.height, need.height());
  }
  across.Need(kLogoX, kLogoWidth, kLogoWidth);
  down.Need(kLogoY, kLogoHeight, kLogoHeight);
  for (const Line& line : kLines) {
    across.Edge(line.x);
    down.Edge(line.y);
    (line.horizontal ? across : down).Edge(line.x + line.length);
    if (!line.horizontal) down.Edge(line.y + line.length);
  }
  across.Edge(kDesignWidth);
  down.Edge(kDesignHeight);
  across.Solve();
  down.Solve();

  auto place = [&](QWidget* widget, int x, int y, int width, int height) {
    widget->setGeometry(across.Map(x), down.Map(y), across.MapLength(x, width),
                        down.MapLength(y, height));
  };
  for (const Placement& placed : kPlacements) {
    place(controls_.at(placed.control), placed.x, placed.y, placed.width, placed.height);
  }
  place(NetworkButton, 8, 276, 97, 25);
  place(header_, 0, 0, kDesignWidth, kHeaderHeight);
  header_->lower();
  // The logo keeps its drawn size, centred in the room the header gives it.
  const QRect logo_room(across.Map(kLogoX), down.Map(kLogoY), across.MapLength(kLogoX, kLogoWidth),
                        down.MapLength(kLogoY, kLogoHeight));
  logo_->setGeometry(QRect(QPoint(0, 0), QSize(kLogoWidth, kLogoHeight)));
  logo_->move(logo_room.center() - logo_->rect().center());
  logo_->setPixmap(DrawConfigLogo(kLogoWidth, kLogoHeight, devicePixelRatioF()));
  for (int i = 0; i < lines_.size(); ++i) {
    const Line& line = kLines[i];
    if (line.horizontal) {
      lines_[i]->setGeometry(across.Map(line.x), down.Map(line.y) - kLineThickness / 2,
                             across.MapLength(line.x, line.length), kLineThickness);
    } else {
      lines_[i]->setGeometry(across.Map(line.x) - kLineThickness / 2, down.Map(line.y),
                             kLineThickness, down.MapLength(line.y, line.length));
    }
  }
  setFixedSize(across.Map(kDesignWidth), down.Map(kDesignHeight));
}

void TConfigurationForm::ConnectControls() {
  for (const C box :
       {C::CloseInformationOnDeactivateCheckbox, C::PopupBaloonIn2SecsCheckBox, C::CatchStats,
        C::AutoRun, C::WarnOnModeChangeCheckbox, C::SenseBattery, C::SenseBatteryPercent,
        C::SensePlaySound, C::SenseShutdown, C::PerformPost}) {
    auto* widget = static_cast<QCheckBox*>(controls_.at(box));
    connect(widget, &QCheckBox::clicked, this,
            [this, box](bool checked) { Handle([&] { logic_.Click(box, checked); }); });
  }
  for (const C list : {C::Port, C::Interval, C::PostInterval}) {
    auto* widget = static_cast<QComboBox*>(controls_.at(list));
    connect(widget, &QComboBox::currentIndexChanged, this, [this, list](int index) {
      if (!showing_) Handle([&] { logic_.ChooseEntry(list, index); });
    });
  }
  for (const C field : {C::SenseTime, C::SenseBatteryPercentValue, C::SenseShutdownCountdown}) {
    // Every text the field shows is stored, typed or stepped: the editor tells of typed texts,
    // also those not yet a number in the range, and the spin box of stepped values (it changes
    // its editor silently). A text already handled is not stored twice.
    auto changed = [this, field](const QString& text) {
      if (showing_ || text.toStdString() == logic_.Controls().Text(field)) return;
      Handle([&] { logic_.ChangeText(field, text.toStdString()); });
    };
    auto* spin = static_cast<QSpinBox*>(controls_.at(field));
    connect(spin->findChild<QLineEdit*>(), &QLineEdit::textChanged, this, changed);
    connect(spin, &QSpinBox::textChanged, this, changed);
    connect(spin, &QSpinBox::editingFinished, this, [this, field] { EndSpinEditing(field); });
  }
  connect(PostURL, &QLineEdit::textEdited, this, [this](const QString& text) {
    Handle([&] { logic_.ChangeText(C::PostURL, text.toStdString()); });
  });
  connect(PostURL, &QLineEdit::textChanged, this, [this] { ShowAddressCheck(); });
  connect(SenseSound->Edit(), &QLineEdit::textEdited, this, [this](const QString& text) {
    Handle([&] { logic_.ChangeText(C::SenseSound, text.toStdString()); });
  });
  SenseSound->OnBrowse([this] { Handle([this] { logic_.SenseSoundBrowseClick(); }); });
  connect(SenseSoundPreview, &QToolButton::clicked, this,
          [this] { Handle([this] { logic_.SenseSoundPreviewClick(); }); });
  connect(Search, &QPushButton::clicked, this, [this] {
    Handle([this] { logic_.SearchClick(); });
    RefreshPortHints();
  });
  connect(CloseButton, &QPushButton::clicked, this, [this] { close(); });
  connect(NetworkButton, &QPushButton::clicked, this, [this] {
    if (open_network_settings_) open_network_settings_();
  });
  Port->OnPopup([this] { RefreshPortHints(); });
}

void TConfigurationForm::ShowAddressCheck() {
  const ReportAddressCheck check = ReadReportAddress(PostURL->text());
  QPalette colours = palette();
  if (!check.Usable()) {
    // A pale red ground that keeps the text readable in light and dark styles alike.
    const QColor ground = colours.color(QPalette::Base);
    colours.setColor(QPalette::Base,
                     ground.lightness() > 127 ? QColor(255, 205, 205) : QColor(110, 30, 30));
  }
  PostURL->setPalette(colours);
  PostURL->setToolTip(check.Usable() ? ReportAddressHint() : check.problem);
}

void TConfigurationForm::FormCreate() {
  logic_.Fill();
  ShowControls();
}

void TConfigurationForm::Handle(const std::function<void()>& handler) {
  guard_(handler);
  ShowControls();
}

void TConfigurationForm::ShowControls() {
  showing_ = true;
  const ConfigControls& state = logic_.Controls();
  for (const auto& [control, widget] : controls_) {
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
      box->setChecked(state.Checked(control));
    } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
      list->setCurrentIndex(state.Selected(control));
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
      // A text the user is typing stays as typed; values from code are shown.
      const QString text = QString::fromStdString(state.Text(control));
      if (spin->text() != text)
        spin->setValue(SpinTextValue(state.Text(control), SpinRangeOf(control)));
    }
  }
  const QString url = QString::fromStdString(state.Text(C::PostURL));
  // Texts put from code show their beginning.
  if (PostURL->text() != url) {
    PostURL->setText(url);
    PostURL->setCursorPosition(0);
  }
  const QString sound = QString::fromStdString(state.Text(C::SenseSound));
  if (SenseSound->Edit()->text() != sound) {
    SenseSound->Edit()->setText(sound);
    SenseSound->Edit()->setCursorPosition(0);
  }
  showing_ = false;
  ApplyEnabledStates();
}

void TConfigurationForm::EndSpinEditing(ConfigControl field) {
  if (showing_) return;
  auto* spin = static_cast<QSpinBox*>(controls_.at(field));
  // The field puts its last value back in place of a text it cannot take (empty, below the
  // minimum); its signals do not tell of that. The store must hold what the field shows.
  spin->interpretText();
  const QString shown = spin->text();
  if (shown.toStdString() == logic_.Controls().Text(field)) return;
  Handle([&] { logic_.ChangeText(field, shown.toStdString()); });
}

void TConfigurationForm::ApplyEnabledStates() {
  const ConfigControls& state = logic_.Controls();
  for (const auto& [control, widget] : controls_) widget->setEnabled(state.Enabled(control));
}

void TConfigurationForm::RefreshPortHints() {
  // The devices come from the settings store, whose failures must not cross the event loop.
  guard_([this] {
    const auto devices = logic_.PortDevices();
    for (size_t i = 0; i < devices.size(); ++i) {
      Port->setItemData(static_cast<int>(i), QString::fromStdString(devices[i]), Qt::ToolTipRole);
    }
  });
}

QWidget* TConfigurationForm::Control(ConfigControl control) const {
  return controls_.at(control);
}

QList<QWidget*> TConfigurationForm::Decorations() const {
  QList<QWidget*> decorations{header_, logo_};
  for (QFrame* line : lines_) decorations.append(line);
  return decorations;
}

void TConfigurationForm::showEvent(QShowEvent* event) {
  if (!placed_) {
    placed_ = true;
    // Centred on the desktop the first time; afterwards where the user left it.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  RefreshPortHints();
  QDialog::showEvent(event);
}

void TConfigurationForm::hideEvent(QHideEvent* event) {
  // Closing the window ends the editing of a field, as leaving the field does.
  for (const C field : {C::SenseTime, C::SenseBatteryPercentValue, C::SenseShutdownCountdown}) {
    EndSpinEditing(field);
  }
  QDialog::hideEvent(event);
}

void TConfigurationForm::keyPressEvent(QKeyEvent* event) {
  // There is no Cancel: Escape does not close the dialog.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace qelta
