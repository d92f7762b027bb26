// The viewer's named settings: the parameter tables shared by the builder, the profile
// compiler and the unparser, their setters, and the np_ globals that the builder's profile
// reader fills. The row order of every table is part of the compiled-profile format.
#ifndef COMMON_PREFERENCES_H
#define COMMON_PREFERENCES_H

#include <string>

using std::string;

// A boolean row. noOutput keeps the builder from ever writing the row.
struct BooleanParam {
  const char* name;  // null ends the table; "" is a reserved position
  int value;         // 0 or 1
  int set;           // 1 once the value was set
  int noOutput;
};

// A short or long string row.
struct StringParam {
  const char* name;  // null ends the table; "" is a reserved position
  string value;
  int set;
};

// A small-number row (0-255 in the compiled profile).
struct ByteParam {
  const char* name;  // null ends the table; "" is a reserved position
  int value;
  int set;
};

// Rows in each table, not counting the closing null row.
enum {
  numBParams = 40,
  numNbParams = 13,
  numSParams = 8,
  numLsParams = 14,
  numByteParams = 10,
  numIgnoredParams = 15
};

// The tables, each closed by a row whose name is null.
extern BooleanParam bParams[numBParams + 1];
extern BooleanParam nbParams[numNbParams + 1];
extern StringParam sParams[numSParams + 1];
extern StringParam lsParams[numLsParams + 1];
extern ByteParam byteParams[numByteParams + 1];
// Obsolete names, accepted and ignored; closed by a null.
extern const char* const ignoredParams[numIgnoredParams + 1];

// Globals the setters write besides the tables (owned here).
extern string sep;            // data separator of the "separator" setting; starts as a TAB
extern int firstFieldNames;   // 1: the first data line holds the field names
extern int decimalPoints;     // starts 2 (the builder resets it at start-up)
extern int height;            // 20000 + n is n percent of the page; starts 20100
extern int width;             // as height
extern int Tarnwick;          // 1 in the profile compiler: expiries stay relative

// Settings of a compiled profile, filled by the builder's profile reader and read by the
// page writer; a -param override of a string setting lands here too.
extern string np_codebase, np_data, np_helpurl, np_runcode, np_windowname, np_cginame,
    np_cgiroot, np_capturename, np_reports, np_initialview, np_whatif, np_description,
    np_cubeexpiry;
extern int np_decimalpoints, np_height, np_width;
extern int np_vertRed, np_vertGreen, np_vertBlue;
extern int np_horRed, np_horGreen, np_horBlue;
extern int np_dataRed, np_dataGreen, np_dataBlue;
extern int np_firstfieldnames;
extern char np_separator;
// Scratch fields of the node record being read.
extern string np_label, np_fieldname;
extern int np_booleans, np_abtype, np_sort, np_firsttoken, np_lasttoken, np_functionproper;

// Sets a named setting from text (the -param road and the compiler's quoted settings).
// "true"/"false" go to setBooleanParameter; obsolete names are reported and ignored; old
// default values are rewritten; string and small-number rows are stored and marked set.
// An unknown name is fatal 110.
void setStringParameter(const char* name, const char* value);

// Sets a boolean setting (value 0 or 1), after its aliases. Unknown names are fatal 110.
void setBooleanParameter(const char* name, int value);

// Sets a numeric setting: small-number rows, decimalpoints, height and width (with their
// lower bounds). Unknown names are fatal 110.
void setNumericParameter(const char* name, int value);

// The expiry to store: a "+N" expiry becomes now + N days in milliseconds ("%ld000"), unless
// Tarnwick is set; anything else comes back unchanged.
string setCubeExpiry(string value);

#endif
