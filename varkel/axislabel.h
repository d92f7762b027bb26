// The label store: every node of every dimension tree is one AxisLabel in axisLabels,
// named by its int index (-1 = none) and linked to others by index. The store grows in
// whole chunks that never move, so a reference to a label stays valid while others are
// created. Also the leaf numbering of the axes once their trees are complete.
#ifndef VARKEL_AXISLABEL_H
#define VARKEL_AXISLABEL_H

#include <cassert>
#include <cstdint>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "varkel/hashtab.h"

struct _MatchTree;  // a match expression (varkel/match.h)

// The texts few labels carry, kept apart so that each of the million categories a grown
// level may hold is three pointers smaller. Every one is owned, or null.
struct LabelTexts {
  char* function = nullptr;           // computation of a computed node
  char* key = nullptr;                // sort key or generated date key
  std::string* separator = nullptr;   // characters that cut a field into parts
  std::string* format = nullptr;      // number format of a measure
};

struct AxisLabel {
  std::string label;        // text shown for the node
  LabelTexts* texts;        // owned; null while the label has none of them
  int32_t field;            // field slot read; -1 none; other negatives: counting measure
  int32_t endField;         // last column of a multi-level expansion across columns; -1 none
  int8_t firstColumn;       // first character column of a column range; -1 none
  int8_t lastColumn;        // last character column, inclusive; -1 none
  int8_t part;              // part counted from the left (level being expanded); -1 none
  int8_t backPart;          // part counted from the right; -1 none
  // lastPart and the flags share one 32-bit word.
  int8_t lastPart;                    // last part of a multi-level expansion; -1 none
  uint32_t multiLevelExpand : 1;      // expands its field over several levels
  uint32_t sort : 3;                  // 0 none, 1 a-z, 2 z-a, 3 numeric, 4 reverse numeric
  uint32_t dateIndex : 4;             // 1-15: placeholder of date table entry dateIndex - 1
  uint32_t generatedDate : 1;         // made by the date hierarchy generator (not days)
  _MatchTree* match;        // not owned (shared by copies); null matches every record
  int32_t child;            // first child; -1 none
  int32_t sibling;          // next sibling; -1 none
  int32_t backLink;         // label attached to, or the label copied from; -1 none
  Hashtab* hash;            // not owned; category index shared by a sibling chain

  AxisLabel()
      : texts(nullptr), field(-1),
        endField(-1), firstColumn(-1), lastColumn(-1), part(-1), backPart(-1), lastPart(-1),
        multiLevelExpand(0), sort(0), dateIndex(0), generatedDate(0), match(nullptr),
        child(-1), sibling(-1), backLink(-1), hash(nullptr) {}

  // The label's texts, each null when it has none.
  const char* function() const { return texts ? texts->function : nullptr; }
  const char* key() const { return texts ? texts->key : nullptr; }
  const std::string* separator() const { return texts ? texts->separator : nullptr; }
  const std::string* format() const { return texts ? texts->format : nullptr; }
  // Each takes an owned text, or null for none, and frees the one it replaces.
  void setFunction(char* text);
  void setKey(char* text);
  void setSeparator(std::string* text);
  void setFormat(std::string* text);

  // A copy with its own duplicates of function, key, separator and format; every other
  // field (links, match, hash) is copied as it is.
  AxisLabel(const AxisLabel& other);

  // Copies the texts and selectors of other, but leaves this label unlinked and without
  // matching: child and sibling -1, match and hash null, dateIndex 0; backLink and
  // generatedDate keep this label's values.
  AxisLabel& operator=(const AxisLabel& other);

  // Frees function, key, separator and format; never the match tree or the hash table.
  ~AxisLabel();
};

// A growable array that allocates chunkSize elements at a time and never moves them.
template <class T>
class ChunkArray {
 public:
  int32_t chunkSize;                  // elements per chunk
  int32_t maxIndexSeen;               // highest index ever passed to operator[]
  std::vector<std::vector<T>*> chunks;  // chunk k holds k*chunkSize .. (k+1)*chunkSize-1
  // The first element of each chunk, so that finding an element reads no chunk's own
  // bookkeeping, which lies apart from its elements.
  std::vector<T*> firsts;

