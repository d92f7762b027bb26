// Looking one record ahead: while a pass works on a record, the slots where the next
// record's values will be looked up in the large category indexes of the axes' top grown
// levels are fetched into the cache. A level of a million categories would otherwise wait
// on memory once per record and pass.
#ifndef VARKEL_LOOKAHEAD_H
#define VARKEL_LOOKAHEAD_H

// A pass begins: the indexes are found again at the next look ahead.
void startLookahead();

// Fetches the next record's slots, its values read from the raw bytes after the current
// line. Only a guess: a value the splitter would read otherwise (quotes, blanks, a quoted
// separator) fetches a slot that is not used, and nothing else changes.
void lookAhead();

#endif
