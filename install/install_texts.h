#pragma once

// The texts, names and addresses of the installer, the uninstaller and the welcome and About
// windows.

namespace qelta {

// Message box titles.
inline constexpr char kProgramTitle[] = "QELTA MONITOR";
inline constexpr char kErrorTitle[] = "Ошибка";

// The installer window.
inline constexpr char kInstallCaptionPrefix[] = "QELTA MONITOR v";
inline constexpr char kInstallHeader[] = "Установка программы";
inline constexpr char kInstallFolderLabel[] = "Программа будет установлена в папку:";
// The same line for a program of the system registered where it is.
inline constexpr char kRegisterFolderLabel[] = "Программа будет зарегистрирована в папке:";
inline constexpr char kChoosePathCaption[] = "&Выбрать";
inline constexpr char kChoosePathDescription[] = "Выбрать папку для установки";
inline constexpr char kRunAfterInstallCaption[] = "Запустить программу после окончания установки";
inline constexpr char kInstallButtonCaption[] = "&Установить";
inline constexpr char kCancelButtonCaption[] = "Отмена";
inline constexpr char kChooseFolderTitle[] = "Выберите папку для установки";
// The folder inside the chosen one that the program always goes into.
inline constexpr char kInstallFolderName[] = "QELTA MONITOR";

// The installation's questions, messages and progress.
inline constexpr char kInstallQuestion[] =
    "Вы хотите установить программу QELTA MONITOR на ваш компьютер?";
inline constexpr char kCreatingFolder[] = "Создание папки...";
inline constexpr char kCannotCreate[] = "Невозможно создать ";
// A folder that is not a full path: the folder is put between the two texts.
inline constexpr char kNotAbsolute[] = "Невозможно установить в папку \"";
inline constexpr char kNotAbsoluteHint[] =
    "\".\nУкажите полный путь к папке: он начинается с \"/\" (или с \"~/\" для вашей домашней "
    "папки).";
// A folder whose name holds "%": no launcher can start a program there on every desktop (the
// desktop entry writes it "%%", which GLib-based desktops refuse to load).
inline constexpr char kPercentInFolder[] =
    "Невозможно установить в папку, имя которой содержит знак \"%\": ";
// A folder whose name is not UTF-8: a desktop entry cannot name it.
inline constexpr char kNotUtf8Folder[] =
    "Невозможно установить в папку, имя которой не в кодировке UTF-8: ";
inline constexpr char kChooseAnotherFolder[] = ". Выберите другую папку.";
inline constexpr char kSearchingRunning[] = "Поиск запущенной программы...";
inline constexpr char kCopying[] = "Копирование...";
inline constexpr char kCannotCopy[] = "Невозможно скопировать в ";
inline constexpr char kCreatingLaunchers[] = "Создание ярлыков...";
inline constexpr char kSearchingUps[] = "Поиск UPS QELTA: ";
inline constexpr char kUpsFound[] = "UPS обнаружен подключенным к порту ";
inline constexpr char kUpsNotFound[] =
    "UPS не обнаружен ни на одном порту.\n"
    "Проверьте подключение UPS к компьютеру.\n"
    "Возможно, порт, к которому подключен UPS, используется другой программой.\n"
    "\n"
    "После запуска программы вы сможете произвести повторный поиск UPS или выбрать порт вручную "
    "в разделе \"Конфигурация\".";
inline constexpr char kFinishing[] = "Завершение установки...";
inline constexpr char kInstallDone[] = "Установка программы QELTA MONITOR завершена.";
// Added to the done box when an earlier installation's settings were kept.
inline constexpr char kSettingsKept[] =
    "Ваши прежние настройки сохранены. Изменить их можно в разделе \"Конфигурация\".";

// The uninstaller.
inline constexpr char kUninstallQuestion[] = "Вы действительно хотите удалить QELTA MONITOR?";
inline constexpr char kUninstallDone[] = "Удаление QELTA MONITOR завершено.";
// The done box goes on with what stays, each place on a line of its own.
inline constexpr char kUninstallKept[] =
    "Ваши настройки и файл статистики сохранены; удалите их сами, если они больше не нужны.";
inline constexpr char kKeptSettings[] = "Настройки: ";
inline constexpr char kKeptStats[] = "Статистика: ";

// The arguments that the launchers and the installer give the program.
inline constexpr char kUninstallArgument[] = "/uninstall";
inline constexpr char kWelcomeArgument[] = "/welcome";

// Launchers in the applications folder, relative to it.
inline constexpr char kLauncherFolder[] = "QELTA";
inline constexpr char kProgramLauncher[] = "QELTA MONITOR.desktop";
inline constexpr char kUninstallLauncher[] = "Удалить QELTA MONITOR.desktop";
inline constexpr char kProgramLauncherName[] = "QELTA MONITOR";
inline constexpr char kUninstallLauncherName[] = "Удалить QELTA MONITOR";
// The program's icon in the icon theme.
inline constexpr char kIconName[] = "qelta-monitor";

// Whether the installed program is a copy that the installer made ("1") or the executable the
// installer ran as, registered where it is; only a copy is the uninstaller's to remove.
inline constexpr char kInstalledCopy[] = "InstalledCopy";

// The uninstall entry: its one section and its values.
inline constexpr char kUninstallSection[] = "QELTA MONITOR";
inline constexpr char kDisplayName[] = "DisplayName";
inline constexpr char kPublisher[] = "Publisher";
inline constexpr char kUninstallString[] = "UninstallString";
inline constexpr char kUrlInfoAbout[] = "URLInfoAbout";
inline constexpr char kPublisherName[] = "QELTA";

// Web pages: the maker's site and the program's own page (reserved example names).
inline constexpr char kMakerSite[] = "https://www.qelta.example/";
inline constexpr char kProgramSite[] = "https://monitor.qelta.example/";

// The welcome window.
inline constexpr char kWelcomeThanks[] = "Спасибо за Ваш выбор!";
inline constexpr char kSiteButtonCaption[] = "Сайт QELTA";
inline constexpr char kSetupButtonCaption[] = "Настроить программу";
inline constexpr char kCloseButtonCaption[] = "Закрыть";

// The About window.
inline constexpr char kAboutCaption[] = "QELTA MONITOR: О программе";
inline constexpr char kAboutVersionLine[] = "QELTA UPS MONITOR версия x.yy";
inline constexpr char kAboutVersionPlaceholder[] = "x.yy";
inline constexpr char kAboutMakerLine[] = "QELTA: источники бесперебойного питания";
inline constexpr char kAboutCreditLine[] = "Программа: мастерская QELTA MONITOR";
inline constexpr char kAboutCloseCaption[] = "&Закрыть";
// The licence, as the package's copyright file and the AppStream metadata state it.
inline constexpr char kAboutLicenseLine[] = "Лицензия: GNU GPL 3 или новее";
// What a screen reader says of the two link lines.
inline constexpr char kAboutLinkDescription[] = "Ссылка: открыть сайт в браузере";

}  // namespace qelta