  // Destroys a chunk's elements and frees the chunk.
  struct cleanup {
    void operator()(std::vector<T>* chunk) const { delete chunk; }
  };

  // Position {store, index}; dereferencing is store[index].
  class chunk_iterator {
   public:
    typedef std::forward_iterator_tag iterator_category;
    typedef T value_type;
    typedef std::ptrdiff_t difference_type;
    typedef T* pointer;
    typedef T& reference;

    chunk_iterator(ChunkArray* store, int index) : store(store), index(index) {}
    T& operator*() const { return (*store)[index]; }
    T* operator->() const { return &(*store)[index]; }
    chunk_iterator& operator++() {
      ++index;
      return *this;
    }
    chunk_iterator operator++(int) {
      chunk_iterator before = *this;
      ++index;
      return before;
    }
    bool operator==(const chunk_iterator& o) const {
      return store == o.store && index == o.index;
    }
    bool operator!=(const chunk_iterator& o) const { return !(*this == o); }

    ChunkArray* store;
    int index;
  };

  ChunkArray() : chunkSize(0), maxIndexSeen(0) {}
  ChunkArray(const ChunkArray&) = delete;
  ChunkArray& operator=(const ChunkArray&) = delete;
  ~ChunkArray() { clear(); }

  // Frees every chunk; init makes the array usable again.
  void clear() {
    cleanup release;
    for (std::vector<T>* chunk : chunks) release(chunk);
    chunks.clear();
    firsts.clear();
  }

  // Sets the chunk size and allocates chunk 0 at once.
  void init(int size) {
    assert(size > 0 && chunks.empty());
    chunkSize = size;
    growTo(0);
  }

  // The element at index (0 or more), allocating the chunks up to it on first access.
  // Raises maxIndexSeen to index. A negative index is error 110.
  T& operator[](int index);

  // Appends whole chunks of default elements until chunk number chunk exists. Kept out of
  // line so that operator[], called for nearly every step of every tree walk, stays small.
  __attribute__((noinline)) void growTo(int chunk) {
    while ((int)chunks.size() <= chunk) {
      chunks.push_back(new std::vector<T>(chunkSize));
      firsts.push_back(chunks.back()->data());
    }
  }

  // Every element from index 0 to maxIndexSeen, as end() is called.
  chunk_iterator begin() { return chunk_iterator(this, 0); }
  chunk_iterator end() { return chunk_iterator(this, maxIndexSeen + 1); }
};

// Ends the run for a label index below 0 (never returns).
[[noreturn]] void badLabelIndex(int index);

template <class T>
inline T& ChunkArray<T>::operator[](int index) {
  assert(index >= 0);
  if (index < 0) badLabelIndex(index);
  if (index > maxIndexSeen) maxIndexSeen = index;
  int chunk = index / chunkSize;
  if (chunk >= (int)firsts.size()) growTo(chunk);
  return firsts[chunk][index % chunkSize];
}

// Labels per chunk of axisLabels.
const int labelChunkSize = 948;

// Every label of every tree; chunk 0 exists from start-up.
extern ChunkArray<AxisLabel> axisLabels;

// The next index getNextFree hands out; starts at 0.
extern int nextFree;

// A map from non-negative ints to non-negative ints whose keys are dense (label indexes,
// leaf numbers), kept as a flat table: it reads like std::map<int, int> (find, at, count,
// size, iteration in key order) but costs four bytes a key instead of a tree node a leaf.
class DenseIntMap {
 public:
  // Position of the entry at key; dereferencing gives the pair {key, value}.
  class const_iterator {
   public:
    typedef std::forward_iterator_tag iterator_category;
    typedef std::pair<int, int> value_type;
    typedef std::ptrdiff_t difference_type;
    typedef const value_type* pointer;
    typedef const value_type& reference;

