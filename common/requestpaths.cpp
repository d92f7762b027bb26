// The directory rule for files named by web requests.
#include "common/requestpaths.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/inputfile.h"

// The real path of path, or "" when it cannot be resolved.
static std::string realPath(const char* path) {
  char* real = realpath(path, nullptr);
  if (!real) return std::string();
  std::string out = real;
  free(real);
  return out;
}

std::vector<std::string> requestDataDirs() {
  std::vector<std::string> dirs;
  const char* list = getenv("VARKEL_CGI_DATA_DIRS");
  if (!list) {
    std::string cwd = realPath(".");
    if (!cwd.empty()) dirs.push_back(cwd);
    return dirs;
  }
  std::string all = list;
  size_t start = 0;
  while (start <= all.size()) {
    size_t colon = all.find(':', start);
    if (colon == std::string::npos) colon = all.size();
    std::string entry = all.substr(start, colon - start);
    start = colon + 1;
    if (entry.empty()) continue;
    std::string real = realPath(entry.c_str());
    struct stat st;
    if (!real.empty() && stat(real.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      dirs.push_back(real);
  }
  return dirs;
}

bool realPathInside(const std::string& real, const std::vector<std::string>& dirs) {
  if (real.empty() || real[0] != '/') return false;
  for (const std::string& dir : dirs) {
    if (dir == "/") return true;
    // "/srv/data" holds "/srv/data/x" but not "/srv/data2/x".
    if (real.compare(0, dir.size(), dir) == 0 &&
        (real.size() == dir.size() || real[dir.size()] == '/'))
      return true;
  }
  return false;
}

std::string pathInside(const char* path, const std::vector<std::string>& dirs) {
  if (!path || !path[0]) return std::string();
  std::string real = realPath(path);
  if (real.empty()) {
    // Not there: its directory decides; a last part of "." or ".." would have resolved
    // had the path existed. A name that is there but does not resolve (a dangling link,
    // a loop) could lead anywhere once its target appears.
    struct stat st;
    if (lstat(path, &st) == 0) return std::string();
    std::string name = path;
    size_t slash = name.rfind('/');
    std::string dir = slash == std::string::npos ? "." : name.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") return std::string();
    std::string realDir = realPath(dir.c_str());
    if (realDir.empty()) return std::string();
    real = realDir == "/" ? "/" + base : realDir + "/" + base;
  }
  return realPathInside(real, dirs) ? real : std::string();
}

bool isPellackFile(const std::string& real) {
  size_t slash = real.rfind('/');
  std::string base = slash == std::string::npos ? real : real.substr(slash + 1);
  return base.compare(0, 9, "pellack.f") == 0 || base == "ErrorLog.txt";
}

FILE* openRequestFile(const char* path, bool* refused) {
  std::vector<std::string> dirs = requestDataDirs();
  std::string real = pathInside(path, dirs);
  *refused = real.empty() || isPellackFile(real);
  if (*refused) return nullptr;
  FILE* f = openInputFile(real.c_str(), "r");
  if (!f) return nullptr;
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(f));
  std::string opened = realPath(link);
  if (!opened.empty() && (!realPathInside(opened, dirs) || isPellackFile(opened))) {
    fclose(f);
    *refused = true;
    return nullptr;
  }
  return f;
}
