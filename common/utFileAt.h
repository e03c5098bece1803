// Steps on a file by its folder's descriptor and its own, shared by the writer lock and the
// rewrite.
#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

// The folder part and the last part of a resolved path.
std::string FolderOf(const std::string& resolved);
std::string BaseOf(const std::string& resolved);
bool SameInode(const struct stat& a, const struct stat& b);
// A new open file description of the file open at `fd` (`base` in `folder`): through /proc where
// it is mounted, else by its name, checked to be the same file. -1 with errno on failure.
int ReopenFile(int fd, int folder, const std::string& base, int flags);
// Copies every extended attribute of the file at `from` (its ACL among them) to the file at `to`;
// throws, naming `fileName`, when one that must not be lost cannot be kept.
void CopyExtendedAttributes(int from, int to, const std::string& fileName);
// Makes writes beyond the file size limit fail with EFBIG instead of ending the program.
void IgnoreFileSizeSignal();
// ResolveLinks of each file, side by side.
std::vector<std::string> ResolveAll(const std::vector<std::string>& files);
// BackupNameClashes and ClearDeadRunNames of files already resolved.
std::vector<std::pair<size_t, size_t>>
BackupNameClashesOf(const std::vector<std::string>& resolved);
std::vector<std::string> ClearDeadRunNamesOf(const std::vector<std::string>& resolved);
