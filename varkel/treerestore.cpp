// The tree restore of incremental builds: the axis settings of the previous cube are
// rebuilt inside the current profile's trees, their categories registered in the category
// indexes and date tables, so that the expansion pass finds them instead of making them
// again.
#include "varkel/treerestore.h"

#include <cassert>
#include <cctype>
#include <cstring>
#include <map>

#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/cellrestore.h"
#include "varkel/date.h"
#include "varkel/dategen.h"
#include "varkel/escapes.h"
#include "varkel/grow.h"
#include "varkel/input.h"
#include "varkel/match.h"
#include "varkel/newProfile.h"
#include "varkel/options.h"

// Profile axes accounted for by the axis settings read so far.
int restoredAxes = 0;

// Per profile field slot, the column its written conditions tested in the data the cube
// was built from.
std::map<int, int> oldColumnOfSlot;

namespace {

// Where a level's positions were last resolved, so that walking a wide level entry by
// entry stays linear, and whether the level holds a date placeholder (the re-reader adds
// none). Keyed by the label whose child starts the level.
struct LevelCursor {
  int position = -1;  // -1: none resolved yet
  int node = -1;
  bool spliced = false;
};
std::map<int, LevelCursor> levelCursors;

// For a node the re-reader made as a copy of a first child elsewhere (the first category
// of a grown level below a later category of the level above), the label it copies: what
// stands below that label is what the new node is to have below it.
std::map<int, int> copiedFrom;

// Entries of the axis being read, counted by the path of the node they stand below.
std::map<std::string, int> levelEntries;
// The axis being read carries conditions (it was written with record viewing on).
bool axisHasConditions = false;

bool isDigits(const std::string& s, size_t from, size_t count) {
  if (s.size() < from + count) return false;
  for (size_t i = from; i < from + count; i++)
    if (!isdigit((unsigned char)s[i])) return false;
  return true;
}

// The key forms of generated date labels: year, quarter, month, day, blank date.
bool isDateKey(const std::string& k) {
  // A quarter key ("2001Q1") is as long as a month key, so length alone tells nothing.
  if ((k.size() == 4 || k.size() == 6 || k.size() == 8) && isDigits(k, 0, k.size())) return true;
  return k.size() >= 6 && isDigits(k, 0, 4) && k[4] == 'Q' && isDigits(k, 5, k.size() - 5);
}

bool isDayKey(const std::string& k) {
  return k.size() == 8 && isDigits(k, 0, 8) && k != "99999999";
}

// The text after the first '=', or the empty text.
std::string afterEquals(const std::string& piece) {
  size_t eq = piece.find('=');
  return eq == std::string::npos ? std::string() : piece.substr(eq + 1);
}

bool isItem(const std::string& piece) {
  return startsWith(piece, "f0") || startsWith(piece, "key") || startsWith(piece, "field") ||
         startsWith(piece, "format") || startsWith(piece, "compute") ||
         startsWith(piece, "function");
}

// The number a path part gives, read from its leading digits (after the root's name for
// the first part); none gives 0.
int positionNumber(const std::string& part, bool afterName) {
  const char* digits = part.c_str();
  if (afterName) digits += strcspn(digits, "0123456789");
  int n = 0;
  for (; isdigit((unsigned char)*digits) && n < 100000000; digits++) n = n * 10 + (*digits - '0');
  return n;
}

// The number the writer gave the root of the axis being read: the top entries below a
// placeholder root are numbered from it on.
int topNumberBase = 0;

// One position of a level with its date placeholders spliced in: an ordinary label, or the
// end of a placeholder's children (where a new date label of it would go).
struct LevelStep {
  bool placeholderEnd;
  int label;        // the ordinary label, or the placeholder
  int dateIndex;    // of the innermost placeholder around the step; 0 none
  int placeholder;  // that placeholder; -1 none
};

// The date placeholder the path of the entry being read passed last (-1 none): the
// periods below each copy of a placeholder go into that copy's own tables.
int pathPlaceholder = -1;

void spliceLevel(int first, int dateIndex, int placeholder, std::vector<LevelStep>& steps) {
  for (int c = first; c != -1; c = axisLabels[c].sibling) {
    AxisLabel& l = axisLabels[c];
    if (l.dateIndex != 0) {
      spliceLevel(l.child, l.dateIndex, c, steps);
      steps.push_back({true, c, (int)l.dateIndex, c});
    } else {
      steps.push_back({false, c, dateIndex, placeholder});
    }
  }
}

bool hasPlaceholder(int first) {
  for (int c = first; c != -1; c = axisLabels[c].sibling)
    if (axisLabels[c].dateIndex != 0) return true;
  return false;
}

int lastOfChain(int first) {
  int last = first;
  while (last != -1 && axisLabels[last].sibling != -1) last = axisLabels[last].sibling;
  return last;
}

[[noreturn]] void badPath(const std::string& path) {
  fatal(110, "Entry '%s' of axis %d in cube '%s' names a node whose parent is not there.\n",
        path.c_str(), restoredAxes, cubeName.c_str());
}

// Labels that the profile put after a grown level in its chain follow the level's last
// category, in the cube as in the growth. So while the cube still lists categories of the
// level (entries counts the level's entries), a position past the last category read is a
// new category, made after that one; returns it, or -1 when position n is no new category.
int newCategoryAfter(int first, int n, int entries) {
  int before = 0, run = first;
  while (run != -1 && !axisLabels[run].hash) {
    run = axisLabels[run].sibling;
    before++;
  }
  if (run == -1) return -1;
  int tail = axisLabels[run].hash->tail, categories = 0, c = run;
  for (; c != -1; c = axisLabels[c].sibling) {
    categories++;
    if (c == tail) break;
  }
  int following = 0;
  for (int f = c == -1 ? -1 : axisLabels[tail].sibling; f != -1; f = axisLabels[f].sibling)
    following++;
  if (c == -1 || following == 0) return -1;
  bool listed = n < entries - following;
  return n >= before + categories && listed ? tail : -1;
}

// Resolves position n of the level that owner's child (first) begins. Sets node (-1 for a
// new one), parent, attach, dateIndex and hash as findLabelPath describes.
void resolvePosition(int owner, int first, int n, int entries, bool last, bool dateEntry,
                     const std::string& path, int& parent, int& node, int& attach,
                     int& dateIndex, Hashtab*& hash) {
  node = -1;
  hash = nullptr;
  auto known = levelCursors.find(owner);
  if (known == levelCursors.end()) {
    known = levelCursors.emplace(owner, LevelCursor()).first;
    known->second.spliced = hasPlaceholder(first);
  }
  LevelCursor& cursor = known->second;
  if (!cursor.spliced) {
    int tail = newCategoryAfter(first, n, entries);
    if (tail != -1) {
      if (!last) badPath(path);
      parent = tail;
      attach = 0;
      hash = axisLabels[tail].hash;
      return;
    }
    int pos = 0, at = first, before = -1;
    if (cursor.position >= 0 && cursor.position <= n) {
      pos = cursor.position;
      at = cursor.node;
    }
    while (at != -1 && pos < n) {
      before = at;
      at = axisLabels[at].sibling;
      pos++;
    }
    if (at != -1) {
      cursor.position = pos;
      cursor.node = at;
      node = at;
      hash = axisLabels[at].hash;
      return;
    }
    if (!last || pos < n) badPath(path);
    if (before != -1) {
      // The next entry of the level comes after the one made now.
      cursor.position = pos - 1;
      cursor.node = before;
    }
    if (before == -1) before = lastOfChain(first);
    if (before == -1) {
      parent = owner;
      attach = 1;
    } else {
      parent = before;
      attach = 0;
      hash = axisLabels[before].hash;
    }
    return;
  }
  std::vector<LevelStep> steps;
  spliceLevel(first, 0, -1, steps);
  int pos = 0;
  for (const LevelStep& s : steps) {
    if (s.placeholderEnd) {
      if (pos == n && last && dateEntry) {
        int lastChild = lastOfChain(axisLabels[s.label].child);
        parent = lastChild == -1 ? s.label : lastChild;
        attach = lastChild == -1 ? 1 : 0;
        dateIndex = s.dateIndex;
        pathPlaceholder = s.placeholder;
        return;
      }
      continue;
    }
    if (pos == n) {
      node = s.label;
      hash = axisLabels[s.label].hash;
      if (s.dateIndex) {
        dateIndex = s.dateIndex;
        pathPlaceholder = s.placeholder;
      }
      return;
    }
    pos++;
  }
  if (!last || pos < n) badPath(path);
  int tail = lastOfChain(first);
  parent = tail;
  attach = 0;
  hash = axisLabels[tail].hash;
}

// The label a new first child of label is to copy: a category of a grown level has the
// subtree of the profile below its level, as the categories of its level it was copied
// from have, so the first child of the nearest of those that has one is the model. -1 when
// there is none, or when label continues its own field one level deeper (multi-level).
int childModel(int label) {
  Hashtab* level = axisLabels[label].hash;
  if (axisLabels[label].multiLevelExpand) return -1;
  auto from = copiedFrom.find(label);
  if (!level) return from != copiedFrom.end() ? axisLabels[from->second].child : -1;
  for (int b = axisLabels[label].backLink; b != -1 && b != label; b = axisLabels[b].backLink) {
    if (axisLabels[b].hash != level) break;
    if (axisLabels[b].child != -1) return axisLabels[b].child;
  }
  if (from != copiedFrom.end()) return axisLabels[from->second].child;
  return -1;
}

// The label a new next sibling of label is to copy: when label copies a fixed item of the
// profile, the item that follows that one; -1 when a copy of label itself is right.
int siblingModel(int label) {
  auto from = copiedFrom.find(label);
  if (from == copiedFrom.end() || axisLabels[from->second].field != -1) return -1;
  return axisLabels[from->second].sibling;
}

// A copy of tree with leaves of its own (their texts and patterns shared): every label's
// tree is mapped from profile field slots to the data's columns once, after the re-read,
// and a shared tree would be mapped twice. Copied node by node, never parsed again from
// its text: a generated tree's text names its field by slot number, which a header could
// give to another column.
_MatchTree* ownCondition(const _MatchTree* tree) {
  if (!tree) return nullptr;
  _MatchTree* copy = (_MatchTree*)calloc(1, sizeof(_MatchTree));
  if (!copy) fatal(100, "Out of memory.\n");
  copy->type = tree->type;
  copy->leaf = tree->leaf ? copyMatch(tree->leaf) : nullptr;
  copy->left = ownCondition(tree->left);
  copy->right = ownCondition(tree->right);
  copy->text = tree->text ? _newStr(tree->text, __FILE__, __LINE__) : nullptr;
  return copy;
}

// copyTree of label, every label of the copy with a condition tree of its own.
int copyWithOwnConditions(int label) {
  int copy = copyTree(label);
  std::vector<int> stack{copy};
  while (!stack.empty()) {
    int n = stack.back();
    stack.pop_back();
    if (n < 0) continue;
    axisLabels[n].match = ownCondition(axisLabels[n].match);
    stack.push_back(axisLabels[n].sibling);
    stack.push_back(axisLabels[n].child);
  }
  return copy;
}

// One leaf of a condition as the cube writes it: the field is "f" and the number of the
// column it tested in the data the cube was built from.
struct WrittenLeaf {
  int column;  // -1 when the name is not "f" and digits
  char op;
  std::string value;
};

// The leaves of a written condition (already unescaped), in order. Read without giving its
// field names profile slots: a written number names a column, never a header's name.
std::vector<WrittenLeaf> writtenLeaves(const std::string& text) {
  std::vector<WrittenLeaf> leaves;
  const char* t = text.c_str();
  int pos = 0, size = (int)text.size();
  while (pos < size) {
    if (strchr("()JK;", t[pos])) {
      pos++;
      continue;
    }
    WrittenLeaf leaf;
    std::string name = getString(2, t, &pos);
    leaf.column = -1;
    if (name.size() > 1 && name.size() < 6 && name[0] == 'f' &&
        strspn(name.c_str() + 1, "0123456789") == name.size() - 1)
      leaf.column = atoi(name.c_str() + 1);
    char target = pos < size ? t[pos++] : '\0';
    if (target == 'H' || target == 'I') {
      getString(1, t, &pos);
      pos += 2;  // the part number and the '='
    } else if (target == 'G') {
      pos += 3;  // two columns and the '='
    } else if (target != '=') {
      fatal(110, "Condition '%s' in cube '%s' cannot be read.\n", text.c_str(),
            cubeName.c_str());
    }
    if (pos >= size)
      fatal(110, "Condition '%s' in cube '%s' cannot be read.\n", text.c_str(),
            cubeName.c_str());
    leaf.op = t[pos++];
    leaf.value = getString(2, t, &pos);
    leaves.push_back(leaf);
  }
  return leaves;
}

// The value a grown category stands for: that of its one written equality condition (the
// blank label for the empty value), else its label.
std::string categoryValue(const std::vector<WrittenLeaf>& written, const std::string& label) {
  if (written.size() != 1 || written[0].op != 'L') return label;
  const std::string& v = written[0].value;
  return v.empty() || v == blankLabel ? std::string(blankLabel) : v;
}

// Keeps the column that the written conditions of a field slot tested; two columns for one
// field are a cube the profile did not write.
void noteOldColumn(int slot, const std::vector<WrittenLeaf>& written, const std::string& path) {
  for (const WrittenLeaf& leaf : written) {
    if (slot < 0 || leaf.column < 0) continue;
    auto known = oldColumnOfSlot.emplace(slot, leaf.column).first;
    if (known->second != leaf.column)
      fatal(110, "Entry '%s' of axis %d in cube '%s' tests column %d where the cube tests "
            "its field in column %d; the cube cannot be extended.\n", path.c_str(),
            restoredAxes, cubeName.c_str(), leaf.column, known->second);
  }
}


}  // namespace

