// Output file naming shared by the builder, the profile compiler and the unparser: a name
// with its extension replaced.
#ifndef COMMON_CHANGEEXTENSION_H
#define COMMON_CHANGEEXTENSION_H

#include <string>

// Cuts name at its last '.' (anywhere in the text, also inside a directory name) and appends
// extension, which carries its own '.'; a name without '.' gets extension appended. Works in
// place: the caller's buffer must hold strlen(name) + strlen(extension) + 1 bytes.
char* changeExtension(char* name, const char* extension);

// The same rule on a string: the name with its extension changed.
std::string changeExtension(const std::string& name, const char* extension);

#endif
