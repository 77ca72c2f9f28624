#pragma once

// Texts that name the operating system. On Linux they speak of logging in to the system where
// the Windows wording speaks of starting Windows; a Windows build gives its own wording here.

namespace qelta {

// The configuration dialog's start-at-log-on check box and its hint.
inline constexpr char kAutoRunCaption[] = "Запускать при входе в систему";
inline constexpr char kAutoRunHint[] = "Запускать QELTA MONITOR автоматически при входе в систему.";

// The installer's autostart check box.
inline constexpr char kInstallAutoRunCaption[] =
    "Автоматически запускать программу при входе в систему";

}  // namespace qelta
