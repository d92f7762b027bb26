// Date hierarchy generation: the year, quarter, month and day labels that a date
// placeholder grows from the records.
#ifndef VARKEL_DATEGEN_H
#define VARKEL_DATEGEN_H

// Classifies the current record into the hierarchy below the date placeholder label;
// returns the top generated label reached, the blank-date label, or -1 when the date
// cannot be read.
int insertDate(int placeholder);

#endif
