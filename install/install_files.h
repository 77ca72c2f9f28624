#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace qelta {

// The file operations of the installer and the uninstaller. Each reports success; none throws.
class InstallFiles {
 public:
  virtual ~InstallFiles() = default;

  // Creates the folder with every missing parent; true when it exists afterwards.
  virtual bool MakeFolders(const std::string& path) = 0;
  // True when something (a file or a folder) is at the path.
  virtual bool Exists(const std::string& path) = 0;
  // True when both paths name one existing file.
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;
  // True when this user may create and remove files in the folder.
  virtual bool FolderWritable(const std::string& path) = 0;
  // Removes a file (or an empty folder); false when nothing was removed.
  virtual bool Remove(const std::string& path) = 0;
  // Removes a folder when it is empty.
  virtual bool RemoveEmptyFolder(const std::string& path) = 0;
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // Copies a file with its permissions over `to`, replacing a file that is there: `to` holds
  // either the old file or the whole copy, never a part of it.
  virtual bool CopyReplacing(const std::string& from, const std::string& to) = 0;
  // Writes a whole file, replacing one that is there, in the same way.
  virtual bool WriteFile(const std::string& path, std::string_view content) = 0;
  // Removes what an interrupted CopyReplacing or WriteFile of `path` left beside it: regular
  // files of this user named like their temporary files, last changed before `made_before`
  // (so that those of an installation running meanwhile stay). Returns how many went.
  virtual int RemoveStaleTemporaries(const std::string& path, std::time_t made_before) = 0;
};

// The local file system.
class LocalInstallFiles : public InstallFiles {
 public:
  bool MakeFolders(const std::string& path) override;
  bool Exists(const std::string& path) override;
  bool SameFile(const std::string& a, const std::string& b) override;
  bool FolderWritable(const std::string& path) override;
  bool Remove(const std::string& path) override;
  bool RemoveEmptyFolder(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool CopyReplacing(const std::string& from, const std::string& to) override;
  bool WriteFile(const std::string& path, std::string_view content) override;
  int RemoveStaleTemporaries(const std::string& path, std::time_t made_before) override;
};

}  // namespace qelta
