// Message formatting with cleaned arguments.
#include "common/messagetext.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/textutil.h"

bool requestMessages = false;  // the process answers a web request

std::string logSafe(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if ((unsigned char)c < 32 || c == 127) c = '?';
  return out;
}

static std::string clean(ArgumentCleaning cleaning, const std::string& text) {
  if (cleaning == logArguments) return logSafe(text);
  if (cleaning == htmlArguments) return htmlEscape(text.c_str());
  return text;
}

// One printf directive (with its '%') filled with value, after the stars' ints.
template <typename T>
static std::string fill(const std::string& directive, const int* stars, int starCount, T value) {
  char small[256];
  int n;
  if (starCount == 0)
    n = snprintf(small, sizeof small, directive.c_str(), value);
  else if (starCount == 1)
    n = snprintf(small, sizeof small, directive.c_str(), stars[0], value);
  else
    n = snprintf(small, sizeof small, directive.c_str(), stars[0], stars[1], value);
  if (n < 0) return std::string();
  if ((size_t)n < sizeof small) return std::string(small, n);
  std::string big(n + 1, '\0');
  if (starCount == 0)
    snprintf(&big[0], big.size(), directive.c_str(), value);
  else if (starCount == 1)
    snprintf(&big[0], big.size(), directive.c_str(), stars[0], value);
  else
    snprintf(&big[0], big.size(), directive.c_str(), stars[0], stars[1], value);
  big.resize(n);
  return big;
}

std::string formatMessage(ArgumentCleaning cleaning, const char* format, va_list ap) {
  va_list args;
  va_copy(args, ap);
  std::string out;
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      p++;
      continue;
    }
    int stars[2];
    int starCount = 0;
    p += strspn(p, "-+ #0'");
    if (*p == '*') {
      stars[starCount++] = va_arg(args, int);
      p++;
    }
    p += strspn(p, "0123456789");
    if (*p == '.') {
      p++;
      if (*p == '*') {
        stars[starCount++] = va_arg(args, int);
        p++;
      }
      p += strspn(p, "0123456789");
    }
    std::string length;
    while (*p && strchr("hlLqjzt", *p)) length += *p++;
    char conversion = *p;
    if (conversion) p++;
    std::string directive(start, p);
    switch (conversion) {
      case 'd':
      case 'i':
        if (length == "l") out += fill(directive, stars, starCount, va_arg(args, long));
        else if (length == "ll" || length == "q")
          out += fill(directive, stars, starCount, va_arg(args, long long));
        else if (length == "z" || length == "t")
          out += fill(directive, stars, starCount, va_arg(args, ptrdiff_t));
        else if (length == "j") out += fill(directive, stars, starCount, va_arg(args, intmax_t));
        else out += fill(directive, stars, starCount, va_arg(args, int));
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        if (length == "l") out += fill(directive, stars, starCount, va_arg(args, unsigned long));
        else if (length == "ll" || length == "q")
          out += fill(directive, stars, starCount, va_arg(args, unsigned long long));
        else if (length == "z" || length == "t")
          out += fill(directive, stars, starCount, va_arg(args, size_t));
        else if (length == "j") out += fill(directive, stars, starCount, va_arg(args, uintmax_t));
        else out += fill(directive, stars, starCount, va_arg(args, unsigned));
        break;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        if (length == "L") out += fill(directive, stars, starCount, va_arg(args, long double));
        else out += fill(directive, stars, starCount, va_arg(args, double));
        break;
      case 'p':
        out += fill(directive, stars, starCount, va_arg(args, void*));
        break;
      case 'c': {
        int c = va_arg(args, int);
        if ((char)c == '\0') {  // written as its byte, as printf would
          out += fill(directive, stars, starCount, c);
          break;
        }
        directive.back() = 's';
        out += fill(directive, stars, starCount, clean(cleaning, std::string(1, (char)c)).c_str());
        break;
      }
      case 's': {
        const char* text = va_arg(args, const char*);
        out += fill(directive, stars, starCount, clean(cleaning, text ? text : "(null)").c_str());
        break;
      }
      default:  // an incomplete or unknown directive is written as it stands
        out += directive;
    }
  }
  va_end(args);
  return out;
}

void logMessage(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string text = formatMessage(requestMessages ? logArguments : keepArguments, format, ap);
  va_end(ap);
  fwrite(text.data(), 1, text.size(), stderr);
}
