#pragma once

// The user-visible texts that name the operating system. Every such text lives here and only
// here, so that a build for another system gives its own wording in its own copy of this file;
// these are the Linux desktop's. The texts are UTF-8.

namespace qelta::platform_texts {

// The balloon at the end of the battery countdown.
inline constexpr char kForcedShutdownNow[] =
    "Сейчас произойдет форсированное завершение работы системы.";

// The configuration dialog's `AutoRun` check box: its caption and its hint.
inline constexpr char kAutoRunCaption[] = "Запускать при входе в систему";
inline constexpr char kAutoRunHint[] = "Запускать QELTA MONITOR автоматически при входе в систему.";

// The installer window's `AutoRun` check box.
inline constexpr char kInstallerAutoRunCaption[] =
    "Автоматически запускать программу при входе в систему";

}  // namespace qelta::platform_texts