    const_iterator(const DenseIntMap* map, int key) : map(map), entry(key, -1) { settle(); }
    reference operator*() const { return entry; }
    pointer operator->() const { return &entry; }
    const_iterator& operator++() {
      ++entry.first;
      settle();
      return *this;
    }
    bool operator==(const const_iterator& o) const { return entry.first == o.entry.first; }
    bool operator!=(const const_iterator& o) const { return !(*this == o); }

   private:
    // Moves to the first key from here on that holds a value, or to the end.
    void settle() {
      int keys = (int)map->values.size();
      while (entry.first < keys && map->values[entry.first] < 0) ++entry.first;
      if (entry.first > keys) entry.first = keys;
      entry.second = entry.first < keys ? map->values[entry.first] : -1;
    }
    const DenseIntMap* map;
    value_type entry;
  };
  typedef const_iterator iterator;

  DenseIntMap() : entries(0) {}

  // Sets key (0 or more) to value (0 or more), adding the key when it is new.
  void set(int key, int value) {
    assert(key >= 0 && value >= 0);
    if (key >= (int)values.size()) values.resize(size_t(key) + 1, -1);
    if (values[key] < 0) entries++;
    values[key] = value;
  }
  const_iterator find(int key) const {
    return count(key) ? const_iterator(this, key) : end();
  }
  // The value of key, which must be present (std::out_of_range otherwise, as map::at).
  int at(int key) const {
    if (!count(key)) throw std::out_of_range("DenseIntMap::at");
    return values[key];
  }
  size_t count(int key) const {
    return key >= 0 && key < (int)values.size() && values[key] >= 0 ? 1 : 0;
  }
  size_t size() const { return entries; }
  bool empty() const { return entries == 0; }
  void clear() {
    values.clear();
    entries = 0;
  }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, (int)values.size()); }
  bool operator==(const DenseIntMap& o) const {
    if (entries != o.entries) return false;
    for (const_iterator a = begin(), b = o.begin(); a != end(); ++a, ++b)
      if (*a != *b) return false;
    return true;
  }

 private:
  std::vector<int> values;  // by key; -1 where a key has no value
  size_t entries;           // keys that hold a value
};

// Label index to leaf number within its axis, for every leaf of axes 0..numberOfAxes-1.
extern DenseIntMap nodeToLeaf;
// The same numbering as a flat array by label index, -1 for a label that is no leaf; it
// holds what numberLeaves made and does not follow other changes of nodeToLeaf.
extern std::vector<int> leafByLabel;
extern size_t leafByLabelCount;  // the size of nodeToLeaf when leafByLabel was made

// Per axis: leaf number to label index.
extern std::vector<DenseIntMap> leafToNode;

// Hands out the next label index (dense from 0, in creation order).
int getNextFree();

// Numbers the leaves of axes 0 to axes - 1, whose roots are roots[0..axes-1] (-1 none),
// walking depth-first on stack (left empty); the work of setLeafNumbers.
void numberLeaves(int axes, const int* roots, std::vector<int>& stack);

// True when a function text is of the old style, which the compiler keeps only to say it
// must be replaced: the tree writers write no function item for it.
bool isOldStyleFunction(const char* functionText);

// True when l is written as a computed node, with a function item: it has a function text
// that is not of the old style. Such a label, written without children, is no leaf.
bool isComputedLabel(const AxisLabel& l);

// True when label has a child the tree writers write. A date placeholder is never written,
// its children stand in its level in its place, so one without children stands for
// nothing: a label whose children are all such placeholders is written as a leaf.
bool hasWrittenChild(int label);

// Numbers the leaves of every axis 0 to numberOfAxes - 1 depth-first from the left,
// rebuilding nodeToLeaf and leafToNode. The leaves are the nodes the tree writers write
// without children, except the computed ones (a function item written): a placeholder
// takes no number, and a label with an old-style function is written as a plain one.
void setLeafNumbers();

#endif