void resetTreeRestore() {
  restoredAxes = 0;
  levelCursors.clear();
  copiedFrom.clear();
  levelEntries.clear();
  oldColumnOfSlot.clear();
  topNumberBase = 0;
}

int findMatchFieldPart(_MatchTree* tree, AxisLabel&) {
  while (tree) {
    if (tree->type == MATCH_LEAF) return tree->leaf ? tree->leaf->part : -1;
    tree = tree->left ? tree->left : tree->right;
  }
  return -1;
}

void findLabelPath(const std::string& path, int& parent, int& node, int& attach,
                   int& dateIndex, Hashtab*& hash, bool dateEntry) {
  std::vector<std::string> parts = splitString(path, '.');
  // No path names no position; below a placeholder root it would take the place of the
  // root's first child.
  if (parts.empty()) badPath(path);
  node = -1;
  attach = 1;
  hash = nullptr;
  pathPlaceholder = -1;
  int root = parent;
  size_t next = 1;
  int owner, first;
  if (axisLabels[root].dateIndex != 0) {
    // A placeholder root: its children are the top entries, numbered by the first part.
    dateIndex = axisLabels[root].dateIndex;
    pathPlaceholder = root;
    owner = root;
    first = axisLabels[root].child;
    next = 0;
  } else {
    if (parts.size() <= 1) {
      node = root;
      return;
    }
    owner = root;
    first = axisLabels[root].child;
  }
  for (size_t i = next; i < parts.size(); i++) {
    // The top entries below a placeholder root count from the root's own number.
    int n = i == 0 ? positionNumber(parts[0], true) - topNumberBase
                   : positionNumber(parts[i], false);
    if (n < 0) badPath(path);
    bool last = i + 1 == parts.size();
    if (first == -1) {
      // An empty level: only its first position can be made, and only by the last part.
      if (!last || n != 0) badPath(path);
      if (axisLabels[owner].dateIndex != 0) {
        dateIndex = axisLabels[owner].dateIndex;
        pathPlaceholder = owner;
      }
      node = -1;
      hash = nullptr;
      parent = owner;
      attach = 1;
      return;
    }
    std::string level = parts[0];
    for (size_t p = 1; p < i; p++) level += "." + parts[p];
    resolvePosition(owner, first, n, levelEntries[level], last, dateEntry, path, parent, node,
                    attach, dateIndex, hash);
    if (last || node == -1) return;
    owner = node;
    first = axisLabels[node].child;
  }
}

