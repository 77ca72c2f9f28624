#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;

namespace qelta {

class HoverLabel;
class WebPages;

// The About window: the version line and two links that open web pages. Modeless. Its own
// close button closes it and tells the main window to forget it (the next request makes a new
// one); the close box only hides it.
class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  // `forget` clears the main window's reference to this window.
  TAboutForm(WebPages& pages, std::function<void()> forget, QWidget* parent = nullptr);

  // Puts the running version into the version line.
  void FormCreate();

  QLabel* Image1 = nullptr;
  QLabel* Label1 = nullptr;
  HoverLabel* Label2 = nullptr;
  HoverLabel* Label3 = nullptr;
  // The program's licence, beside the close button.
  QLabel* LicenseLabel = nullptr;
  QPushButton* Button1 = nullptr;

  void Label2Click();
  void Label3Click();
  void Button1Click();

 private:
  // The link colours: navy at rest, red under the pointer.
  static void SetLinkColour(QLabel* label, bool hovered);

  WebPages& pages_;
  std::function<void()> forget_;
};

}  // namespace qelta
