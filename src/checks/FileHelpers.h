#pragma once
#include <QString>
#include <QStringList>
#include <optional>

namespace vireo {

// The path as it exists on disk: '\' and '/' both separate, and each name is matched without
// regard to letter case when no exact match exists. Empty when nothing is there.
QString resolvePath(const QString &path);

// True when a file or a folder exists at the path.
bool FileExists(const QString &path);

// The lines of a text file in code page 936 (GB18030), or UTF-8 when it starts with a UTF-8
// byte-order mark. A line ends at CR LF, at a lone CR or at a lone LF. A last line without
// terminator counts. Nothing when the file does not exist or cannot be read.
std::optional<QStringList> readTextLines(const QString &path);

// The lines of a script file, read like readTextLines but strictly: a NUL character or bytes that
// do not decode give nothing, and problem says where (line and byte offset) and what was found.
// When the file cannot be read, problem stays empty. problemLine, when given, receives the line.
std::optional<QStringList> readScriptLines(const QString &path, QString &problem, int *problemLine = nullptr);

// The text a text box receives from a file: every line followed by CR LF. When nothing exists at
// the path, boxText keeps its value and the result is false.
bool ReadTextFile(const QString &path, QString &boxText);

// Joins path parts with '/'.
QString joinPath(const QString &folder, const QString &name);

} // namespace vireo

namespace vireo {

// The program folder holds VUZ.mdb and File/. It is looked for, in this order, in the folder
// given on the command line, VIREO_PROGRAM_FOLDER, the folder the user chose last time, the
// executable's folder, $XDG_DATA_HOME/vireo (~/.local/share/vireo) and each of
// $XDG_DATA_DIRS/vireo (/usr/local/share/vireo, /usr/share/vireo). Empty sources are left out,
// and each folder is named once.
QStringList programFolderCandidates(const QString &commandLineFolder, const QString &executableFolder);
// True when the folder has a file VUZ.mdb (any letter case).
bool holdsCatalogue(const QString &folder);
// The first candidate that holds VUZ.mdb; empty when none does.
QString findProgramFolder(const QStringList &candidates);
// The folder the user chose last time (QSettings), and remembering a new one.
QString rememberedProgramFolder();
void rememberProgramFolder(const QString &folder);
// The first folder of the search that holds VUZ.mdb; when none does, VIREO_PROGRAM_FOLDER or the
// executable's folder, so that the error that follows names a place.
QString defaultProgramFolder();

} // namespace vireo
