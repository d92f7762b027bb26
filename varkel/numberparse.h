// The number parser of the cube pass: the measures of the current record as numbers.
#ifndef VARKEL_NUMBERPARSE_H
#define VARKEL_NUMBERPARSE_H

// The value of measure m of the current record; HUGE_VAL when empty or non-numeric.
double extractAField(int measure);

#endif
