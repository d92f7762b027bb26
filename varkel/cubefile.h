// The cube-file reader of incremental builds: the previous cube's setting lines, read from
// its cube file or its viewer page.
#ifndef VARKEL_CUBEFILE_H
#define VARKEL_CUBEFILE_H

#include <cstdio>
#include <string>
#include <vector>

// One setting line of the previous cube.
struct ParamLine {
  std::string name;
  std::string value;
};

extern std::string cubeName;        // file name of the previous cube
extern int readingCubeFile;         // 1: the cube file was opened; 0: the page
extern int cubeLineNumber;          // lines read so far

// Opens the previous cube; neither name opening is fatal 2.
FILE* openCube(const char* profileName);

// The next setting line of cube, or null at the end of the file and for lines that carry
// no setting. The caller deletes it.
ParamLine* readParamLine(FILE* cube);

// The text between the first double quote at or after key in line and the next one (the
// rest of the line when no second one follows). A line without key is fatal 110.
std::string getQuotedValue(const std::string& line, const char* key);

// The pieces of text between separators; a separator at the very end adds no empty piece,
// an empty text gives none.
std::vector<std::string> splitString(const std::string& text, char separator);

// A page's attribute text as the browser hands it to the applet: the entities the page
// writer makes ("&amp;", "&lt;", "&gt;", "&quot;") become their characters again.
std::string decodePageText(const std::string& text);

// Whether s begins with word.
bool startsWith(const std::string& s, const char* word);

// Drops one carriage return that ends value (a cube written with CRLF line ends).
void dropTrailingCR(std::string& value);

// Empties the reader's state, as at process start.
void resetCubeFile();

#endif
