// The build pipeline: from the compiled profile and the data source, through the
// expansion pass, tree shaping and the bit allocation, to the cube pass.
#ifndef VARKEL_PIPELINE_H
#define VARKEL_PIPELINE_H

// Records read in the current pass.
extern int numRecords;
// Coordinate layout: leaves of each axis, coordinate bits of each axis, and their sum
// (at most 128; the first axis lies in the highest bits).
extern int axisRange[32];
extern int axisBits[32];
extern int numberOfBits;

#endif
