#pragma once

#include <QComboBox>
#include <QWidget>
#include <functional>

class QLineEdit;
class QToolButton;

namespace qelta {

// A file-name field with its browse button at its right end. Tab reaches the field and then
// the button; Alt+Down in the field opens the browser as well.
class FileNameEdit : public QWidget {
  Q_OBJECT

 public:
  explicit FileNameEdit(QWidget* parent = nullptr);

  QLineEdit* Edit() const { return edit_; }
  QToolButton* BrowseButton() const { return browse_; }
  // Called when the user asks for the browser.
  void OnBrowse(std::function<void()> browse) { browse_handler_ = std::move(browse); }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* edit_;
  QToolButton* browse_;
  std::function<void()> browse_handler_;
};

// A drop-down list that tells, just before its list opens, so its entries' hints can be
// brought up to date.
class PortList : public QComboBox {
  Q_OBJECT

 public:
  using QComboBox::QComboBox;
  void OnPopup(std::function<void()> about_to_open) { about_to_open_ = std::move(about_to_open); }
  void showPopup() override;

 private:
  std::function<void()> about_to_open_;
};

// A small square button picture: a right-pointing triangle (play) in the text colour.
QIcon PlayGlyph(const QColor& colour, int size);

}  // namespace qelta
