#include "platform/file_open_dialog.h"

#include <QFileDialog>

namespace qelta {

QString QtFileOpenDialog::ChooseFile(const FileOpenRequest& request) {
  QFileDialog dialog(nullptr, request.title, request.start_folder);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(request.filters);
  if (!request.filters.isEmpty()) dialog.selectNameFilter(request.filters.front());
  dialog.setDefaultSuffix(request.default_suffix);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.front();
}

}  // namespace qelta
