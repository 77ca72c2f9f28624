#include "install/qwatch_about.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "install/install_texts.h"
#include "install/program_version.h"
#include "install/window_parts.h"
#include "platform/web_pages.h"

namespace qelta {
namespace {

// The designed client area and places; the window grows when the desktop's font needs more.
constexpr int kDesignWidth = 272;
constexpr int kDesignHeight = 156;
constexpr int kBandHeight = 121;
constexpr int kLogoTop = 3;
constexpr int kLogoHeight = 40;
constexpr int kVersionTop = 48;
constexpr int kMakerTop = 72;
constexpr int kCreditTop = 88;
constexpr int kLabelHeight = 13;

const QColor kNavy(0, 0, 128);
const QColor kRed(255, 0, 0);

QLabel* Centred(QLabel* label, const char* name) {
  label->setObjectName(QString::fromLatin1(name));
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  return label;
}

}  // namespace

TAboutForm::TAboutForm(WebPages& pages, std::function<void()> forget, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), pages_(pages), forget_(std::move(forget)) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QString::fromUtf8(kAboutCaption));
  MakeCompanionWindow(this);

  QWidget* band = MakeWhiteBand(this);
  band->setFixedHeight(kBandHeight);
  Image1 = MakeLogo(band);
  Label1 = Centred(new QLabel(QString::fromUtf8(kAboutVersionLine), band), "Label1");
  MakeBold(Label1);
  Label2 = new HoverLabel(QString::fromUtf8(kAboutMakerLine), band);
  Label3 = new HoverLabel(QString::fromUtf8(kAboutCreditLine), band);
  Centred(Label2, "Label2");
  Centred(Label3, "Label3");
  for (HoverLabel* link : {Label2, Label3}) {
    link->setCursor(Qt::PointingHandCursor);
    // Tab reaches the links and Enter opens them, as a click does.
    link->setFocusPolicy(Qt::StrongFocus);
    link->setAccessibleDescription(QString::fromUtf8(kAboutLinkDescription));
    SetLinkColour(link, false);
  }
  auto* band_layout = new QVBoxLayout(band);
  band_layout->setContentsMargins(8, kLogoTop, 7, 0);
  band_layout->setSpacing(0);
  band_layout->addWidget(Image1, 0, Qt::AlignHCenter);
  band_layout->addSpacing(kVersionTop - kLogoTop - kLogoHeight);
  band_layout->addWidget(Label1);
  band_layout->addSpacing(kMakerTop - kVersionTop - kLabelHeight);
  band_layout->addWidget(Label2);
  band_layout->addSpacing(kCreditTop - kMakerTop - kLabelHeight);
  band_layout->addWidget(Label3);
  band_layout->addStretch();

  Button1 = new QPushButton(QString::fromUtf8(kAboutCloseCaption), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setMinimumWidth(75);
  Button1->setDefault(true);
  LicenseLabel = new QLabel(QString::fromUtf8(kAboutLicenseLine), this);
  LicenseLabel->setObjectName(QStringLiteral("LicenseLabel"));
  Button1->setFocus();
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(8, 5, 5, 3);
  buttons->addWidget(LicenseLabel);
  buttons->addStretch();
  buttons->addWidget(Button1);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  root->addWidget(band);
  root->addWidget(MakeEtchedLine(this));
  root->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(kDesignWidth, kDesignHeight)));

  connect(Label2, &HoverLabel::clicked, this, [this] { Label2Click(); });
  connect(Label3, &HoverLabel::clicked, this, [this] { Label3Click(); });
  connect(Label2, &HoverLabel::entered, this, [this] { SetLinkColour(Label2, true); });
  connect(Label2, &HoverLabel::left, this, [this] { SetLinkColour(Label2, false); });
  connect(Label3, &HoverLabel::entered, this, [this] { SetLinkColour(Label3, true); });
  connect(Label3, &HoverLabel::left, this, [this] { SetLinkColour(Label3, false); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TAboutForm::FormCreate() {
  QString line = Label1->text();
  line.replace(QString::fromUtf8(kAboutVersionPlaceholder), QString::fromUtf8(kProgramVersion),
               Qt::CaseInsensitive);
  Label1->setText(line);
}

void TAboutForm::SetLinkColour(QLabel* label, bool hovered) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, hovered ? kRed : kNavy);
  label->setPalette(palette);
}

void TAboutForm::Label2Click() {
  pages_.Open(QString::fromUtf8(kMakerSite));
}

void TAboutForm::Label3Click() {
  pages_.Open(QString::fromUtf8(kProgramSite));
}

void TAboutForm::Button1Click() {
  close();
  if (forget_) forget_();
}

}  // namespace qelta
