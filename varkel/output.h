// The output phases of the builder: the cube page, the expanded and unexpanded profile
// pages, the finish of the output files and the client/server page pair.
#ifndef VARKEL_OUTPUT_H
#define VARKEL_OUTPUT_H

#include <string>

// Writes the one output the run asked for: the cube page when the cube pass ran, else a
// profile page when -eprofile was given, else nothing here (the record extract road that
// follows in Main).
void outputPhases();

// Writes the cube page and the cube file, then finishes them.
void outputCubePage();

// Writes the profile viewer page of the grown trees (expanded) or of the profile's own
// descriptions (unexpanded), then finishes it.
void outputExpandedProfilePage();
void outputUnexpandedProfilePage();

// Makes the client/server pair from the finished page outputFileName: under its name a copy
// that names the cube server and the cube file's path, under its "-local" name the page as
// built (with threshold 0 or less; otherwise the page stays alone). Open failures are
// fatal 2.
void outputServerApplet();

// The names of the pair: name cut at the last '.' of its file name followed by
// "-<kind>.html", or name followed by "-<kind>" when its file name has no '.'. Longer
// than 1023 characters is fatal 1.
std::string serverPageName(const char* name, const char* kind);

#endif