namespace {

// What an axis entry says: its path and label, its items up to the next entry, its key.
struct AxisEntry {
  std::string path;
  std::string label;
  std::vector<std::string>::iterator items, itemsEnd;
  std::string key;
  bool hasKey = false;
  bool dateEntry = false;  // the key is one of a generated date label
};

// Where an entry stands in the axis being rebuilt.
struct EntryPlace {
  int parent = -1;   // as findLabelPath leaves it
  int node = -1;     // the entry's label; -1 until a new one is made
  int attach = 1;
  int dateIndex = 0;
  Hashtab* hash = nullptr;  // the category index the node joins
  int placeholder = -1;     // the date placeholder the path passed last
  bool dateLabel = false;   // the node is a generated date label
  bool made = false;        // the node is new, made by the re-reader
  int madeFrom = -1;  // the label of another category's subtree that a new node copies
};

// The entry at position: its path, its unescaped label, its items and its key.
AxisEntry readAxisEntry(std::vector<std::string>::iterator position,
                        std::vector<std::string>::iterator end) {
  AxisEntry e;
  const std::string& entry = *position;
  size_t eq = entry.find('=');
  e.path = eq == std::string::npos ? entry : entry.substr(0, eq);
  e.label = unescapeCarefully(eq == std::string::npos ? entry : entry.substr(eq + 1));
  // The entry's own items, up to the next entry.
  e.items = position + 1;
  e.itemsEnd = e.items;
  while (e.itemsEnd != end && isItem(*e.itemsEnd)) ++e.itemsEnd;
  for (auto it = e.items; it != e.itemsEnd; ++it)
    if (startsWith(*it, "key")) {
      e.key = unescapeCarefully(afterEquals(*it));
      e.hasKey = true;
    }
  e.dateEntry = e.hasKey && isDateKey(e.key);
  return e;
}

// A link of the label store: none, or a label made so far.
[[maybe_unused]] bool isLink(int label) { return label == -1 || (label >= 0 && label < nextFree); }

// Finds where the entry stands in the axis being read; the node stays -1 when it is new.
EntryPlace placeAxisEntry(const AxisEntry& e) {
  EntryPlace p;
  p.parent = axisRootIndex[restoredAxes];
  findLabelPath(e.path, p.parent, p.node, p.attach, p.dateIndex, p.hash, e.dateEntry);
  p.dateLabel = p.dateIndex > 0 && e.dateEntry;
  p.placeholder = pathPlaceholder;
  p.made = p.node == -1;
  assert(p.parent >= 0 && p.parent < nextFree && isLink(p.node));
  assert((p.attach == 0 || p.attach == 1) && p.dateIndex >= 0);
  return p;
}

// Makes the node of a new entry as the growth would have made it, and links it in place.
void makeEntryNode(EntryPlace& p) {
  int parent = p.parent, node;
  int model = p.dateLabel ? -1 : p.attach == 1 ? childModel(parent) : siblingModel(parent);
  if (p.dateLabel) {
    // Generated date labels are made afresh, as the date generator makes them.
    node = getNextFree();
    axisLabels[node].backLink = parent;
  } else if (model != -1) {
    node = duplicateNodeWOExpand(model);
    p.madeFrom = model;
    copiedFrom[node] = model;
    // A fixed item keeps its condition, as a copy made by the growth does: a cube written
    // with record viewing off carries none to read back. A tree of its own, since every
    // label's tree is later mapped to the data's columns once.
    if (axisLabels[node].field == -1)
      axisLabels[node].match = ownCondition(axisLabels[model].match);
    // The first category of a level has behind it, as the growth gives it, what the profile
    // put after the level.
    Hashtab* level = axisLabels[model].hash;
    int last = level ? level->tail : model;
    if (p.attach == 1 && axisLabels[model].field != -1 && axisLabels[last].sibling != -1)
      axisLabels[node].sibling = copyWithOwnConditions(axisLabels[last].sibling);
  } else {
    node = duplicateNodeWOExpand(parent);
    if (p.attach == 1) autobuildNext(node);
  }
  if (p.attach == 1) {
    axisLabels[parent].child = node;
  } else {
    axisLabels[node].sibling = axisLabels[parent].sibling;
    axisLabels[parent].sibling = node;
  }
  p.node = node;
}

// The leaves of the entry's written condition (its last "f0" item); false when it has none.
bool readWrittenCondition(const AxisEntry& e, std::vector<WrittenLeaf>& written) {
  bool hasCondition = false;
  for (auto it = e.items; it != e.itemsEnd; ++it)
    if (startsWith(*it, "f0")) {
      written = writtenLeaves(unescapeCarefully(afterEquals(*it)));
      hasCondition = true;
    }
  return hasCondition;
}

// Gives the entry's node its label and, as the growth gives a category, its condition and
// its place in the category index. valueKey: the entry's key is its index key.
void restoreCategory(const AxisEntry& e, const EntryPlace& p, bool hasCondition,
                     const std::vector<WrittenLeaf>& written, bool valueKey) {
  int node = p.node;
  AxisLabel& l = axisLabels[node];
  // A category is indexed under the value its records hold, which its label may show
  // altered (quotes, a cut), so the value of its equality condition is the index key.
  std::string indexKey =
      valueKey ? e.key : hasCondition ? categoryValue(written, e.label) : e.label;
  // A grown level that no record reached is written as its template: under the none label
  // and, unlike every category of an axis written with conditions, without one. With
  // record viewing off a category showing the none label carries its key.
  bool unreached = !p.hash && !p.dateLabel && l.field != -1 &&
                   (axisHasConditions ? !hasCondition : !e.hasKey && e.label == noneLabel);
  if (p.made && !p.dateLabel && l.field == -1 && hasCondition && !l.match)
    fatal(110, "Entry '%s' of axis %d in cube '%s' is an item the profile does not have; "
          "the cube cannot be extended.\n", e.path.c_str(), restoredAxes, cubeName.c_str());
  if (hasCondition && !unreached) {
    if (p.dateLabel)
      noteOldColumn(dateTable[p.dateIndex - 1].field, written, e.path);
    else if (l.field != -1)
      noteOldColumn(l.field, written, e.path);
  }
  if (!p.dateLabel && l.field != -1 && !unreached) {
    // The category's own condition, as growth gives it, not the one of the label it copies.
    l.match = categoryMatch(node, indexKey == blankLabel ? "" : indexKey.c_str());
  }
  // Only a grown level has a category index: a fixed item the profile happens to label like
  // a template is no level, and the entries after it are not its categories.
  if (!p.hash && !p.dateLabel && !unreached && l.field != -1)
    makeHashtab(node, indexKey.c_str());
  l.label = e.label;
  if (p.hash) {
    hashtabPut(p.hash, indexKey.c_str(), node);
    p.hash->tail = node;
    l.hash = p.hash;
  }
}

// Below a new node stands, as the growth gives it, a copy of what its model has below it
// when a date placeholder is part of that: the copy is a placeholder of its own, so the
// periods of this node come back under it and records still to come find it.
void copyPlaceholderBelow(const EntryPlace& p) {
  int node = p.node;
  if (!p.made || p.dateLabel || axisLabels[node].child != -1) return;
  int below = childModel(node);
  if (below == -1 && p.madeFrom != -1 && !axisLabels[node].multiLevelExpand)
    below = axisLabels[p.madeFrom].child;
  if (below != -1 && hasPlaceholder(below)) axisLabels[node].child = copyWithOwnConditions(below);
}

// Gives the node the entry's key, once per key item; a period of a date also the condition
// its date gives it and its place in that date's tables.
void restoreEntryKey(const AxisEntry& e, const EntryPlace& p, bool hasCondition) {
  int node = p.node, dateIndex = p.dateIndex;
  for (auto it = e.items; it != e.itemsEnd; ++it) {
    if (!startsWith(*it, "key")) continue;
    AxisLabel& l = axisLabels[node];
    l.setKey(_newStr(e.key.c_str(), __FILE__, __LINE__));
    if (dateIndex <= 0) continue;
    // A date label comes back with the condition the generator gives its period, on the
    // date's field as the new data's header places it.
    if (p.dateLabel) l.match = dateLabelCondition(dateIndex, l.key());
    if (!l.match && !hasCondition)
      fatal(110,
            "Date label '%s' in cube '%s' carries no condition (written with record "
            "viewing off); the cube cannot be extended.\n",
            l.label.c_str(), cubeName.c_str());
    if (!l.match)
      fatal(110, "Date label '%s' in cube '%s' has a key ('%s') that its date cannot "
            "give; the cube cannot be extended.\n", l.label.c_str(), cubeName.c_str(),
            l.key());
    dateUpdateHash(dateIndex, node, findMatchFieldPart(l.match, l), l.key(), p.placeholder);
    l.sort = strchr(l.key(), 'Q') ? 1 : 3;
    if (p.dateLabel) l.generatedDate = isDayKey(e.key) ? 0 : 1;
  }
}

}  // namespace

