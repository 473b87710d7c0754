#!/usr/bin/env node
// Runs a WASI preview-1 command (bvex.wasm) under Node as if it were a native program:
//
//     node tools/wasi-run.mjs bvex.wasm [ARGS...]
//
// The module sees this machine's root as "/" and the current folder in $PWD, which bvex
// changes to, so relative and absolute file names both mean what they mean natively. It
// writes straight to this process's standard output and error (nothing is held back), and its
// exit status is this process's. The runner itself prints nothing (Node's warning that WASI
// is experimental is dropped) unless the module cannot be read, which ends it with status 2.
import { readFile } from "node:fs/promises";

const [wasmPath, ...args] = process.argv.slice(2);
if (wasmPath === undefined) {
    process.stderr.write("usage: wasi-run.mjs MODULE.wasm [ARGS...]\n");
    process.exit(2);
}

const emitWarning = process.emitWarning;
process.emitWarning = (warning, ...rest) => {
    const type = typeof rest[0] === "string" ? rest[0] : rest[0]?.type;
    if (type === "ExperimentalWarning" && String(warning).includes("WASI")) {
        return;
    }
    emitWarning.call(process, warning, ...rest);
};
const { WASI } = await import("node:wasi");

const wasi = new WASI({
    version: "preview1",
    args: [wasmPath, ...args],
    env: { PWD: process.cwd() },
    preopens: { "/": "/" },
    stdin: 0,
    stdout: 1,
    stderr: 2,
    returnOnExit: true,
});
let module;
try {
    module = await WebAssembly.compile(await readFile(wasmPath));
} catch (error) {
    process.stderr.write(`wasi-run.mjs: ${wasmPath}: ${error.message}\n`);
    process.exit(2);
}
const instance = await WebAssembly.instantiate(module, { wasi_snapshot_preview1: wasi.wasiImport });
process.exitCode = wasi.start(instance);
