// The writers of the dimension and measures trees: the compact form of the cube page (one
// setting per tree, lumetraaxis%d and lumetrarecord%d) and the one-setting-per-node forms
// of the profile pages (dx0, dx0.0, ... and dr0, dr0.0, ...). Each writes to the cube file
// when one is written (emitCB4), else to the page.
#ifndef VARKEL_TREES_H
#define VARKEL_TREES_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The tree writers' walk stack, their own so that no other walk can eat its entries, and
// its companions, kept in the same order: the name and the number given to each pending
// node. Push and pop all three together.
extern std::vector<int> treeNodeStack;
extern std::vector<std::string> nodeNameStack;
extern std::vector<int> nodeNumberStack;

// Entries written into the compact trees of one cube page; the caller resets it to 0
// before the first tree.
extern int totalNodeCount;

// Pushes (node, name, number) on the three walk stacks; -1 pushes nothing.
void pushTreeNode(int node, const std::string& name, int number);

// Walks the tree at root (named name and number) on the three walk stacks, handing every
// pending entry to visit, which pushes what follows it. Entries other walks left below
// the walk are not touched. -1 does nothing.
void walkTree(int root, const std::string& name, int number,
              const std::function<void(int node, const char* name, int number)>& visit);

// The name of a node given name and number: "%s%d" for the top names ("dx", "x", "dr",
// "y"; with onlyProfileTops just "dx" and "dr"), "%s.%d" otherwise.
std::string treeNodeName(const std::string& name, int number, bool onlyProfileTops);

// Writes node as one setting of the expanded profile page, then pushes its next sibling
// (same name, number + 1) and its first child (its own name, number 0). -1 does nothing.
void outputTree(int node, const char* name, int number);

// The same for the unexpanded profile page: the auto-build description of each node in
// place of its match and key.
void outputUnexpandedTree(int node, const char* name, int number);

// Writes the whole tree at root as one setting: prefix "x" names it lumetraaxis<number>,
// "y" lumetrarecord<number>, any other prefix writes the entries without a name. -1 gives
// an empty value. Date placeholders are not written; see outputCompactTree2.
void outputCompactTree(int root, const char* prefix, int number);

// Writes one entry of a compact tree to stream, adds 1 to totalNodeCount and pushes the
// node's sibling and child. A date placeholder writes nothing: its children take its
// place among its siblings.
void outputCompactTree2(FILE* stream, int node, const char* name, int number);

#endif
