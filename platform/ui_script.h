#pragma once

#include <QObject>
#include <QString>
#include <utility>
#include <vector>

class QWidget;

namespace qelta {

// Lets a whole-program test see and answer the program's windows. It is off unless the
// environment variable QELTA_UI_SCRIPT names a script file; then:
//   - every window the program shows is recorded as one line in "<script>.log": the process
//     id, "shown", the window's class, object name, title, the owner's object name ("-" for
//     none), and for a message box its icon, buttons and text (line breaks as "\n");
//   - each line "<pattern>\t<button>[;<button>...]" of the script is a rule: when a shown
//     window's object name, title or text contains <pattern>, its buttons are clicked in the
//     given order a moment later (and recorded as "click" lines). A button is named by its
//     object name, or for a message box by its standard button: Yes, No, Ok, Cancel.
class UiScript : public QObject {
  Q_OBJECT

 public:
  // Starts watching the application's windows when the environment asks for it.
  static void StartFromEnvironment();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  UiScript(QString log_path, std::vector<std::pair<QString, QStringList>> rules);
  void Record(const QStringList& fields) const;
  void Shown(QWidget* window);
  void Click(QWidget* window, const QString& button);

  QString log_path_;
  std::vector<std::pair<QString, QStringList>> rules_;
};

}  // namespace qelta
