// The settings of the viewer page and the cube file: the two line forms, the rule that picks
// the carrier of each setting, the applet tag with the configuration settings, the function
// items of tree nodes, and the escaping writers used inside setting values and record tables.
#ifndef VARKEL_SETTINGS_H
#define VARKEL_SETTINGS_H

#include <cstdio>
#include <string>

// True when stream is the viewer page (ofp): what is written there is HTML, and a setting's
// value is the text of an attribute.
bool isPage(FILE* stream);

// Writes text as (part of) a setting's value on stream. On the page '&', '<', '>' and '"'
// become HTML entities, so that the browser hands the applet the text itself; anywhere
// else (the cube file) the bytes are written as they are.
void outputValue(FILE* stream, const std::string& text);

// One setting's value written piece by piece: writers put its bytes on out(), which on the
// page is a memory stream whose bytes are written escaped (as by outputValue) when the
// value ends (finish, or the end of the object); elsewhere out() is the stream itself.
class PageValue {
 public:
  explicit PageValue(FILE* stream);
  ~PageValue();
  PageValue(const PageValue&) = delete;
  PageValue& operator=(const PageValue&) = delete;
  FILE* out() const { return memory_ ? memory_ : stream_; }
  void finish();

 private:
  FILE* stream_;
  FILE* memory_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};

// Writes one setting: the cube-file line "name=value" when a cube file is written
// (emitCB4) and cb4 is open; the page param tag when no cube file is written or both is
// set, and ofp is open. Values are written as outputValue writes them.
void outputParam(const char* name, const char* value, bool both);
// As above, but an empty value writes nothing at all.
void outputParam(const std::string& name, const std::string& value, bool both);

// Writes the applet tag (when page is open) and the configuration settings that come
// before any tree or data: createversion, builddate, cb4file, rawdata, separator, the
// profile's viewer parameters, decimalpoints and firstfieldnames.
void outputApplet(FILE* page);

// Writes the set rows of the boolean and small-number tables, the profile strings and the
// three colours; both is passed to the carrier rule.
void outputPassthroughParameters(bool both);

// Writes the function item of a computed tree node (";function=..." or ";compute=(...)")
// into a value being written; a null or "Old style" text writes nothing.
void outputFunction(FILE* stream, const char* functionText);

// Writes a label into a value, escaped as escapeCarefully escapes it and cut to whole
// escapes within 254 characters. Null or empty writes nothing.
void outputCarefully(const char* text, FILE* stream);

// Writes a text that must read back whole (a match value, separators, a key) into a value,
// escaped as escapeCarefully escapes it, never cut. Null or empty writes nothing.
void outputEscaped(const char* text, FILE* stream);

// Writes c as '%' and two lower-case hex digits; url_string does so for every byte of text.
void url_char(char c, FILE* stream);
void url_string(const char* text, FILE* stream);

// Every byte of text as '%' and two lower-case hex digits.
std::string url_encode(const char* text);

// Writes text into an HTML table cell: '<' and '>' as entities, blank and TAB as "&nbsp;".
// Null or empty writes nothing.
void outputHTMLString(const char* text, FILE* stream);

#endif
