// The escapes of texts inside setting values: what is written for each kind of byte, that
// reading undoes writing for every byte a field can hold, and where labels are cut.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "varkel/escapes.h"

using std::string;

TEST(Escapes, WrittenForms) {
  struct Case {
    string text;
    string written;
  };
  const Case cases[] = {
      // Texts that hold none of the escaped bytes are written as they are.
      {"plain text, (x) & y = 'z'", "plain text, (x) & y = 'z'"},
      {"\x7f\xe9\xff", "\x7f\xe9\xff"},
      {"\"$*+<>", "%22%24%2a%2b%3c%3e"},
      {"\x01\x1f\t", "%01%1f%09"},
      {"a\\b", "a%5cb"},
      // Every ';' is an escaped backslash and semicolon, whatever stands before it.
      {"a;b", "a%5c%3bb"},
      {"a\\;b", "a%5c%5c%3bb"},
      {"a\\\\;b", "a%5c%5c%5c%3bb"},
      {"a\\\\\\;b", "a%5c%5c%5c%5c%3bb"},
      {";;", "%5c%3b%5c%3b"},
      // '%' is escaped, so a text that looks like an escape reads back as itself.
      {"a%2bb", "a%252bb"},
      {"%5c%3b", "%255c%253b"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(escapeCarefully(c.text.c_str()), c.written) << c.text;
    EXPECT_EQ(unescapeCarefully(c.written), c.text) << c.written;
  }
  EXPECT_EQ(escapeCarefully(nullptr), "");
}

TEST(Escapes, ReadingUndoesWritingForEveryByte) {
  for (int b = 1; b < 256; b++) {
    string one(1, char(b));
    for (const string& text : {one, "x" + one + "y", one + one + ";" + one, "\\" + one + ";"})
      ASSERT_EQ(unescapeCarefully(escapeCarefully(text.c_str())), text) << b;
  }
  // Runs of backslashes and '%' before and after a ';', and random texts of 1-255 bytes.
  for (int n = 0; n < 6; n++) {
    string run(n, '\\');
    for (const string& text : {run + ";", ";" + run, "a" + run + ";" + run + "%3b"})
      EXPECT_EQ(unescapeCarefully(escapeCarefully(text.c_str())), text) << text;
  }
  std::mt19937 random(19);
  for (int i = 0; i < 2000; i++) {
    string text(1 + random() % 255, ' ');
    for (char& c : text) c = char(1 + random() % 255);
    if (i % 2) {
      for (char& c : text) c = "\\;%5c3bB+\""[random() % 10];
    }
    ASSERT_EQ(unescapeCarefully(escapeCarefully(text.c_str())), text) << text;
  }
}

TEST(Escapes, CubesOfEarlierWritersReadAsBefore) {
  struct Case {
    const char* written;
    const char* text;
  };
  const Case cases[] = {
      {"A%2bB", "A+B"},      {"a%5c%3bb", "a;b"},   {"%22q%22 %3c%3e", "\"q\" <>"},
      {"%24%2a%5c", "$*\\"}, {"%09tab", "\ttab"},   {"100%", "100%"},
      {"%4", "%4"},          {"%5C%3B", ";"},       {"%41%3b", "%41;"},
  };
  for (const Case& c : cases) EXPECT_EQ(unescapeCarefully(c.written), c.text) << c.written;
}

TEST(Escapes, LabelsAreCutToWholeEscapes) {
  struct Case {
    const char* what;
    string text;
    string written;
  };
  const Case cases[] = {
      {"letters", string(300, 'x'), string(254, 'x')},
      {"tabs", string(100, '\t'), [] {
         string s;
         for (int i = 0; i < 84; i++) s += "%09";
         return s;
       }()},
      {"escape at 251", string(251, 'x') + "<<", string(251, 'x') + "%3c"},
      {"escape at 252", string(252, 'x') + "<y", string(252, 'x')},
      {"raw byte at 253", string(253, 'x') + "yz", string(253, 'x') + "y"},
      // A ';' is one piece of six characters: it is written whole or not at all.
      {"semicolon that does not fit", string(249, 'x') + ";", string(249, 'x')},
      {"semicolon that fits", string(248, 'x') + ";", string(248, 'x') + "%5c%3b"},
      {"85 '+'", string(85, '+'), [] {
         string s;
         for (int i = 0; i < 84; i++) s += "%2b";
         return s;
       }()},
  };
  for (const Case& c : cases) {
    string got = escapeCarefully(c.text.c_str(), labelLimit);
    EXPECT_EQ(got, c.written) << c.what;
    EXPECT_EQ(c.text.compare(0, unescapeCarefully(got).size(), unescapeCarefully(got)), 0)
        << c.what;
  }
  // Without a limit nothing is cut: 60 "a;" take 420 characters.
  string pairs;
  for (int i = 0; i < 60; i++) pairs += "a;";
  EXPECT_EQ(escapeCarefully(pairs.c_str()).size(), 420u);
  EXPECT_EQ(unescapeCarefully(escapeCarefully(pairs.c_str())), pairs);
}
