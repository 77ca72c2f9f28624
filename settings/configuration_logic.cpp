#include "settings/configuration_logic.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "settings/setting_keys.h"
#include "settings/value_encoding.h"

namespace qelta {
namespace {

using C = ConfigControl;

constexpr char kFoundText[] = "UPS обнаружен подключенным к порту ";
constexpr char kNotFoundText[] =
    "UPS не обнаружен ни на одном порту.\r\n"
    "Проверьте подключение UPS к компьютеру.\r\n"
    "Возможно, порт, к которому подключен UPS, используется другой программой.";

constexpr char kSoundDialogTitle[] = "Выберите звук";
constexpr char kWaveFilter[] = "Wave (*.wav)";
constexpr char kAllFilesFilter[] = "Все файлы (*)";
constexpr char kWaveSuffix[] = "wav";

int Index(ConfigControl c) {
  return static_cast<int>(c);
}

// Seconds times 1000 as 32-bit arithmetic gives it.
int32_t Milliseconds(int32_t seconds) {
  return static_cast<int32_t>(static_cast<uint32_t>(seconds) * 1000u);
}

int32_t ChoiceSeconds(int index) {
  return IntervalChoices[static_cast<size_t>(index)].seconds;
}

}  // namespace

SpinRange SpinRangeOf(ConfigControl control) {
  if (control == C::SenseBatteryPercentValue) return {15, 90, 15};
  return {5, 3600, 5};  // SenseTime, SenseShutdownCountdown
}

int32_t SpinTextValue(const std::string& text, const SpinRange& range) {
  return DecodeInteger(text).value_or(range.min);
}

std::string UnquoteSoundPath(std::string path) {
  if (!path.empty() && path.front() == '"') path.erase(0, 1);
  if (!path.empty() && path.back() == '"') path.pop_back();
  return path;
}

std::string QuoteChosenSoundPath(const std::string& path) {
  if (path.find(' ') == std::string::npos || path.starts_with('"')) return path;
  return '"' + path + '"';
}

ConfigControls::ConfigControls() {
  enabled.fill(true);
  selected.fill(-1);
  for (const ConfigControl spin :
       {C::SenseTime, C::SenseBatteryPercentValue, C::SenseShutdownCountdown}) {
    text[Index(spin)] = std::to_string(SpinRangeOf(spin).initial);
  }
  text[Index(C::PostURL)] = kSamplePostUrl;
}

namespace {

// A store whose write failures are kept, not thrown: the first one, for all stores that share
// `failure`. Reads go to the store as they are.
class FailureKeepingSettings : public Settings {
 public:
  FailureKeepingSettings(Settings& store, std::optional<StoreError>& failure)
      : store_(store), failure_(failure) {}
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) override {
    return store_.ReadString(section, key, def);
  }
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) override {
    return store_.ReadInteger(section, key, def);
  }
  bool ReadBool(const std::string& section, const std::string& key, bool def) override {
    return store_.ReadBool(section, key, def);
  }
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    Keep([&] { store_.WriteString(section, key, value); });
  }
  void WriteInteger(const std::string& section, const std::string& key, int32_t value) override {
    Keep([&] { store_.WriteInteger(section, key, value); });
  }
  void WriteBool(const std::string& section, const std::string& key, bool value) override {
    Keep([&] { store_.WriteBool(section, key, value); });
  }
  void DeleteValue(const std::string& section, const std::string& key) override {
    Keep([&] { store_.DeleteValue(section, key); });
  }

 private:
  template <typename Write>
  void Keep(Write&& write) {
    try {
      write();
    } catch (const StoreError& e) {
      if (!failure_) failure_.emplace(e);
    }
  }

  Settings& store_;
  std::optional<StoreError>& failure_;
};

// What the user is told when the dialog's values cannot be stored.
std::string StoreFailureText(const StoreError& e) {
  if (e.path().empty()) return e.what();
  return "Невозможно сохранить настройки в файл " + e.path() + ": " + e.reason() + ".";
}

}  // namespace

ConfigurationLogic::ConfigurationLogic(const ConfigurationDependencies& deps)
    : deps_(deps), settings_(&deps_.settings), autorun_(&deps_.autorun) {}

