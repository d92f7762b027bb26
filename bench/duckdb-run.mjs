// Runs the statements of one SQL file in a fresh in-memory DuckDB and prints the seconds
// they took, from the first statement to the end of the last (the process's own start, the
// module's load and the database's creation excluded).
//
// Usage: node duckdb-run.mjs FILE.sql   (with @duckdb/node-api installed beside this file)
import { DuckDBInstance } from '@duckdb/node-api';
import { readFileSync } from 'node:fs';

const sql = readFileSync(process.argv[2], 'utf8');
const instance = await DuckDBInstance.create(':memory:');
const connection = await instance.connect();
const start = performance.now();
await connection.run(sql);
console.log(((performance.now() - start) / 1000).toFixed(3));
connection.closeSync();
