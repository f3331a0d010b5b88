// Message files: the recycle folder beside the program, and the ".eml" files
// that hold a message's lines as the server delivered them. A file is on
// disk whole (written, flushed, closed) or not at all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalmuro {

// The folder name of the recycle folder, in the data folder.
inline constexpr const char* kRecycleFolderName = "Cestino";

// IncludeBackslash(DataDir()) + "Cestino".
std::string RecycleFolder();

// Every line followed by CR LF, the last one included; nothing else.
std::string MessageFileContent(const std::vector<std::string>& lines);

// Whether path names a folder (a link to one included).
bool FolderExists(const std::string& path);
// Whether anything, a dangling link included, has this name.
bool PathExists(const std::string& path);

// Creates folder/<name><suffix>.eml, replacing nothing: the suffix is empty
// when that name is free, else "_2", "_3"... the first free one. baseName is
// Windows-1252 and becomes UTF-8 on disk; should the file system still find
// the name too long, its end is cut step by step (the first
// minimumNameLength characters always stay). The content is written whole,
// flushed to disk and the file closed, and the folder entry is flushed too.
// Returns 0 and the path, or the errno of the failure, in which case
// nothing that was created is left behind.
int WriteNewMessageFile(const std::string& folder, const std::string& baseName,
                        std::string_view content, std::string& path, size_t minimumNameLength = 15);
// The write-failure seam of these writes is SetWriteFailureForTesting
// (mail/atomic_file.h).

}  // namespace kalmuro
