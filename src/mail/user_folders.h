// Where a copy of the program keeps its files. A copy in a folder of its own
// (the build tree, an unpacked copy) keeps them beside itself; an installed
// copy keeps the settings and the rule lists in the user's configuration
// folder and the recycle folder in the user's data folder, as the desktop's
// base-directory rules place them.
#pragma once

#include <string>
#include <vector>

namespace kalmuro {

// The identity of the program on the desktop: the name of its menu entry,
// its icon, its software-centre record and its login entry.
inline constexpr const char* kDesktopId = "io.github.quorvane.Kalmuro";

// The files an installed copy keeps in the configuration folder.
inline constexpr const char* kConfigFileNames[] = {"kalmuro.ini", "Mittenti.txt",
                                                   "MittentiOk.txt", "Oggetti.txt",
                                                   "OggettiOk.txt"};

struct TFolderChoice {
    std::string Config;  // settings and rule lists, ending with "/"
    std::string Data;    // the folder that holds "Cestino", ending with "/"
    bool Installed = false;
    bool operator==(const TFolderChoice&) const = default;
};

// The base folder a variable names, or home + fallback: a value that is
// unset, empty or relative does not count. Empty when neither is usable.
std::string BaseFolder(const char* value, const std::string& home, const char* fallback);

// The choice for a program in programDir (ending with "/"). It counts as
// installed when that folder may not be written, or when it is the folder
// the build installs programs to (root may write /usr/bin, but settings do
// not belong there). An installed copy whose user has no usable home keeps
// its program's folder too, which is all there is.
TFolderChoice ChooseFolders(const std::string& programDir, bool programDirWritable,
                            const std::string& installBinDir, const char* xdgConfigHome,
                            const char* xdgDataHome, const std::string& home);

// The choice for this process, made once from /proc/self/exe and the
// environment.
const TFolderChoice& DefaultFolders();

// The running program's own path (/proc/self/exe).
std::string ProgramPath();

// The user's home: $HOME when absolute, else the password database's entry.
std::string UserHome();
// $XDG_CONFIG_HOME, else ~/.config; empty without a home.
std::string ConfigHome();

// Creates path and every missing folder above it, private to the user
// (0700); existing ones are left as they are. Returns 0, or the errno of
// the first failure (ENOTDIR when something other than a folder is there).
int MakePrivateFolders(const std::string& path);

// Moves each of names from folder `from` to folder `to` once: a file already
// in `to` is never replaced (the one in `from` then stays where it is), and
// a file is removed from `from` only once it is whole in `to`. Returns the
// names left behind because `to` already had them, or because the move
// failed.
std::vector<std::string> MoveEarlierFiles(const std::string& from, const std::string& to,
                                          const std::vector<std::string>& names);

}  // namespace kalmuro
