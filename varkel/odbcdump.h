// The -dumpodbc listing of an ODBC result for the command line. Present only in builds with
// HAVE_ODBC.
#ifndef VARKEL_ODBCDUMP_H
#define VARKEL_ODBCDUMP_H

#ifdef HAVE_ODBC

// The rows -dumpodbc lists; -dumpodbcall lists every row.
const int dumpOdbcFirstRows = 15;

// Runs the ODBC source's statement and lists its result, a TAB between fields (the column
// names first; dumpOdbcFirstRows rows unless all), in the page's place: to outputFileName
// (through a temporary file) or to standard output; then ends the process with status 0.
[[noreturn]] void dumpODBC(bool all);

#endif

#endif
