#include "platform/ui_script.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace qelta {
namespace {

// How long a shown window stays before the script clicks its buttons.
constexpr int kClickDelayMs = 300;

QString OneLine(QString text) {
  return text.replace(QLatin1Char('\n'), QStringLiteral("\\n"))
      .replace(QLatin1Char('\t'), QLatin1Char(' '));
}

QString IconName(QMessageBox::Icon icon) {
  switch (icon) {
    case QMessageBox::Question:
      return QStringLiteral("question");
    case QMessageBox::Information:
      return QStringLiteral("information");
    case QMessageBox::Warning:
      return QStringLiteral("warning");
    case QMessageBox::Critical:
      return QStringLiteral("error");
    default:
      return QStringLiteral("none");
  }
}

struct StandardButtonName {
  QMessageBox::StandardButton button;
  const char* name;
};
constexpr StandardButtonName kStandardButtons[] = {
    {QMessageBox::Yes, "Yes"},
    {QMessageBox::No, "No"},
    {QMessageBox::Ok, "Ok"},
    {QMessageBox::Cancel, "Cancel"},
};

}  // namespace

void UiScript::StartFromEnvironment() {
  const QString script = qEnvironmentVariable("QELTA_UI_SCRIPT");
  if (script.isEmpty() || qApp == nullptr) return;
  std::vector<std::pair<QString, QStringList>> rules;
  QFile file(script);
  if (file.open(QIODevice::ReadOnly)) {
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
      const qsizetype tab = line.indexOf(QLatin1Char('\t'));
      if (tab <= 0) continue;
      rules.emplace_back(line.left(tab), line.mid(tab + 1).trimmed().split(QLatin1Char(';')));
    }
  }
  qApp->installEventFilter(new UiScript(script + QStringLiteral(".log"), std::move(rules)));
}

UiScript::UiScript(QString log_path, std::vector<std::pair<QString, QStringList>> rules)
    : QObject(qApp), log_path_(std::move(log_path)), rules_(std::move(rules)) {}

bool UiScript::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched->isWidgetType()) {
    auto* widget = static_cast<QWidget*>(watched);
    const Qt::WindowType type = widget->windowType();
    if (widget->isWindow() && type != Qt::Popup && type != Qt::ToolTip) Shown(widget);
  }
  return QObject::eventFilter(watched, event);
}

void UiScript::Record(const QStringList& fields) const {
  QFile log(log_path_);
  if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) return;
  // One write per line, so that lines of several processes do not mix.
  log.write((QString::number(getpid()) + QLatin1Char('\t') + fields.join(QLatin1Char('\t')) +
             QLatin1Char('\n'))
                .toUtf8());
}

void UiScript::Shown(QWidget* window) {
  QStringList fields{QStringLiteral("shown"),
                     QString::fromLatin1(window->metaObject()->className()), window->objectName(),
                     window->windowTitle(),
                     window->parentWidget() != nullptr ? window->parentWidget()->objectName()
                                                       : QStringLiteral("-")};
  QString text;
  if (auto* box = qobject_cast<QMessageBox*>(window)) {
    QStringList buttons;
    for (const StandardButtonName& standard : kStandardButtons) {
      if (box->button(standard.button) != nullptr) buttons << QString::fromLatin1(standard.name);
    }
    text = box->text();
    fields << IconName(box->icon()) << buttons.join(QLatin1Char('|')) << OneLine(text);
  }
  Record(fields);

  for (const auto& [pattern, buttons] : rules_) {
    if (!window->objectName().contains(pattern) && !window->windowTitle().contains(pattern) &&
        !text.contains(pattern)) {
      continue;
    }
    QPointer<QWidget> target(window);
    QTimer::singleShot(kClickDelayMs, this, [this, target, buttons] {
      for (const QString& button : buttons) {
        if (target.isNull()) return;
        Click(target, button);
      }
    });
    return;
  }
}

void UiScript::Click(QWidget* window, const QString& button) {
  QAbstractButton* target = nullptr;
  if (auto* box = qobject_cast<QMessageBox*>(window)) {
    for (const StandardButtonName& standard : kStandardButtons) {
      if (button == QLatin1String(standard.name)) target = box->button(standard.button);
    }
  }
  if (target == nullptr) target = window->findChild<QAbstractButton*>(button);
  Record({QStringLiteral("click"), window->objectName(), button,
          target != nullptr ? QStringLiteral("found") : QStringLiteral("missing")});
  if (target != nullptr) target->click();
}

}  // namespace qelta
