#include "install/qwatch_install.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "install/install_texts.h"
#include "install/window_parts.h"
#include "platform/platform_texts.h"

namespace qelta {
namespace {

// The designed client area; the window grows when the desktop's font needs more room.
constexpr int kDesignWidth = 472;
constexpr int kDesignHeight = 190;
constexpr int kHeaderHeight = 47;

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

}  // namespace

TInstallForm::TInstallForm(const InstallDependencies& deps, HandlerGuard guard, QWidget* parent,
                           DialogBoxes* boxes, FolderDialog* folders)
    : QDialog(parent, kFixedDialogFlags), guard_(std::move(guard)) {
  setObjectName(QStringLiteral("InstallForm"));
  if (boxes == nullptr) {
    own_boxes_ = std::make_unique<QtDialogBoxes>(this);
    boxes = own_boxes_.get();
  }
  if (folders == nullptr) {
    own_folders_ = std::make_unique<QtFolderDialog>(this);
    folders = own_folders_.get();
  }
  InstallStatusView& status = *this;
  logic_ = std::make_unique<InstallerLogic>(deps, *boxes, *folders, status);
  CreateControls();
}

TInstallForm::~TInstallForm() = default;

void TInstallForm::CreateControls() {
  Panel1 = MakeWhiteBand(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedHeight(kHeaderHeight);
  Image1 = MakeLogo(Panel1);
  Label1 = new QLabel(Text(kInstallHeader), Panel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  MakeBold(Label1);
  auto* header = new QHBoxLayout(Panel1);
  header->setContentsMargins(3, 3, 16, 3);
  header->addWidget(Image1);
  header->addStretch();
  header->addWidget(Label1);

  Label2 = new QLabel(Text(kInstallFolderLabel), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  MakeBold(Label2);
  Path = new QLineEdit(this);
  Path->setObjectName(QStringLiteral("Path"));
  Label2->setBuddy(Path);
  ChoosePath = new QPushButton(Text(kChoosePathCaption), this);
  ChoosePath->setObjectName(QStringLiteral("ChoosePath"));
  ChoosePath->setAutoDefault(false);
  ChoosePath->setAccessibleDescription(Text(kChoosePathDescription));
  AutoRun = new QCheckBox(Text(platform_texts::kInstallerAutoRunCaption), this);
  AutoRun->setObjectName(QStringLiteral("AutoRun"));
  AutoRun->setChecked(true);
  RunAfterInstall = new QCheckBox(Text(kRunAfterInstallCaption), this);
  RunAfterInstall->setObjectName(QStringLiteral("RunAfterInstall"));
  RunAfterInstall->setChecked(true);
  Status = new QLabel(this);
  Status->setObjectName(QStringLiteral("Status"));
  Status->setAlignment(Qt::AlignCenter);
  InstallButton = new QPushButton(Text(kInstallButtonCaption), this);
  InstallButton->setObjectName(QStringLiteral("InstallButton"));
  InstallButton->setDefault(true);
  InstallButton->setMinimumWidth(81);
  CancelButton = new QPushButton(Text(kCancelButtonCaption), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setAutoDefault(false);
  CancelButton->setMinimumWidth(81);

  auto* folder = new QHBoxLayout;
  folder->setSpacing(7);
  folder->addWidget(Path, 1);
  folder->addWidget(ChoosePath);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(7);
  buttons->addStretch();
  buttons->addWidget(InstallButton);
  buttons->addWidget(CancelButton);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(8, 8, 8, 6);
  body->setSpacing(4);
  body->addWidget(Label2);
  body->addLayout(folder);
  body->addSpacing(6);
  body->addWidget(AutoRun);
  body->addWidget(RunAfterInstall);
  body->addStretch();
  body->addWidget(Status);
  body->addLayout(buttons);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  root->addWidget(Panel1);
  root->addWidget(MakeEtchedLine(this));
  root->addLayout(body);
  setFixedSize(sizeHint().expandedTo(QSize(kDesignWidth, kDesignHeight)));

  connect(Path, &QLineEdit::textEdited, this, [this](const QString& text) {
    logic_->SetPath(text.toStdString());
    ShowFolderLabel();
  });
  connect(AutoRun, &QCheckBox::toggled, this, [this](bool on) { logic_->AutoRun = on; });
  connect(RunAfterInstall, &QCheckBox::toggled, this,
          [this](bool on) { logic_->RunAfterInstall = on; });
  connect(ChoosePath, &QPushButton::clicked, this, [this] { ChoosePathClick(); });
  connect(InstallButton, &QPushButton::clicked, this, [this] { InstallButtonClick(); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { reject(); });
}

void TInstallForm::FormCreate() {
  logic_->FormCreate();
  ShowPath();
  setWindowTitle(InstallerLogic::Caption());
}

void TInstallForm::ShowPath() {
  Path->setText(QString::fromStdString(logic_->Path()));
  ShowFolderLabel();
}

void TInstallForm::ShowFolderLabel() {
  Label2->setText(Text(logic_->RegistersInPlace() ? kRegisterFolderLabel : kInstallFolderLabel));
}

void TInstallForm::ChoosePathClick() {
  guard_([this] {
    logic_->ChoosePathClick();
    ShowPath();
  });
}

void TInstallForm::InstallButtonClick() {
  if (installing_) return;
  installing_ = true;
  InstallerLogic::Outcome outcome = InstallerLogic::Outcome::StayOpen;
  guard_([&] { outcome = logic_->InstallButtonClick(); });
  installing_ = false;
  // A folder typed with "~" shows where it stands.
  const QString folder = QString::fromStdString(logic_->Path());
  if (Path->text() != folder) Path->setText(folder);
  if (outcome == InstallerLogic::Outcome::Installed) {
    accept();
    return;
  }
  SetControlsEnabled(true);
}

void TInstallForm::SetControlsEnabled(bool enabled) {
  for (QWidget* control :
       {static_cast<QWidget*>(Path), static_cast<QWidget*>(ChoosePath),
        static_cast<QWidget*>(AutoRun), static_cast<QWidget*>(RunAfterInstall),
        static_cast<QWidget*>(InstallButton), static_cast<QWidget*>(CancelButton)}) {
    control->setEnabled(enabled);
  }
}

void TInstallForm::ShowInstallStatus(const QString& text) {
  // From the first step on, the controls show that the window takes no input.
  if (installing_) SetControlsEnabled(false);
  Status->setText(text);
  Status->repaint();
  // The window is drawn and the desktop answered between the steps; the user's input waits.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TInstallForm::reject() {
  // Neither the close box nor Escape stops an installation half-way.
  if (installing_) return;
  QDialog::reject();
}

void TInstallForm::closeEvent(QCloseEvent* event) {
  if (installing_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace qelta
