// Growth of the dimension trees from the data: every record finds or makes its place on
// every axis during the expansion pass.
#ifndef VARKEL_GROW_H
#define VARKEL_GROW_H

#include <vector>

struct _MatchTree;

// The explicit stack of tree growth's depth-first walk (insertNode), run from empty to
// empty once per axis per record. Other walks (leaf numbering, counting, the matching of a
// record, the tree writers) keep stacks of their own.
extern std::vector<int> nodeStack;

// Counts the changes tree growth makes besides new labels: a template becoming a category,
// a date label linked in, a bad date value reported. Only ever grows.
extern unsigned long growthChanges;

// One step of the growth walk for the current record; pushes what is to be visited next.
void insertNode(int label);
// Places the current record in the grown level whose first label is label; returns the
// category found or made.
int insertHashNode(int label);
// A new unlinked label with label's texts and selectors and backLink label; -1 gives -1.
int duplicateNodeWOExpand(int label);
// A copy of the subtree at label and of what follows it; -1 gives -1. A date placeholder
// copies as a placeholder of the same date with level tables of its own and none of the
// labels below the original.
int copyTree(int label);
// Sets a label's text; null or empty sets the blank label's text.
void setLabel(int label, const char* text);
// 1 when a multi-level expansion may go one level deeper below label.
int autobuildContinue(int label);
// Moves a multi-level label to its next part.
void autobuildNext(int label);
// Gives label a category index holding text when it has none; returns label.
int makeHashtab(int label, const char* text);

// The generated equality match of a category of label's level on value, taken by label's
// field and cut (part, columns, separators).
_MatchTree* categoryMatch(int label, const char* value);

#endif