void parseAxisEntry(std::vector<std::string>& /*pieces*/,
                    std::vector<std::string>::iterator& position,
                    std::vector<std::string>::iterator& end) {
  AxisEntry e = readAxisEntry(position, end);
  EntryPlace p = placeAxisEntry(e);
  if (p.made) makeEntryNode(p);
  assert(p.node >= 0 && p.node < nextFree);
  // The written conditions test the columns of the data the cube was built from; the
  // labels get the conditions the profile and the growth give them, which name fields,
  // so that the new data's header maps old and new categories alike.
  std::vector<WrittenLeaf> written;
  bool hasCondition = readWrittenCondition(e, written);
  // Written with record viewing off, an entry has no condition, and a category whose label
  // is not its value carries the value as its key.
  bool valueKey = e.hasKey && !hasCondition && !e.dateEntry && p.dateIndex == 0;
  restoreCategory(e, p, hasCondition, written, valueKey);
  copyPlaceholderBelow(p);
  if (!valueKey) restoreEntryKey(e, p, hasCondition);
  // The rebuilt label links only labels of the store, and a category stands last in its
  // index until the next one read joins it.
  assert(isLink(axisLabels[p.node].child) && isLink(axisLabels[p.node].sibling));
  assert(!p.hash || p.hash->tail == p.node);
  position = e.itemsEnd;
}

