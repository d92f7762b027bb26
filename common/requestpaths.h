// The directory rule for files that a web request names: a data file, an ODBC statement
// file or a map file is read only when its real path (symbolic links and ".." resolved)
// lies in one of the directories the web server allows, or below one. The allowed
// directories come from the server's own environment, never from a form field.
#ifndef COMMON_REQUESTPATHS_H
#define COMMON_REQUESTPATHS_H

#include <cstdio>
#include <string>
#include <vector>

// The real paths of the directories of VARKEL_CGI_DATA_DIRS (colon-separated; entries
// that are empty or name no directory are left out), or of the working directory when the
// variable is unset.
std::vector<std::string> requestDataDirs();

// True when the real path real is one of dirs (real paths themselves) or lies below one.
bool realPathInside(const std::string& real, const std::vector<std::string>& dirs);

// The real path of path (relative names against the working directory) when it lies
// inside dirs, else "". A name that does not exist is judged by the real path of its
// directory, so that opening it fails the ordinary way.
std::string pathInside(const char* path, const std::vector<std::string>& dirs);

// True when the real path names one of pellack's files: its capture file "pellack.f", any
// copy of it (a name that begins so) or its log "ErrorLog.txt". They hold what visitors
// posted, so no request reads them as data or map, whatever directories are open.
bool isPellackFile(const std::string& real);

// Opens path for reading when it lies inside requestDataDirs() and is none of pellack's
// files. Returns null with
// *refused set when it does not (nothing is read), null with *refused clear when it is
// allowed but cannot be opened or is a directory (openInputFile). The file opened is checked once more after the open, so
// a link swapped in meanwhile cannot lead outside.
FILE* openRequestFile(const char* path, bool* refused);

#endif
