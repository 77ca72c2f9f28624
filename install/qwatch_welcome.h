#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;

namespace qelta {

class WebPages;

// The welcome window of the first start after an installation: thanks, the maker's site and
// a way into the configuration dialog. Modeless; closing only hides it.
class TWelcomeForm : public QDialog {
  Q_OBJECT

 public:
  // `configure` runs the main window's configuration action.
  TWelcomeForm(WebPages& pages, std::function<void()> configure, QWidget* parent = nullptr);

  QLabel* Image1 = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* SiteButton = nullptr;
  QPushButton* SetupButton = nullptr;
  QPushButton* CloseButton = nullptr;

  void SiteButtonClick();
  void SetupButtonClick();
  void CloseButtonClick();

 private:
  WebPages& pages_;
  std::function<void()> configure_;
};

}  // namespace qelta