void ConfigurationLogic::Fill() {
  std::optional<StoreError> failure;
  FailureKeepingSettings settings(deps_.settings, failure);
  FailureKeepingSettings autorun(deps_.autorun, failure);
  settings_ = &settings;
  autorun_ = &autorun;
  struct Restore {
    ConfigurationLogic& logic;
    ~Restore() {
      logic.settings_ = &logic.deps_.settings;
      logic.autorun_ = &logic.deps_.autorun;
    }
  } restore{*this};
  FillControls();
  if (failure) deps_.boxes.ShowError(QString::fromStdString(StoreFailureText(*failure)));
}

void ConfigurationLogic::FillControls() {
  Settings& s = *settings_;
  // 1. The battery group's check boxes.
  PutChecked(C::SensePlaySound, s.ReadBool(kSense, kBatteryPlaySound, false));
  PutChecked(C::SenseShutdown, s.ReadBool(kSense, kBatteryShutdown, true));
  PutChecked(C::SenseBattery, s.ReadBool(kSense, kBattery, false));
  PutChecked(C::SenseBatteryPercent, s.ReadBool(kSense, kBatteryPercent, false));
  // 2. The spin fields, clamped into their ranges.
  PutSpin(C::SenseTime, s.ReadInteger(kSense, kBatteryTime, 15));
  PutSpin(C::SenseBatteryPercentValue, s.ReadInteger(kSense, kBatteryPercentValue, 60));
  PutSpin(C::SenseShutdownCountdown, s.ReadInteger(kSense, kBatteryShutdownCountdown, 60));
  // 3. The sound file.
  PutText(C::SenseSound, s.ReadString(kSense, kBatterySound, ""));
  // 4. The port: the first entry, or the one whose text equals the stored port exactly.
  SelectedRef(C::Port) = 0;
  for (size_t i = 0; i < kPortChoices.size(); ++i) {
    if (s.ReadString(kSettings, kPort, "COM1") == kPortChoices[i]) {
      SelectedRef(C::Port) = static_cast<int>(i);
      break;
    }
  }
  // 5. The poll interval.
  SelectInterval(C::Interval, s.ReadInteger(kSettings, kInterval, 10));
  // 6. The general check boxes.
  PutChecked(C::CloseInformationOnDeactivateCheckbox,
             s.ReadBool(kSettings, kCloseInformationOnDeactivate, true));
  PutChecked(C::PopupBaloonIn2SecsCheckBox, s.ReadBool(kSettings, kPopupBaloonIn2Secs, true));
  PutChecked(C::WarnOnModeChangeCheckbox, s.ReadBool(kSettings, kWarnOnModeChange, true));
  // 7. The report.
  PutChecked(C::PerformPost, s.ReadBool(kPost, kPerform, false));
  PutText(C::PostURL, s.ReadString(kPost, kUrl, kSamplePostUrl));
  // 8. The report interval.
  SelectInterval(C::PostInterval, s.ReadInteger(kPost, kInterval, 60));
  // 9. Statistics and the start at log-on.
  PutChecked(C::CatchStats, s.ReadBool(kStats, kEnabled, true));
  PutChecked(C::AutoRun, !autorun_->ReadString(kRun, kAutorunValue, "").empty());
  // 10. The final enabled states; the five boxes' states are stored.
  for (const ConfigControl box : {C::PerformPost, C::SenseBattery, C::SenseBatteryPercent,
                                  C::SensePlaySound, C::SenseShutdown}) {
    ClickHandler(box);
  }
}

void ConfigurationLogic::PutChecked(ConfigControl box, bool checked) {
  if (CheckedRef(box) == checked) return;
  CheckedRef(box) = checked;
  ClickHandler(box);
}

void ConfigurationLogic::PutSpin(ConfigControl field, int32_t value) {
  const SpinRange range = SpinRangeOf(field);
  PutText(field, std::to_string(std::clamp(value, range.min, range.max)));
}

void ConfigurationLogic::PutText(ConfigControl field, const std::string& text) {
  if (TextRef(field) == text) return;
  TextRef(field) = text;
  ChangeHandler(field);
}

