// Where the program keeps its files and which save folder it proposes.
//
// The start folder is the current folder, as long as the program can write
// there and it is neither the file-system root nor the home folder: a program
// started from a desktop menu or a file manager has the home folder as its
// current folder, and one started from a read-only place cannot keep
// "soft.dat". Then the per-user data folder holds "soft.dat", the INI file
// and tmp/, and the proposed save folder is "Morvane" in the documents folder.
#pragma once

#include <QString>

namespace tamblin {

struct StartFolders {
    QString appDir;   // "soft.dat" and "下载器扩展设置.ini" live here; ends in the separator
    QString savePath; // the save folder proposed before the history is read; ends in the separator
};

// The rule over the folders given (each with or without a trailing
// separator). The data folder and the proposed "Morvane" folder are created
// when missing; a documents folder that is unknown or cannot be created leaves
// the save path at the start folder.
StartFolders ChooseStartFolders(const QString &currentDir, const QString &homeDir, const QString &appDataDir,
                                const QString &documentsDir);

// The rule on this machine, for the window and tamblin-cli alike. The data
// folder follows the application name ("tamblin").
StartFolders StartFolder();

} // namespace tamblin