void restoreAxis(ParamLine& line) {
  // The coordinates were cut by the axes read before them; a later axis has no part in them.
  if (coordsRead)
    fatal(110, "Cube '%s' holds an axis setting after its codedcoords.\n", cubeName.c_str());
  // Axes that can never grow a child were dropped from the cube that was written.
  while (restoredAxes < numberOfAxes) {
    int root = axisRootIndex[restoredAxes];
    if (root != -1) {
      AxisLabel& r = axisLabels[root];
      if (r.child != -1 || r.dateIndex != 0 || r.field != -1) break;
    }
    restoredAxes++;
  }
  if (restoredAxes >= numberOfAxes)
    fatal(110, "Cube '%s' holds more axes than the profile's %d.\n", cubeName.c_str(),
          numberOfAxes);
  dropTrailingCR(line.value);
  std::vector<std::string> pieces = splitString(line.value, ';');
  auto position = pieces.begin(), end = pieces.end();
  // The root's own entry says nothing the profile does not, unless the root is a date
  // placeholder, whose children are the top entries.
  if (axisLabels[axisRootIndex[restoredAxes]].dateIndex == 0) {
    if (position != end) ++position;
    while (position != end && isItem(*position)) ++position;
  } else if (position != end) {
    topNumberBase = positionNumber(position->substr(0, position->find('=')), true);
  }
  levelEntries.clear();
  axisHasConditions = false;
  for (auto p = position; p != end; ++p) {
    if (startsWith(*p, "f0")) axisHasConditions = true;
    if (isItem(*p)) continue;
    std::string path = p->substr(0, p->find('='));
    size_t dot = path.rfind('.');
    levelEntries[dot == std::string::npos ? std::string() : path.substr(0, dot)]++;
  }
  while (position != end) parseAxisEntry(pieces, position, end);
  assert(restoredAxes < (int)oldBits.size());
  oldBits[restoredAxes] = -1;  // present; its width is fixed by restoreCoords
  restoredAxes++;
}
