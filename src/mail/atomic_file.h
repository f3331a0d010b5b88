// Whole-file reads and crash-safe whole-file writes for the settings file and
// the rule lists.
#pragma once

#include <string>
#include <string_view>

namespace kalmuro {

// Writes content to a new temporary file in path's folder, flushes it to disk
// and renames it over path. The old file's permissions are kept (a new file
// gets 0666 less the umask); a symbolic link is written through to its target.
// An existing file that may not be written (EACCES; always when it has no
// write bit) is left alone, as a direct write would be refused. Returns 0 on success or the errno of the failure; on failure path is left as
// it was and the temporary file is removed.
int WriteFileAtomically(const std::string& path, std::string_view content);

// Creates path as a new file (never replacing anything: EEXIST when it
// exists), writes content, flushes file and folder entry to disk and closes
// it. Returns 0, or the errno of the failure; a file it created and could not
// finish is removed again.
int WriteNewFile(const std::string& path, std::string_view content);

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
