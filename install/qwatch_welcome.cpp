#include "install/qwatch_welcome.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "install/install_texts.h"
#include "install/window_parts.h"
#include "platform/web_pages.h"

namespace qelta {
namespace {

// The designed client area and places; the window grows when the desktop's font needs more.
constexpr int kDesignWidth = 336;
constexpr int kDesignHeight = 253;
constexpr int kBandHeight = 217;
constexpr int kLogoTop = 43;
constexpr int kThanksTop = 128;
constexpr int kLogoHeight = 40;

QPushButton* MakeButton(const char* caption, const char* name, int width, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setMinimumWidth(width);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TWelcomeForm::TWelcomeForm(WebPages& pages, std::function<void()> configure, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), pages_(pages), configure_(std::move(configure)) {
  setObjectName(QStringLiteral("WelcomeForm"));
  setWindowTitle(QString::fromUtf8(kProgramTitle));
  MakeCompanionWindow(this);

  QWidget* band = MakeWhiteBand(this);
  band->setFixedHeight(kBandHeight);
  Image1 = MakeLogo(band);
  Label1 = new QLabel(QString::fromUtf8(kWelcomeThanks), band);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  MakeBold(Label1);
  auto* band_layout = new QVBoxLayout(band);
  band_layout->setContentsMargins(8, kLogoTop, 7, 0);
  band_layout->setSpacing(0);
  band_layout->addWidget(Image1, 0, Qt::AlignHCenter);
  band_layout->addSpacing(kThanksTop - kLogoTop - kLogoHeight);
  band_layout->addWidget(Label1);
  band_layout->addStretch();

  SiteButton = MakeButton(kSiteButtonCaption, "SiteButton", 81, this);
  SetupButton = MakeButton(kSetupButtonCaption, "SetupButton", 145, this);
  CloseButton = MakeButton(kCloseButtonCaption, "CloseButton", 81, this);
  SetupButton->setDefault(true);
  SetupButton->setAutoDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(8, 5, 7, 4);
  buttons->setSpacing(7);
  buttons->addWidget(SiteButton);
  buttons->addWidget(SetupButton, 1);
  buttons->addWidget(CloseButton);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  root->addWidget(band);
  root->addWidget(MakeEtchedLine(this));
  root->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(kDesignWidth, kDesignHeight)));
  SetupButton->setFocus();

  connect(SiteButton, &QPushButton::clicked, this, [this] { SiteButtonClick(); });
  connect(SetupButton, &QPushButton::clicked, this, [this] { SetupButtonClick(); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { CloseButtonClick(); });
}

void TWelcomeForm::SiteButtonClick() {
  pages_.Open(QString::fromUtf8(kMakerSite));
  close();
}

void TWelcomeForm::SetupButtonClick() {
  if (configure_) configure_();
  close();
}

void TWelcomeForm::CloseButtonClick() {
  close();
}

}  // namespace qelta
