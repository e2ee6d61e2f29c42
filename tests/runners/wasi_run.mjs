// Runs a WASI module under Node.js's WASI, the one WebAssembly runtime
// Debian 12 ships, with this process's arguments, environment and standard
// streams; its status is this process's. Nothing here touches
// process.stdout or imports node:process: either makes Node put a pipe in
// non-blocking mode under the module's feet. The runner's own failure is
// one line on standard error and status 125.
// Usage: node --no-warnings wasi_run.mjs MODULE [ARG...]
import { writeSync } from "node:fs";
import { readFile } from "node:fs/promises";
import { WASI } from "node:wasi";

const [modulePath, ...args] = process.argv.slice(2);
try {
  const wasi = new WASI({ version: "preview1", args: [modulePath, ...args], env: process.env, returnOnExit: true });
  const module = await WebAssembly.compile(await readFile(modulePath));
  // Node 18 has no getImportObject(); this is what it returns.
  const instance = await WebAssembly.instantiate(module, { wasi_snapshot_preview1: wasi.wasiImport });
  process.exitCode = wasi.start(instance);
} catch (error) {
  writeSync(2, `wasi_run.mjs: ${modulePath}: ${error.message}\n`);
  process.exitCode = 125;
}
