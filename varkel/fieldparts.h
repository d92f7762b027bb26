// Field parts: the piece of one field of the current record that names a category or that
// a match leaf compares: the whole field, part n counted from the left or from the right
// (parts cut by a set of separator characters), or a range of character columns. Tree
// growth, match evaluation and date reading all cut through these functions, so the value
// that names a category and the value its match compares are cut by the same rule.
//
// A separator set of one character matches that character; a longer set matches any of
// its characters; a null or empty set matches nothing, so the field is one part. Part
// numbers count from 0; a negative part number counts as 0.
#ifndef VARKEL_FIELDPARTS_H
#define VARKEL_FIELDPARTS_H

// The category value of the current record for the auto-build label label, cut by the
// label's selectors (part, else backPart, else firstColumn..lastColumn, else the whole
// field of its field slot), and the more flag in *more. An empty value is blankLabel.
// The result stays valid until the next cut of the same kind.
const char* getField(int label, int* more);

// Part n, counted from the left, of field slot field of inputFields. Sets *more to 1 when a
// separator follows the part. A field with too few parts gives the whole field (more 0),
// returned as the record's own row; a part is returned in a buffer of this function.
// A field slot outside 0-512 reads as an empty field.
const char* extractPart(int field, int n, const char* separators, int* more);
// The text extractPart would return, without copying it: sets *start to where it begins
// in the field and returns its length.
int extractPartSpan(int field, int n, const char* separators, const char** start);

// Part n, counted from the right, of field slot field. Sets *more to 1 when the part does not
// start at column 0. With exactly n or n - 1 separators in the field the part starts at
// column 0; with fewer the result is the whole field (more 0).
const char* reverseExtractPart(int field, int n, const char* separators, int* more);

// Leaves columns first..last (0-based, inclusive) of text in partPattern, cut at the text's
// end; empty when text is null, first is negative or not below the text's length, or last
// is below first.
void extractFieldColumns(int first, int last, const char* text);

// The cuts of extractPart and reverseExtractPart applied to text itself: the part is left
// in partPattern and the more flag is the result. A null or empty text leaves partPattern
// empty and gives 0.
int extractPartField(int n, const char* separators, const char* text);
int reverseExtractPartField(int n, const char* separators, const char* text);

#endif
