#pragma once

#include <QString>
#include <QStringList>

namespace qelta {

// What a file-open dialog is asked to show.
struct FileOpenRequest {
  QString title;
  // Filters in the order offered, each "Description (*.ext)"; the first one is preselected.
  QStringList filters;
  // Added to a typed name that has no extension.
  QString default_suffix;
  // The folder shown first; empty for the dialog's own choice.
  QString start_folder;
};

// A file-open dialog that accepts only existing files in existing folders.
class FileOpenDialog {
 public:
  virtual ~FileOpenDialog() = default;
  // The full path of the chosen file; empty when the user cancelled.
  virtual QString ChooseFile(const FileOpenRequest& request) = 0;
};

// QFileDialog, modal, resizable.
class QtFileOpenDialog : public FileOpenDialog {
 public:
  QString ChooseFile(const FileOpenRequest& request) override;
};

}  // namespace qelta
