// The build pipeline: from the compiled profile and the data source, through the
// expansion pass, tree shaping and the bit allocation, to the cube pass.
#ifndef VARKEL_PIPELINE_H
#define VARKEL_PIPELINE_H

#include <cstdio>

// Records read in the current pass.
extern int numRecords;
// Coordinate layout: leaves of each axis, coordinate bits of each axis, and their sum
// (at most 128; the first axis lies in the highest bits).
extern int axisRange[32];
extern int axisBits[32];
extern int numberOfBits;

// The whole compiled-profile text (null when none) and its allocated size. Read from the
// profile stream on the command line; the CGI front end sets it from W3_wholeprofile.
extern char* profileBuffer;
extern int profileBufferSize;

// Cube rebuilds of the run, shown by -stats; nothing in this build changes it.
extern int rebuildCount;

// Widest coordinate the cube key holds.
const int maxCoordinateBits = 128;

// The build: reads the profile, grows the trees from the records and runs the cube pass
// (each phase below, in order), as the run asked for.
void buildPipeline();

// The phases of buildPipeline, in the order it runs them; separate so each can be
// exercised on its own.

// Reads the profile text from pifp (command line) into profileBuffer, decodes it, applies
// the -param texts, adds the default measures, closes pifp and resolves the data file
// name. No axis is fatal 3.
void readProfilePhase();

// Gives the measures tree a root with at least one measure below it: a "Count" measure
// when the profile has none, and a "Measures" root above a root without children.
void ensureMeasuresAxis();

// newDataFileName from dataFileName: "stdin" and absolute names as they are, others after
// profileDirectory. Nothing happens without a source. A text-file name too long for its
// 256-byte buffer is fatal 1.
void resolveDataFileName();

// True when the expansion pass / the cube pass will run.
bool expansionPassRuns();
bool cubePassRuns();

// The expansion pass: grows the trees from every record, then prunes, sorts and trims.
void expansionPass();

// Drops the axes whose root has no children (with a message each) and closes up the rest;
// none kept is fatal 3.
void pruneAxes();

// Gives every axis its range and coordinate bits and numbers the leaves. Wider than 128
// bits is fatal 110 after the explanation.
void layOutCoordinates();

// The cube pass: classifies every record into the cube.
void cubePass();

#endif