void ConfigurationLogic::SelectInterval(ConfigControl list, int32_t seconds) {
  for (size_t i = 0; i < IntervalChoices.size(); ++i) {
    if (IntervalChoices[i].seconds == seconds) {
      SelectedRef(list) = static_cast<int>(i);
      return;
    }
  }
}

void ConfigurationLogic::Click(ConfigControl box, bool checked) {
  CheckedRef(box) = checked;
  ClickHandler(box);
}

void ConfigurationLogic::ChangeText(ConfigControl field, const std::string& text) {
  TextRef(field) = text;
  ChangeHandler(field);
}

void ConfigurationLogic::ChooseEntry(ConfigControl list, int index) {
  const size_t count = list == C::Port ? kPortChoices.size() : IntervalChoices.size();
  if (index < 0 || static_cast<size_t>(index) >= count) return;
  SelectedRef(list) = index;
  ListChangeHandler(list);
}

void ConfigurationLogic::ClickHandler(ConfigControl box) {
  Settings& s = *settings_;
  const bool checked = CheckedRef(box);
  switch (box) {
    case C::CloseInformationOnDeactivateCheckbox:
      s.WriteBool(kSettings, kCloseInformationOnDeactivate, checked);
      break;
    case C::PopupBaloonIn2SecsCheckBox:
      s.WriteBool(kSettings, kPopupBaloonIn2Secs, checked);
      break;
    case C::WarnOnModeChangeCheckbox:
      s.WriteBool(kSettings, kWarnOnModeChange, checked);
      break;
    case C::CatchStats:
      s.WriteBool(kStats, kEnabled, checked);
      break;
    case C::AutoRun:
      if (checked) {
        autorun_->WriteString(kRun, kAutorunValue, deps_.executable_path);
      } else {
        autorun_->DeleteValue(kRun, kAutorunValue);
      }
      break;
    case C::PerformPost:
      s.WriteBool(kPost, kPerform, checked);
      ApplyEnablingRules();
      break;
    case C::SenseBattery:
    case C::SenseBatteryPercent:
      s.WriteBool(kSense, box == C::SenseBattery ? kBattery : kBatteryPercent, checked);
      ApplyEnablingRules();
      ClickHandler(C::SensePlaySound);
      ClickHandler(C::SenseShutdown);
      break;
    case C::SenseShutdown:
      s.WriteBool(kSense, kBatteryShutdown, checked);
      ApplyEnablingRules();
      break;
    case C::SensePlaySound:
      s.WriteBool(kSense, kBatteryPlaySound, checked);
      ApplyEnablingRules();
      break;
    default:
      break;
  }
}

void ConfigurationLogic::ChangeHandler(ConfigControl field) {
  Settings& s = *settings_;
  const std::string& text = TextRef(field);
  switch (field) {
    case C::SenseTime:
      s.WriteInteger(kSense, kBatteryTime, SpinTextValue(text, SpinRangeOf(field)));
      break;
    case C::SenseBatteryPercentValue:
      s.WriteInteger(kSense, kBatteryPercentValue, SpinTextValue(text, SpinRangeOf(field)));
      break;
    case C::SenseShutdownCountdown:
      s.WriteInteger(kSense, kBatteryShutdownCountdown, SpinTextValue(text, SpinRangeOf(field)));
      break;
    case C::SenseSound:
      s.WriteString(kSense, kBatterySound, text);
      break;
    case C::PostURL:
      s.WriteString(kPost, kUrl, text);
      break;
    default:
      break;
  }
}

void ConfigurationLogic::ListChangeHandler(ConfigControl list) {
  Settings& s = *settings_;
  const int index = SelectedRef(list);
  switch (list) {
    case C::Port:
      s.WriteString(kSettings, kPort, kPortChoices[static_cast<size_t>(index)]);
      break;
    case C::Interval: {
      s.WriteInteger(kSettings, kInterval, ChoiceSeconds(index));
      // The next poll comes one full new period from now.
      Timer& timer = deps_.update_timer;
      timer.SetInterval(Milliseconds(s.ReadInteger(kSettings, kInterval, 30)));
      timer.SetEnabled(false);
      timer.SetEnabled(true);
      break;
    }
    case C::PostInterval:
      s.WriteInteger(kPost, kInterval, ChoiceSeconds(index));
      deps_.reset_post_counter();
      break;
    default:
      break;
  }
}

