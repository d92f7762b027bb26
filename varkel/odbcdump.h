// The -dumpodbc listing of an ODBC result for the command line. Present only in builds with
// HAVE_ODBC.
#ifndef VARKEL_ODBCDUMP_H
#define VARKEL_ODBCDUMP_H

#ifdef HAVE_ODBC

// Runs the ODBC source's statement and lists its result, a TAB between fields (the column
// names first; 15 rows unless all), to outputFileName (through a temporary file) or to
// standard output; then ends the process with status 0.
[[noreturn]] void dumpODBC(bool all);

#endif

#endif
