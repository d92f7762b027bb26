// The builder's reader of the compiled profile: the header check, the parameter record
// (viewer settings, decimal places, page size, code base, data source, separator and
// header flag) and the node records and tree operators that become the label trees of the
// axes and of the measures. It also owns the tree roots every later phase starts from.
#ifndef VARKEL_NEWPROFILE_H
#define VARKEL_NEWPROFILE_H

#include <string>

// Axes a profile may define.
const int maxAxes = 32;

// Axes read so far; axis i is rooted at axisRootIndex[i] (-1 none).
extern int numberOfAxes;
extern int axisRootIndex[maxAxes];
// Root label of the measures tree (the record axis); -1 until a measures record is read.
extern int recordAxisRoot;
// 1 once the profile has an autobuild or date record: labels are to be grown from the data.
extern int expandProfile;
// 1 when the profile switched record viewing off ("allowviewsourcerecords" false).
extern int noQuery;

// Decodes the whole compiled profile text into the settings and the label trees. A text
// that does not begin with four digits, '|' and '8' is fatal 1 naming inputFileName.
// numberOfAxes starts again from 0; the other roots and settings are set as read.
void readNewProfile(const char* text);

// True when text begins with four digits, '|' and '8'. Changes nothing.
bool isValidProfile(const char* text);

// Decodes records from the start of text until 'X' or the end of the text. mode is the
// attach mode (2: the next node record becomes the first child of current; 1: its next
// sibling) and current the label to attach to (-1 none). An unknown record type is
// reported on standard error and ends the run with status 1; bad contents are fatal 110.
void processString(const char* text, int mode, int current);

// Sets the number format of label n from the format codes of its record: code1 is 'D' + 5
// (or an older code 0-4), code2 the number after 'N' or -1 when the record has none. A
// code1 of 5 or more without code2 is fatal 110 naming labelText.
void setNodeFormat(int n, int code1, int code2, std::string& labelText);

#endif
