// The -dumpodbc listing: the first rows, or all, of the ODBC source's result as text. Left out
// of builds without ODBC.
#ifdef HAVE_ODBC

#include "varkel/odbcdump.h"

#include <stdio.h>

#include "common/util.h"
#include "varkel/datasource.h"
#include "varkel/input.h"
#include "varkel/odbc.h"
#include "varkel/outfiles.h"
#include "varkel/options.h"
#include "varkel/report.h"

void dumpODBC(bool all) {
  // The dump runs before the profile is read: only -datasource can have named the source.
  if (!dataFileName) fatal(106, "No data source specified.\n");
  if (dataType != odbcData || dataFileName[0] == '\0')
    fatal(102, "No ODBC/SQL data source specified.\n");
  if (!odbcSelect || odbcSelect[0] == '\0')
    fatal(103, "No ODBC/SQL selection statement specified.\n");
  writeInPlaceOfPage([all](FILE* out) {
    ODBC_Open(dataFileName, odbcUser, odbcPassword, odbcSelect);
    int columns = 0, rows = 0;
    for (;;) {
      int rc = ODBC_GetRecord(inputFields, maxInputFields, fieldSize, columns);
      if (columns == 0) fatal(108, "ODBC table has zero columns.\n");
      if (rc != 0) break;
      if (rows == 0) {
        for (int c = 0; c < columns; c++) fprintf(out, c ? "\t%s" : "%s", newDataFieldNames[c]);
        fputc('\n', out);
      }
      for (int c = 0; c < columns; c++) fprintf(out, c ? "\t%s" : "%s", inputFields[c]);
      fputc('\n', out);
      if (++rows == dumpOdbcFirstRows && !all) break;
    }
    ODBC_Close();
  });
  jump_exit(0);
}

#endif
