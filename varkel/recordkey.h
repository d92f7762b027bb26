// Record keys: classifying each distinct value once. On one axis, what the growth walk does
// with a record and which leaves the matching walk finds depend on nothing but the fields
// that the axis's labels, their matches and their dates read. A record's key on an axis is
// the bytes of those fields; each pass remembers per key what its walk did and walks again
// only for a key it has not settled. A build compiled with VARKEL_FULL_WALK walks every
// record of every axis, for comparison.
#ifndef VARKEL_RECORDKEY_H
#define VARKEL_RECORDKEY_H

// Starts keyed work for the expansion pass (growing true) or the cube pass; ends it and
// frees what it kept. Outside a pass every query below answers "walk".
void beginKeyedPass(bool growing);
void endKeyedPass();

// Expansion pass, axis a, current record: true when an earlier record of the same key was
// grown without changing anything, so this one would change nothing either and need not
// be walked. When false the caller walks it and then calls keyedGrowthWalked(a, stamp)
// with the growthStamp() it took before the walk.
bool keyedGrowthSettled(int a);
void keyedGrowthWalked(int a, unsigned long stamp);

// A number that changes whenever tree growth changes anything (labels, links, tables,
// reports).
unsigned long growthStamp();

// Cube pass, axis a, current record: when the leaves of the record's key are known, puts
// them where the matching walk would (leafNums from firstLeaf[a], numLeaves[a]) and returns
// true. When false the caller walks and then calls keyedLeavesWalked(a).
bool keyedLeavesKnown(int a);
void keyedLeavesWalked(int a);

#endif
