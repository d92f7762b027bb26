// Page and cube-file settings. Every setting goes through outputParam, which decides by the
// run's flags whether the cube file, the page or both receive it; the readers of both
// carriers rely on the names, forms and order written here.
#include "varkel/settings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "common/preferences.h"
#include "common/textutil.h"
#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/datasource.h"
#include "varkel/escapes.h"
#include "varkel/input.h"
#include "varkel/odbc.h"
#include "varkel/options.h"
#include "varkel/outfiles.h"
#include "varkel/varkel.h"
#include "varkel/workbuffers.h"

using std::string;

bool isPage(FILE* stream) { return stream && stream == ofp; }

void outputValue(FILE* stream, const std::string& text) {
  if (isPage(stream)) {
    string escaped = htmlEscape(text.c_str());
    fwrite(escaped.data(), 1, escaped.size(), stream);
  } else {
    fwrite(text.data(), 1, text.size(), stream);
  }
}

PageValue::PageValue(FILE* stream) : stream_(stream) {
  if (!isPage(stream)) return;
  memory_ = open_memstream(&buffer_, &size_);
  if (!memory_) fatal(100, "Out of memory.\n");
}

PageValue::~PageValue() { finish(); }

void PageValue::finish() {
  if (!memory_) return;
  if (fclose(memory_) != 0) fatal(100, "Out of memory.\n");
  memory_ = nullptr;
  outputValue(stream_, string(buffer_, size_));
  free(buffer_);
  buffer_ = nullptr;
}

void outputParam(const char* name, const char* value, bool both) {
  if (emitCB4 && cb4) {
    fprintf(cb4, "%s=", name);
    outputValue(cb4, value);
    fputc('\n', cb4);
  }
  if ((!emitCB4 || both) && ofp) {
    fprintf(ofp, "<param name=\"%s\" value=\"", name);
    outputValue(ofp, value);
    fputs("\">\n", ofp);
  }
}

void outputParam(const string& name, const string& value, bool both) {
  if (value.empty()) return;
  outputParam(name.c_str(), value.c_str(), both);
}

static const char hexDigits[] = "0123456789abcdef";

void url_char(char c, FILE* stream) {
  unsigned char b = (unsigned char)c;
  fputc('%', stream);
  fputc(hexDigits[b >> 4], stream);
  fputc(hexDigits[b & 15], stream);
}

void url_string(const char* text, FILE* stream) {
  for (const char* p = text; *p; p++) url_char(*p, stream);
}

// The first len bytes of text, NULs included, each as '%' and two hex digits.
static string urlEncodeBytes(const char* text, size_t len) {
  string out;
  out.reserve(3 * len);
  for (size_t i = 0; i < len; i++) {
    unsigned char b = (unsigned char)text[i];
    out += '%';
    out += hexDigits[b >> 4];
    out += hexDigits[b & 15];
  }
  return out;
}

string url_encode(const char* text) { return urlEncodeBytes(text, strlen(text)); }

void outputCarefully(const char* text, FILE* stream) {
  // A label is cut so that a reader's 255-byte field always holds it whole.
  if (!text) return;
  long plain = plainLength(text);
  if (plain >= 0 && size_t(plain) <= labelLimit) {
    fwrite(text, 1, size_t(plain), stream);
    return;
  }
  std::string escaped = escapeCarefully(text, labelLimit);
  fwrite(escaped.data(), 1, escaped.size(), stream);
}

void outputEscaped(const char* text, FILE* stream) {
  if (!text) return;
  long plain = plainLength(text);
  if (plain >= 0) {
    fwrite(text, 1, size_t(plain), stream);
    return;
  }
  std::string escaped = escapeCarefully(text);
  fwrite(escaped.data(), 1, escaped.size(), stream);
}

void outputHTMLString(const char* text, FILE* stream) {
  if (!text) return;
  for (const char* p = text; *p; p++) {
    switch (*p) {
      case '<': fputs("&lt;", stream); break;
      case '>': fputs("&gt;", stream); break;
      case ' ':
      case '\t': fputs("&nbsp;", stream); break;
      default: fputc(*p, stream);
    }
  }
}