void ConfigurationLogic::ApplyEnablingRules() {
  auto enable = [this](std::initializer_list<ConfigControl> controls, bool on) {
    for (const ConfigControl c : controls) controls_.enabled[Index(c)] = on;
  };
  const bool battery = CheckedRef(C::SenseBattery);
  const bool percent = CheckedRef(C::SenseBatteryPercent);
  const bool warning = battery || percent;
  enable({C::PostURL, C::PostInterval}, CheckedRef(C::PerformPost));
  enable({C::SenseLabel1, C::SenseLabel2}, battery);
  enable({C::SenseLabel4, C::SenseBatteryPercentValue, C::SenseLabel5}, percent);
  enable({C::SenseTime, C::SensePlaySound, C::SenseShutdown}, warning);
  enable({C::SenseSound, C::SenseSoundPreview}, CheckedRef(C::SensePlaySound) && warning);
  enable({C::SenseShutdownCountdown, C::SenseLabel3}, CheckedRef(C::SenseShutdown) && warning);
}

void ConfigurationLogic::SearchClick() {
  // Whatever happens, the override goes when the search ends: after the message box, or when
  // a store failure ends the handler.
  struct SearchEnd {
    ConfigurationDependencies& deps;
    ~SearchEnd() {
      deps.busy.SetBusy(false);
      deps.search.ClearOverride();
    }
  } search_end{deps_};

  deps_.busy.SetBusy(true);
  PortSearch& search = deps_.search;
  const PortSearchResult result = search.Run(search.ConfigurationOrder());
  deps_.busy.SetBusy(false);
  if (!result.found) {
    std::string text = kNotFoundText;
    const std::string hint = deps_.ups_access_hint ? deps_.ups_access_hint() : std::string();
    if (!hint.empty()) text += "\r\n" + hint;
    deps_.boxes.ShowError(QString::fromStdString(text));
    return;
  }
  const auto entry = std::find(kPortChoices.begin(), kPortChoices.end(), result.port_name);
  if (entry != kPortChoices.end()) {
    SelectedRef(C::Port) = static_cast<int>(entry - kPortChoices.begin());
    ListChangeHandler(C::Port);
  }
  std::string text = kFoundText + std::string(PortChoiceText(result.port_name.c_str()));
  if (!result.bound_device.empty()) text += " (" + result.bound_device + ")";
  deps_.boxes.ShowInformation(QString::fromUtf8(text + "."));
}

void ConfigurationLogic::SenseSoundPreviewClick() {
  // The stored path, not the field's text.
  const std::string path = UnquoteSoundPath(deps_.settings.ReadString(kSense, kBatterySound, ""));
  if (!path.empty()) deps_.sound.PlayFileAsync(QString::fromUtf8(path));
}

void ConfigurationLogic::SenseSoundBrowseClick() {
  FileOpenRequest request;
  request.title = QString::fromUtf8(kSoundDialogTitle);
  request.filters = {QString::fromUtf8(kWaveFilter), QString::fromUtf8(kAllFilesFilter)};
  request.default_suffix = QString::fromUtf8(kWaveSuffix);
  const std::string current = UnquoteSoundPath(TextRef(C::SenseSound));
  if (!current.empty()) {
    const std::filesystem::path folder = std::filesystem::path(current).parent_path();
    std::error_code error;
    if (!folder.empty() && std::filesystem::is_directory(folder, error)) {
      request.start_folder = QString::fromStdString(folder.string());
    }
  }
  const QString chosen = deps_.files.ChooseFile(request);
  if (chosen.isEmpty()) return;
  PutText(C::SenseSound, QuoteChosenSoundPath(chosen.toStdString()));
}

std::array<std::string, kPortChoices.size()> ConfigurationLogic::PortDevices() {
  std::array<std::string, kPortChoices.size()> devices;
  for (size_t i = 0; i < kPortChoices.size(); ++i) {
    devices[i] = deps_.search.PortDevice(kPortChoices[i]);
  }
  return devices;
}

}  // namespace qelta
