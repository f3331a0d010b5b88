// The settings file: an INI text file of Windows-1252 bytes with CR LF lines,
// opened afresh for every read and every write (nothing is cached, so a file
// edited by hand is seen at the next read).
//
// Every operation takes an optional last argument, the path of the file to
// use; empty means IniFileName().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kalmuro {

// Section and key names and the defaults shared by more than one reader.
inline constexpr const char* kSectionSetup = "Setup";
inline constexpr const char* kSectionAccounts = "Accounts";
inline constexpr const char* kSectionMainSetup = "MainSetup";
// "Setup": decode encoded words in UTF-8 too (default off).
inline constexpr const char* kKeyDecodeUtf8 = "DecodeUTF8";
// "Setup": send commands ahead of their answers where the server lists
// PIPELINING (default on).
inline constexpr const char* kKeyPipelining = "Pipelining";
inline constexpr const char* kKeyBackSlash = "BackSlash";
// The separator appended by IncludeBackslash when "BackSlash" is not set.
inline constexpr const char* kDefaultPathSeparator = "/";
inline constexpr const char* kIniBaseName = "kalmuro.ini";

// Values longer than this are cut when read.
inline constexpr size_t kMaxIniValueLength = 2047;

// The folder that holds the settings file and the rule lists (and the
// recycle folder, unless DataDir says otherwise). By default the folder the
// program's copy keeps them in (DefaultFolders: beside the program, or the
// user's configuration folder for an installed copy); SetHomeDir (from
// --home DIR) replaces it; an empty dir restores the default.
void SetHomeDir(const std::string& dir);
// That folder, always ending with "/".
std::string AppDir();
// Whether SetHomeDir chose the folder.
bool HomeDirGiven();
// The folder that holds the recycle folder, ending with "/": AppDir() when
// SetHomeDir chose it, else the default data folder (the program's folder,
// or the user's data folder for an installed copy).
std::string DataDir();
// AppDir() + "kalmuro.ini".
std::string IniFileName();
// path ending with the configured separator ("MainSetup"/"BackSlash", default
// "/"): the separator alone for an empty path; path unchanged when its last
// character already equals the separator.
std::string IncludeBackslash(const std::string& path);

// Typed reads. A missing file, section or key yields the default; a file that
// exists but cannot be read (a folder, no permission) raises EFOpenError
// ("Cannot open file "<path>". <reason>"), as ReadIniSection does. A value is
// stripped of blanks at both ends and of one pair of enclosing quotes, and cut
// to kMaxIniValueLength characters. The integer and Boolean reads raise
// EConvertError ("'%s' is not a valid integer value") for a value StrToInt
// rejects, an empty value that is present included. A Boolean is true when the
// low 8 bits of the integer are not all zero.
std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& path = "");
int32_t ReadIniInteger(const std::string& section, const std::string& key, int32_t defaultValue,
                       const std::string& path = "");
bool ReadIniBool(const std::string& section, const std::string& key, bool defaultValue,
                 const std::string& path = "");

// Typed writes. An existing key is replaced in place, a new key goes at the end
// of its section, a new section at the end of the file. The whole file is
// written to a temporary file in the same folder and renamed over the old one,
// so a failed write leaves the previous file intact. A refused write raises
// EIniWriteError ("Unable to write to %s" with the file path).
void WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& path = "");
void WriteIniInteger(const std::string& section, const std::string& key, int32_t value,
                     const std::string& path = "");
void WriteIniBool(const std::string& section, const std::string& key, bool value,
                  const std::string& path = "");

// Removes the section's header and entries (nothing happens when it is absent).
void EraseIniSection(const std::string& section, const std::string& path = "");

// Erases the section, then writes the entries in order, in one replacement of
// the file: the result is the file EraseIniSection followed by one
// WriteIniString per entry would give, but a failure leaves the old file whole.
void ReplaceIniSection(const std::string& section,
                       const std::vector<std::pair<std::string, std::string>>& entries,
                       const std::string& path = "");

// The number of keys in the section (0 when absent). When names or values is
// not null it is emptied and receives the key names, respectively the values
// (stripped as by ReadIniString), in file order.
int ReadIniSection(const std::string& section, std::vector<std::string>* names,
                   std::vector<std::string>* values, const std::string& path = "");

// A password-style value: stored as HexEncode(ScrambleText(key, value)) and
// read back as UnscrambleText(key, HexDecode(text)); the default passes through
// the read's two steps too.
std::string ReadIniScrambled(const std::string& section, const std::string& key,
                             const std::string& defaultValue, int32_t scrambleKey,
                             const std::string& path = "");
void WriteIniScrambled(const std::string& section, const std::string& key, const std::string& value,
                       int32_t scrambleKey, const std::string& path = "");

}  // namespace kalmuro
