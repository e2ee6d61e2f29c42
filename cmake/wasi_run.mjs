// Runs a WASI command module under Node.js's built-in WASI (node:wasi), the
// one WebAssembly runtime Debian 12 ships: Debian packages no command-line
// WASI runtime. The module gets this process's arguments after the module's
// path, its environment, and its standard input, output and error; its exit
// status is this process's.
//
// Usage: node --no-warnings wasi_run.mjs MODULE [ARG...]
import { readFile } from "node:fs/promises";
import { argv, env } from "node:process";
import { WASI } from "node:wasi";

const [modulePath, ...args] = argv.slice(2);
const wasi = new WASI({ version: "preview1", args: [modulePath, ...args], env, returnOnExit: true });
const module = await WebAssembly.compile(await readFile(modulePath));
const instance = await WebAssembly.instantiate(module, wasi.getImportObject());
process.exitCode = wasi.start(instance);
