// Whole-file reads and crash-safe whole-file writes for the settings file and
// the rule lists.
#pragma once

#include <string>
#include <string_view>

namespace kalmuro {

// Writes content to a new temporary file in path's folder, flushes it to disk
// and renames it over path. The old file's permissions are kept (a new file
// is private to its owner, 0600); a symbolic link is written through to its
// target.
// An existing file that may not be written (EACCES; always when it has no
// write bit) is left alone, as a direct write would be refused. Returns 0 on success or the errno of the failure; on failure path is left as
// it was and the temporary file is removed.
int WriteFileAtomically(const std::string& path, std::string_view content);

// Creates path as a new private file (0600), never replacing anything
// (EEXIST when it exists): content is written to a temporary file in the same
// folder and flushed, and only then linked under path, so that path is whole
// or absent even when the process is killed. Returns 0, or the errno of the
// failure; nothing it created is left behind.
//
// Temporary files are hidden (".kalmuro-<pid>-<n>.tmp"); the first write of
// a run into a folder removes those left there by runs that were killed.
int WriteNewFile(const std::string& path, std::string_view content);
// The two halves of WriteNewFile, for a content that may have to try several
// names: the whole content flushed under a temporary name in folder (removed
// again on failure), then that file linked under path, never replacing
// anything. The caller removes tempPath when done.
int WriteTemporaryFile(const std::string& folder, std::string_view content,
                       std::string& tempPath);
int LinkNewName(const std::string& tempPath, const std::string& path);

// Removes the temporary files that writes cut short by a kill left in
// folder: those of processes no longer running, those with this process's
// own number, and any older than a day. Call it when no write of this
// process into that folder is under way.
void RemoveStaleTemporaries(const std::string& folder);

// Reads the whole file. Returns 0, or the errno of the failure (ENOENT for a
// missing file).
int ReadWholeFile(const std::string& path, std::string& content);

// Test seam: when afterBytes >= 0, the next writes fail with EIO once that many
// bytes of content have been written; a negative value switches it off.
void SetWriteFailureForTesting(long long afterBytes);
// Test seam: when errorNumber is not 0, reading a file that exists fails with
// it; 0 switches it off.
void SetReadFailureForTesting(int errorNumber);

}  // namespace kalmuro
