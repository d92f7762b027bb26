// Output file naming: replacing a name's extension.
#include "common/changeExtension.h"

#include <cstring>

char* changeExtension(char* name, const char* extension) {
  char* dot = strrchr(name, '.');
  strcpy(dot ? dot : name + strlen(name), extension);
  return name;
}

std::string changeExtension(const std::string& name, const char* extension) {
  std::string::size_type dot = name.rfind('.');
  return (dot == std::string::npos ? name : name.substr(0, dot)) + extension;
}