void outputFunction(FILE* stream, const char* functionText) {
  if (!functionText || isOldStyleFunction(functionText)) return;
  static const char* const aggregators[] = {
      "oneof.", "ratio.", "sum.", "product.", "difference.", "delta.",   "average.",
      "sd.",    "variance.", "divconst.", "max.", "min.",  "constant.",
  };
  for (const char* prefix : aggregators) {
    if (strncmp(functionText, prefix, strlen(prefix)) == 0) {
      fprintf(stream, "%cfunction=%s", ';', functionText);
      return;
    }
  }
  // A bare field name is quoted so the viewer takes it as a column, not an expression. An
  // empty text equals the empty name of an unnamed column and is quoted the same way.
  if (functionText[0] != '\'') {
    for (int i = 0; i < maxInputFields; i++) {
      if (strcmp(newDataFieldNames[i], functionText) == 0) {
        fprintf(stream, "%ccompute=('%s')", ';', functionText);
        return;
      }
    }
  }
  fprintf(stream, "%ccompute=(%s)", ';', functionText);
}

// "(r,g,b)" of one colour.
static string colour(int r, int g, int b) {
  char buf[64];
  snprintf(buf, sizeof buf, "(%d,%d,%d)", r, g, b);
  return buf;
}

void outputPassthroughParameters(bool both) {
  const BooleanParam* const tables[] = {bParams, nbParams};
  for (const BooleanParam* t : tables) {
    for (int i = 0; t[i].name; i++)
      if (t[i].set && t[i].name[0] && !t[i].noOutput)
        outputParam(t[i].name, t[i].value ? "true" : "false", both);
  }
  for (int i = 0; byteParams[i].name; i++) {
    if (byteParams[i].set && byteParams[i].name[0])
      outputParam(byteParams[i].name, std::to_string(byteParams[i].value).c_str(), both);
  }
  outputParam("helpurl", np_helpurl, both);
  outputParam("runcode", np_runcode, both);
  outputParam("windowname", np_windowname, both);
  outputParam("initv", np_initialview, both);
  outputParam("whatif", np_whatif, both);
  // The viewer needs these on the page even when the cube file carries everything else.
  outputParam("cginame", np_cginame, true);
  outputParam("cgiroot", np_cgiroot, true);
  outputParam("pellackname", np_capturename, true);
  outputParam("reports", np_reports, true);
  outputParam("description", np_description, both);
  outputParam("cubeexpiry", np_cubeexpiry, both);
  outputParam("verticalcolor", colour(np_vertRed, np_vertGreen, np_vertBlue).c_str(), both);
  outputParam("horizontalcolor", colour(np_horRed, np_horGreen, np_horBlue).c_str(), both);
  outputParam("datacolor", colour(np_dataRed, np_dataGreen, np_dataBlue).c_str(), both);
}

// The cube-file name without its directory; a '\\' of a DOS path counts before any '/'.
static const char* baseName(const char* name) {
  if (const char* p = strrchr(name, '\\')) return p + 1;
  if (const char* p = strrchr(name, '/')) return p + 1;
  return name;
}

static bool isOdbcSource() { return dataFileName && dataType == odbcData; }

#ifdef HAVE_ODBC
// A credential as the page carries it: scrambled with the key its reader unscrambles with,
// then URL-encoded. Every scrambled byte is encoded, a NUL too, so no credential is cut.
static string scrambledCredential(const char* plain) {
  size_t len = strlen(plain);
  char* copy = _newStr(plain, "varkel", __LINE__);
  dbEncrypt(copy, credentialKey);
  string encoded = urlEncodeBytes(copy, len);
  xfree(copy);
  return encoded;
}
#endif

