// The cube-file reader of incremental builds: opens the previous cube (its cube file, else
// its viewer page) and hands back its setting lines one at a time, the page's attribute
// texts decoded.
#include "varkel/cubefile.h"

#include <cstring>

#include "common/util.h"
#include "varkel/report.h"

// File name of the previous cube being read.
std::string cubeName;
// 1 when the cube file was opened, 0 when the page was.
int readingCubeFile = 0;
// Lines read so far, for messages.
int cubeLineNumber = 0;

bool startsWith(const std::string& s, const char* word) {
  return s.compare(0, strlen(word), word) == 0;
}

void dropTrailingCR(std::string& value) {
  if (!value.empty() && value.back() == '\r') value.pop_back();
}

void resetCubeFile() {
  cubeName.clear();
  readingCubeFile = cubeLineNumber = 0;
}

std::string decodePageText(const std::string& text) {
  static const struct {
    const char* entity;
    char byte;
  } entities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}};
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    char byte = text[i];
    if (byte == '&') {
      for (const auto& e : entities) {
        size_t n = strlen(e.entity);
        if (text.compare(i, n, e.entity) == 0) {
          byte = e.byte;
          i += n - 1;
          break;
        }
      }
    }
    out += byte;
  }
  return out;
}

FILE* openCube(const char* profileName) {
  std::string name(profileName);
  cubeName = changeExt(name, ".cb4");
  FILE* f = fopen(cubeName.c_str(), "rb");
  if (f) {
    readingCubeFile = 1;
  } else {
    cubeName = changeExt(name, ".html");
    f = fopen(cubeName.c_str(), "rb");
    if (!f) fatal(2, "Unable to open the cube for the profile '%s'.\n", profileName);
  }
  msg("Re-reading cube '%s'\n", cubeName.c_str());
  return f;
}

std::string getQuotedValue(const std::string& line, const char* key) {
  size_t at = line.find(key);
  if (at == std::string::npos)
    fatal(110, "Unable to find '%s' on line %d of cube '%s'\n", key, cubeLineNumber,
          cubeName.c_str());
  size_t open = line.find('"', at);
  if (open == std::string::npos) return std::string();
  size_t close = line.find('"', open + 1);
  return line.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
}

ParamLine* readParamLine(FILE* cube) {
  std::string line;
  int c;
  while ((c = getc(cube)) != EOF && c != '\n') line += (char)c;
  if (c == EOF) return nullptr;  // a last line without its newline is not read
  cubeLineNumber++;
  ParamLine* p = new ParamLine;
  if (readingCubeFile) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      p->name = p->value = line;
    } else {
      p->name = line.substr(0, eq);
      p->value = line.substr(eq + 1);
    }
  } else if (line.compare(0, 6, "<param") == 0) {
    p->value = decodePageText(getQuotedValue(line, "value="));
    p->name = decodePageText(getQuotedValue(line, "name="));
  }
  if (p->name.empty()) {
    delete p;
    return nullptr;
  }
  return p;
}

std::vector<std::string> splitString(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t at = text.find(separator, start);
    if (at == std::string::npos) at = text.size();
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  return pieces;
}
