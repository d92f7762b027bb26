#!/usr/bin/env bash
# Hostile record queries through lighttpd against a private MariaDB server: the database
# user, the word check, the read-only transaction, the time limit.
. "$(dirname "$0")/../lib/mariadb.sh"
. "$(dirname "$0")/../lib/odbc-attacks.sh"