// The data source the viewer's record queries will use, as the data-source parser reads it
// back. No source, or one of no known kind, writes nothing.
static void outputRawData(bool both) {
  string value;
  if (dataName) {
    value = dataName;
  } else if (!dataFileName) {
    return;
  } else if (dataType == textData) {
    value = string("text:") + (newDataFileName ? newDataFileName : "");
  } else if (dataType == execData) {
    value = string("exec:") + dataFileName;
  } else if (dataType == urlData) {
    value = dataFileName;
  } else if (dataType == odbcData) {
#ifdef HAVE_ODBC
    outputParam("odbccolumns", ODBC_GetColumnNames(), true);
    value = string("odbc:") + dataFileName;
    if (odbcUser && odbcUser[0]) value += ";eusername=" + scrambledCredential(odbcUser);
    if (odbcPassword && odbcPassword[0])
      value += ";epassword=" + scrambledCredential(odbcPassword);
    if (odbcSelect && odbcSelect[0]) {
      string select = odbcSelect;
      std::replace(select.begin(), select.end(), '\n', ' ');
      value += ";" + select;
    }
    replaceQuotes(value);
#else
    return;
#endif
  } else {
    return;
  }
  outputParam("rawdata", value.c_str(), both);
}

void outputApplet(FILE* page) {
  if (page) {
    // A -param override of the code base follows into the tag; otherwise the profile's.
    string overridden = sParams[0].set ? sParams[0].value.substr(0, 255) : string();
    const char* tagCodeBase = sParams[0].set ? overridden.c_str() : theCodeBase;
    const bool hasCodeBase = tagCodeBase && tagCodeBase[0];
    // The tag's attributes are page text like any value.
    string base = htmlEscape(tagCodeBase), width = htmlEscape(lumetraWidth),
           height = htmlEscape(lumetraHeight);
    if (emitProfile) {
      fputs("\n<!-- Ostravin applet tag -->\n", page);
      if (hasCodeBase)
        fprintf(page,
                "\n<applet codebase=\"%s\" code=\"Ostravin.class\" archive=\"ostravin.jar\" "
                "width=%s height=%s>\n",
                base.c_str(), width.c_str(), height.c_str());
      else
        fprintf(page,
                "\n<applet code=\"Ostravin.class\" archive=\"ostravin.jar\" width=%s "
                "height=%s>\n",
                width.c_str(), height.c_str());
    } else {
      fputs("\n<!-- lmt applet tag -->\n", page);
      if (hasCodeBase)
        fprintf(page,
                "\n<applet codebase=\"%s\" code=\"com.zv.lmt.root.class\" archive=\"lmt.jar\" "
                "width=%s height=%s>\n",
                base.c_str(), width.c_str(), height.c_str());
      else
        fprintf(page,
                "\n<applet code=\"com.zv.lmt.root.class\" archive=\"lmt.jar\" width=%s "
                "height=%s>\n",
                width.c_str(), height.c_str());
    }
    fputs("<!-- IE 4.0 -->\n", page);
    fputs("<param name=\"cabinets\" value=\"lmt.cab\">\n", page);
    fputs("<!-- IE 3.0 -->\n", page);
    fputs("<param name=\"cabbase\" value=\"lmt.cab\">\n", page);
    fputs("\n<!-- Configuration parameters -->\n", page);
  }

  string version = string(programVersion) + " (" + buildNumber + " " + buildDate + ")";
  outputParam("createversion", version.c_str(), true);

  char when[256];
  time_t now = time(nullptr);
  const struct tm* local = localtime(&now);
  if (!local || strftime(when, sizeof when, "%a %b %d %Y %X", local) == 0) when[0] = '\0';
  outputParam("builddate", when, serverMode);

  if (emitCB4 && page)
    fprintf(page, "<param name=\"cb4file\" value=\"%s\">\n",
            htmlEscape(baseName(cb4FileName)).c_str());

  outputRawData(serverMode);

  if (separator != '\t' && !isOdbcSource()) {
    char sepText[2] = {separator, '\0'};
    outputParam("separator", sepText, serverMode);
  }
  outputPassthroughParameters(serverMode);
  outputParam("decimalpoints", std::to_string(decimalPoints).c_str(), serverMode);
  outputParam("firstfieldnames", skipFirstLine ? "true" : "false", serverMode);
}
