#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/busy_indicator.h"
#include "platform/file_open_dialog.h"
#include "platform/message_boxes.h"
#include "platform/sound_player.h"
#include "platform/timer.h"
#include "settings/port_search.h"
#include "settings/settings.h"

namespace qelta {

// The entries of both interval lists: a text and the seconds stored for it.
struct IntervalChoice {
  const char* text;
  int32_t seconds;
};
inline constexpr std::array<IntervalChoice, 3> IntervalChoices = {{
    {"3 секунды", 3},
    {"10 секунд", 10},
    {"30 секунд", 30},
}};

// The entries of the port list.
inline constexpr std::array<const char*, 10> kPortChoices = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                                             "COM6", "COM7", "COM8", "USB",  "NET"};
// What the port list shows for an entry: "Сеть" for the UPS served over the network ("NET"),
// the stored text itself for the others.
inline const char* PortChoiceText(const char* port) {
  return std::string_view(port) == "NET" ? "Сеть" : port;
}

// The report address the dialog shows until one is stored.
inline constexpr char kSamplePostUrl[] = "example.com/catch_from_ups?some=param";

// The controls of the configuration dialog, in tab order (labels where they stand).
enum class ConfigControl {
  Label1,
  Label2,
  Port,
  Search,
  Label8,
  Interval,
  CloseInformationOnDeactivateCheckbox,
  PopupBaloonIn2SecsCheckBox,
  CatchStats,
  AutoRun,
  WarnOnModeChangeCheckbox,
  SenseBattery,
  SenseLabel1,
  SenseTime,
  SenseLabel2,
  SenseBatteryPercent,
  SenseLabel4,
  SenseBatteryPercentValue,
  SenseLabel5,
  SensePlaySound,
  SenseSound,
  SenseSoundPreview,
  SenseShutdown,
  Label3,
  SenseShutdownCountdown,
  SenseLabel3,
  PerformPost,
  PostURL,
  PostInterval,
  CloseButton,
};
inline constexpr int kConfigControlCount = static_cast<int>(ConfigControl::CloseButton) + 1;

// The range and the initial value of a whole-number spin field.
struct SpinRange {
  int32_t min;
  int32_t max;
  int32_t initial;
};
SpinRange SpinRangeOf(ConfigControl control);

// The value a spin field's text stands for: the text as a whole number, taken as it stands
// (a number beyond the range included); the field's minimum for an empty or non-numeric text.
int32_t SpinTextValue(const std::string& text, const SpinRange& range);

// A sound path without one double quote at its start and one at its end, each end on its own.
std::string UnquoteSoundPath(std::string path);
// A chosen sound file as the field takes it: in double quotes when the path holds a blank and
// does not already begin with a double quote.
std::string QuoteChosenSoundPath(const std::string& path);

// The state of the dialog's controls. The dialog keeps no copy of the settings: this is what
// the controls show.
struct ConfigControls {
  ConfigControls();

  std::array<bool, kConfigControlCount> checked{};  // check boxes
  std::array<bool, kConfigControlCount> enabled{};
  std::array<int, kConfigControlCount> selected{};      // lists: entry index, -1 for none
  std::array<std::string, kConfigControlCount> text{};  // spin and text fields

  bool Checked(ConfigControl c) const { return checked[static_cast<int>(c)]; }
  bool Enabled(ConfigControl c) const { return enabled[static_cast<int>(c)]; }
  int Selected(ConfigControl c) const { return selected[static_cast<int>(c)]; }
  const std::string& Text(ConfigControl c) const { return text[static_cast<int>(c)]; }
};

// What the dialog works with besides its controls.
struct ConfigurationDependencies {
  Settings& settings;
  // The start-up store, holding `Run`/"QELTA MONITOR".
  Settings& autorun;
  // The main window's poll timer.
  Timer& update_timer;
  // Sets the main window's report tick counter to 0.
  std::function<void()> reset_post_counter;
  SoundPlayer& sound;
  PortSearch& search;
  MessageBoxes& boxes;
  FileOpenDialog& files;
  BusyIndicator& busy;
  // The full path of the running executable.
  std::string executable_path;
  // The line that the "UPS not found" box adds when the UPS is there but cannot be opened;
  // empty when there is nothing to add.
  std::function<std::string()> ups_access_hint;
};

// The configuration dialog's behaviour without a display: its controls' states, the handlers
// that store each change at once, the enabling rules, the filling, the port search and the
// sound's browse and preview. A window shows the states and forwards the user's changes.
//
// Every handler changes the control first and then stores: a store failure (StoreError) ends
// the handler, and the control keeps the state the user gave it.
class ConfigurationLogic {
 public:
  explicit ConfigurationLogic(const ConfigurationDependencies& deps);

  // Fills the controls from the stores (once, when the dialog is created). Putting a value
  // that differs from a control's initial state runs that control's handler. A store that
  // cannot be written does not stop the filling: every control still shows its stored value,
  // and the first such failure is told once, naming the file and the system's reason.
  void Fill();

  const ConfigControls& Controls() const { return controls_; }

  // The user's changes.
  void ChooseEntry(ConfigControl list, int index);                // Port, Interval, PostInterval
  void Click(ConfigControl box, bool checked);                    // check boxes
  void ChangeText(ConfigControl field, const std::string& text);  // spin and text fields
  void SearchClick();
  void SenseSoundPreviewClick();
  void SenseSoundBrowseClick();

  // The device each port of the port list opens now (empty for USB), for the entries' hints.
  std::array<std::string, kPortChoices.size()> PortDevices();

 private:
  bool& CheckedRef(ConfigControl c) { return controls_.checked[static_cast<int>(c)]; }
  std::string& TextRef(ConfigControl c) { return controls_.text[static_cast<int>(c)]; }
  int& SelectedRef(ConfigControl c) { return controls_.selected[static_cast<int>(c)]; }

  void FillControls();
  // Putting a value from code: runs the handler when the value differs.
  void PutChecked(ConfigControl box, bool checked);
  void PutSpin(ConfigControl field, int32_t value);
  void PutText(ConfigControl field, const std::string& text);
  void SelectInterval(ConfigControl list, int32_t seconds);

  void ClickHandler(ConfigControl box);
  void ChangeHandler(ConfigControl field);
  void ListChangeHandler(ConfigControl list);
  void ApplyEnablingRules();

  ConfigurationDependencies deps_;
  // The stores the handlers write to: the dependencies' own, or during Fill stand-ins that
  // keep the first write failure instead of ending the handler.
  Settings* settings_;
  Settings* autorun_;
  ConfigControls controls_;
};

}  // namespace qelta
