#include "network/qwatch_network.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "network/network_config.h"
#include "settings/settings.h"

namespace qelta {
namespace {

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

template <typename W>
W* Named(W* widget, const char* object_name, const char* accessible_name) {
  widget->setObjectName(QString::fromLatin1(object_name));
  widget->setAccessibleName(Text(accessible_name));
  return widget;
}

QString RightsText(const NetworkUser& user) {
  QStringList rights;
  if (user.secondary) rights << QStringLiteral("secondary");
  if (user.instcmds) rights << QStringLiteral("instcmds");
  if (user.password.empty()) rights << Text("без пароля");
  return QString::fromStdString(user.name) + QStringLiteral(" (") +
         rights.join(QStringLiteral(", ")) + QStringLiteral(")");
}

}  // namespace

TNetworkForm::TNetworkForm(Settings& settings, std::function<void()> applied, HandlerGuard guard,
                           QWidget* parent)
    : QDialog(parent), settings_(settings), applied_(std::move(applied)), guard_(std::move(guard)) {
  setObjectName(QStringLiteral("NetworkForm"));
  setWindowTitle(Text("Сеть"));
  auto* layout = new QVBoxLayout(this);

  Serve = Named(new QCheckBox(Text("Сообщать состояние UPS другим компьютерам по сети (порт NUT)")),
                "Serve", "Сообщать состояние UPS другим компьютерам");
  layout->addWidget(Serve);
  auto* form = new QFormLayout();
  Listen = Named(new QLineEdit(), "Listen", "Адреса");
  Listen->setToolTip(
      Text("Адреса через пробел: 127.0.0.1 ::1 - только этот компьютер; "
           "0.0.0.0 - все сети."));
  form->addRow(Text("Адреса:"), Listen);
  Port = Named(new QSpinBox(), "Port", "Порт");
  Port->setRange(1, 65535);
  form->addRow(Text("Порт:"), Port);
  UpsName = Named(new QLineEdit(), "UpsName", "Имя UPS");
  form->addRow(Text("Имя UPS:"), UpsName);
  Description = Named(new QLineEdit(), "Description", "Описание");
  form->addRow(Text("Описание:"), Description);
  SecondaryWait =
      Named(new QSpinBox(), "SecondaryWait", "Ждать завершения других компьютеров, сек.");
  SecondaryWait->setRange(0, 600);
  SecondaryWait->setSuffix(Text(" сек."));
  form->addRow(Text("Ждать другие компьютеры:"), SecondaryWait);
  layout->addLayout(form);

  auto* users = new QGroupBox(Text("Пользователи"));
  auto* users_layout = new QVBoxLayout(users);
  Users = Named(new QListWidget(), "Users", "Пользователи");
  Users->setMaximumHeight(80);
  users_layout->addWidget(Users);
  auto* user_form = new QFormLayout();
  UserName = Named(new QLineEdit(), "UserName", "Имя пользователя");
  user_form->addRow(Text("Имя:"), UserName);
  UserPassword = Named(new QLineEdit(), "UserPassword", "Пароль пользователя");
  UserPassword->setEchoMode(QLineEdit::Password);
  user_form->addRow(Text("Пароль:"), UserPassword);
  users_layout->addLayout(user_form);
  UserSecondary = Named(new QCheckBox(Text("Компьютер питается от этого UPS (secondary)")),
                        "UserSecondary", "Компьютер питается от этого UPS");
  UserInstcmds = Named(new QCheckBox(Text("Может управлять звуком и тестом UPS (instcmds)")),
                       "UserInstcmds", "Может управлять звуком и тестом UPS");
  users_layout->addWidget(UserSecondary);
  users_layout->addWidget(UserInstcmds);
  auto* user_buttons = new QHBoxLayout();
  SaveUser =
      Named(new QPushButton(Text("&Сохранить пользователя")), "SaveUser", "Сохранить пользователя");
  RemoveUser = Named(new QPushButton(Text("&Удалить")), "RemoveUser", "Удалить пользователя");
  user_buttons->addWidget(SaveUser);
  user_buttons->addWidget(RemoveUser);
  user_buttons->addStretch();
  users_layout->addLayout(user_buttons);
  layout->addWidget(users);

  ClientLine = Named(new QLabel(), "ClientLine", "Строка для других компьютеров");
  ClientLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  ClientLine->setWordWrap(true);
  layout->addWidget(ClientLine);
  Warning = Named(new QLabel(), "Warning", "Предупреждение");
  Warning->setWordWrap(true);
  Warning->setStyleSheet(QStringLiteral("color: #c00000;"));
  layout->addWidget(Warning);
  CloseButton = Named(new QPushButton(Text("&Закрыть")), "CloseButton", "Закрыть");
  CloseButton->setDefault(true);
  auto* bottom = new QHBoxLayout();
  bottom->addStretch();
  bottom->addWidget(CloseButton);
  layout->addLayout(bottom);

  connect(Serve, &QCheckBox::clicked, this,
          [this](bool on) { Store([&] { settings_.WriteBool(kNetworkSection, "Serve", on); }); });
  connect(Listen, &QLineEdit::editingFinished, this, [this] {
    Store([&] { settings_.WriteString(kNetworkSection, "Listen", Listen->text().toStdString()); });
  });
  // Stored when the editing ends: "3493" typed digit by digit is not four ports to listen on.
  connect(Port, &QSpinBox::editingFinished, this, [this] {
    Store([&] { settings_.WriteInteger(kNetworkSection, "Port", Port->value()); });
  });
  connect(UpsName, &QLineEdit::editingFinished, this, [this] {
    Store(
        [&] { settings_.WriteString(kNetworkSection, "UpsName", UpsName->text().toStdString()); });
  });
  connect(Description, &QLineEdit::editingFinished, this, [this] {
    Store([&] {
      settings_.WriteString(kNetworkSection, "Description", Description->text().toStdString());
    });
  });
  connect(SecondaryWait, &QSpinBox::valueChanged, this, [this](int seconds) {
    Store([&] { settings_.WriteInteger(kNetworkSection, "SecondaryWait", seconds); });
  });
  connect(Users, &QListWidget::currentRowChanged, this, [this] { ChooseUser(); });
  connect(SaveUser, &QPushButton::clicked, this, [this] { SaveUserClick(); });
  connect(RemoveUser, &QPushButton::clicked, this, [this] { RemoveUserClick(); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { close(); });
}

void TNetworkForm::FormCreate() {
  filling_ = true;
  const ListenConfig listen = ReadListenConfig(settings_);
  const ServedConfig served = ReadServedConfig(settings_);
  Serve->setChecked(listen.serve);
  QStringList addresses;
  for (const std::string& a : listen.addresses) addresses << QString::fromStdString(a);
  Listen->setText(addresses.join(QLatin1Char(' ')));
  Port->setValue(listen.port);
  UpsName->setText(QString::fromStdString(served.ups_name));
  Description->setText(QString::fromStdString(served.description));
  SecondaryWait->setValue(ReadSecondaryWaitSeconds(settings_));
  UserSecondary->setChecked(true);
  FillUsers();
  filling_ = false;
  RefreshHints();
}

void TNetworkForm::Store(const std::function<void()>& write) {
  if (filling_) return;
  guard_([&] {
    write();
    if (applied_) applied_();
  });
  RefreshHints();
}

void TNetworkForm::FillUsers() {
  Users->clear();
  for (const NetworkUser& user : ReadServedConfig(settings_).users) {
    auto* item = new QListWidgetItem(RightsText(user), Users);
    item->setData(Qt::UserRole, QString::fromStdString(user.name));
  }
}

void TNetworkForm::ChooseUser() {
  QListWidgetItem* item = Users->currentItem();
  if (item == nullptr) return;
  const std::string name = item->data(Qt::UserRole).toString().toStdString();
  for (const NetworkUser& user : ReadServedConfig(settings_).users) {
    if (user.name != name) continue;
    UserName->setText(QString::fromStdString(user.name));
    // The stored password is never shown; an empty field keeps it.
    UserPassword->clear();
    UserPassword->setPlaceholderText(user.password.empty() ? Text("не задан")
                                                           : Text("не меняется, если пусто"));
    UserSecondary->setChecked(user.secondary);
    UserInstcmds->setChecked(user.instcmds);
  }
}

void TNetworkForm::SaveUserClick() {
  const std::string name = UserName->text().trimmed().toStdString();
  if (!IsValidUserName(name)) {
    Warning->setText(Text("Имя пользователя: латинские буквы, цифры, \"-\", \"_\", \".\"."));
    return;
  }
  NetworkUser user{name, UserPassword->text().toStdString(), UserSecondary->isChecked(),
                   UserInstcmds->isChecked()};
  if (user.password.empty()) {
    for (const NetworkUser& old : ReadServedConfig(settings_).users) {
      if (old.name == name) user.password = old.password;
    }
  }
  Store([&] { WriteNetworkUser(settings_, user); });
  UserPassword->clear();
  FillUsers();
  RefreshHints();
}

void TNetworkForm::RemoveUserClick() {
  const std::string name = UserName->text().trimmed().toStdString();
  if (name.empty()) return;
  Store([&] { RemoveNetworkUser(settings_, name); });
  UserName->clear();
  UserPassword->clear();
  FillUsers();
  RefreshHints();
}

void TNetworkForm::RefreshHints() {
  ListenConfig listen;
  ServedConfig served;
  guard_([&] {
    listen = ReadListenConfig(settings_);
    served = ReadServedConfig(settings_);
  });
  const std::string ups = ClientUpsName(listen, served, QHostInfo::localHostName().toStdString());
  ClientLine->setText(Text("Для других компьютеров: ") + QString::fromStdString(ups) +
                      Text("\nupsmon.conf: MONITOR ") + QString::fromStdString(ups) +
                      Text(" 1 <пользователь> <пароль> secondary"));
  Warning->setText(NeedsPasswordWarning(listen, served)
                       ? Text("Внимание: UPS доступен из сети, а пароль задан не всем "
                              "пользователям.")
                       : QString());
  Warning->setVisible(!Warning->text().isEmpty());
}

}  // namespace qelta
