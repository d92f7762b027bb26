#!/usr/bin/env bash
# Hostile record queries through lighttpd against a private PostgreSQL server: the database
# user, the word check, the read-only transaction, the time and memory limits.
. "$(dirname "$0")/../lib/postgresql.sh"
. "$(dirname "$0")/../lib/odbc-attacks.sh"
