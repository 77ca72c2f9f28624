#pragma once

// Names of the sections and keys of the two settings stores. Defaults are not kept here: every
// reader passes its own default at the place where it reads, and readers of one key may use
// different defaults.

namespace qelta {

// Sections of SettingsStore.
inline constexpr char kSettings[] = "Settings";
inline constexpr char kSense[] = "Sense";
inline constexpr char kPost[] = "POST";
inline constexpr char kStats[] = "Stats";
// Device paths that stand for the serial port names "COM1".."COM8" (key = the port name).
inline constexpr char kPorts[] = "Ports";

// Section `Settings`.
inline constexpr char kPort[] = "Port";
inline constexpr char kInterval[] = "Interval";  // also in section `POST`
inline constexpr char kCloseInformationOnDeactivate[] = "CloseInformationOnDeactivate";
inline constexpr char kPopupBaloonIn2Secs[] = "PopupBaloonIn2Secs";
inline constexpr char kWarnOnModeChange[] = "WarnOnModeChange";
inline constexpr char kBeeper[] = "Beeper";
inline constexpr char kInstalled[] = "Installed";
inline constexpr char kVersion[] = "Version";
inline constexpr char kInstalledTo[] = "InstalledTo";

// Section `Sense`.
inline constexpr char kBattery[] = "Battery";
inline constexpr char kBatteryTime[] = "BatteryTime";
inline constexpr char kBatteryPercent[] = "BatteryPercent";
inline constexpr char kBatteryPercentValue[] = "BatteryPercentValue";
inline constexpr char kBatteryShutdown[] = "BatteryShutdown";
inline constexpr char kBatteryShutdownCountdown[] = "BatteryShutdownCountdown";
inline constexpr char kBatteryPlaySound[] = "BatteryPlaySound";
inline constexpr char kBatterySound[] = "BatterySound";

// Section `POST` (and kInterval above).
inline constexpr char kPerform[] = "Perform";
inline constexpr char kUrl[] = "URL";

// Section `Stats`.
inline constexpr char kEnabled[] = "Enabled";

// AutorunStore: its one section and the one value in it (the command started at log-on).
inline constexpr char kRun[] = "Run";
inline constexpr char kAutorunValue[] = "QELTA MONITOR";

}  // namespace qelta
