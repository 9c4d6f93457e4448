// Prints what the npm package mdb-reader reads from a database, as one JSON
// object: user and system table names, and each user table's columns and rows.
// Usage: node dump.mjs MODULE_DIR FILE
import { readFileSync } from "node:fs";
import { pathToFileURL } from "node:url";

const [moduleDir, file] = process.argv.slice(2);
const { default: MDBReader } = await import(pathToFileURL(`${moduleDir}/node_modules/mdb-reader/lib/node/index.js`).href);
const reader = new MDBReader(readFileSync(file));
const out = {
  user: reader.getTableNames(),
  system: reader.getTableNames({ normalTables: false, systemTables: true }),
  tables: {},
};
for (const name of out.user) {
  const table = reader.getTable(name);
  const columns = table.getColumnNames();
  out.tables[name] = {
    columns: table.getColumns().map((c) => [c.name, c.type]),
    rows: table.getData().map((row) => columns.map((c) => row[c])),
  };
}
process.stdout.write(JSON.stringify(out));
