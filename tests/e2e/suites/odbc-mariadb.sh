#!/usr/bin/env bash
# The ODBC layer against a private MariaDB server through its own ODBC driver: cubes equal to
# the text-file builds, listings equal to the database client's, record queries paged through
# lighttpd, scrambled credentials that connect again, and the failures of a wrong password,
# an unknown table, a server that is not running and one that stops mid-pass.
. "$(dirname "$0")/../lib/mariadb.sh"
. "$(dirname "$0")/../lib/odbc-server.sh"
