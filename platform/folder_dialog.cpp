#include "platform/folder_dialog.h"

#include <QFileDialog>

namespace qelta {

QString QtFolderDialog::ChooseFolder(const QString& title, const QString& start_folder) {
  return QFileDialog::getExistingDirectory(owner_, title, start_folder, QFileDialog::ShowDirsOnly);
}

}  // namespace qelta
