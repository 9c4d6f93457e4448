// Prints a table as read by the npm package mdb-reader, as escaped TSV lines
// (Null as \N), for comparing readers. Usage: node mdbreader-tsv.mjs MODULE_DIR FILE TABLE
import { readFileSync } from "node:fs";
import { pathToFileURL } from "node:url";

const [moduleDir, file, tableName] = process.argv.slice(2);
const { default: MDBReader } = await import(pathToFileURL(`${moduleDir}/node_modules/mdb-reader/lib/node/index.js`).href);
const table = new MDBReader(readFileSync(file)).getTable(tableName);
const columns = table.getColumnNames();
const esc = (v) => (v === null ? "\\N" : String(v).replace(/\\/g, "\\\\").replace(/\t/g, "\\t").replace(/\n/g, "\\n").replace(/\r/g, "\\r"));
const out = [];
for (const row of table.getData()) out.push(columns.map((c) => esc(row[c])).join("\t"));
process.stdout.write(out.join("\n") + "\n");
