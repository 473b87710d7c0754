#!/usr/bin/env node
// The command bvex of the npm package bvex. It runs the native bvex of the package for this
// machine (@bvex/linux-x64 and the others, optional dependencies of which npm installs the
// one that fits), or where there is none, bvex.wasm under Node's own WASI. Either way the
// arguments reach bvex untouched, bvex writes straight to this process's standard output
// and error, and this process ends as bvex did: with its exit status, or killed by the
// same signal, so that a shell or a script sees no difference from running bvex itself.
// It prints nothing of its own unless it cannot start bvex at all (status 2).
"use strict";
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");

// The package of each machine's bvex, by Node's platform and architecture. Windows on ARM
// runs the x86-64 bvex.exe through its own emulation; the Mac's bvex holds both halves.
const NATIVE = {
    "linux x64": "@bvex/linux-x64",
    "linux arm64": "@bvex/linux-arm64",
    "linux arm": "@bvex/linux-arm",
    "linux riscv64": "@bvex/linux-riscv64",
    "win32 x64": "@bvex/win32-x64",
    "win32 arm64": "@bvex/win32-x64",
    "darwin x64": "@bvex/darwin-universal",
    "darwin arm64": "@bvex/darwin-universal",
};
// The signals that, sent to this process, are passed on to bvex (a terminal sends its
// interrupt, quit and hangup to both already; bvex ends by its own). This process waits
// for bvex to end and then ends as it did.
const FORWARDED = ["SIGHUP", "SIGINT", "SIGQUIT", "SIGTERM"];

// Node ignores SIGPIPE; a listener added and removed again puts back its default action.
// Children get the default from Node anyway; this process needs it to die as bvex does,
// and bvex.wasm, which writes through this process, to end quietly on a closed pipe.
function defaultAction(signal) {
    const ignore = () => {};
    process.on(signal, ignore);
    process.removeListener(signal, ignore);
}

// Ends this process as bvex ended: by the same signal where it was killed by one.
function endAs(status, signal) {
    if (signal !== null && process.platform !== "win32") {
        defaultAction(signal);
        process.kill(process.pid, signal);
        // Only a signal that Node itself handles gets here (SIGSEGV, for its WebAssembly
        // guards): the status a shell shows for the signal.
        process.exit(128 + require("node:os").constants.signals[signal]);
    }
    process.exit(status ?? 1);
}

// The native bvex for this machine, or null where no installed package has one: none for
// this platform, or the package not installed (npm --no-optional, another machine's
// node_modules), or a 32-bit ARM board older than ARMv7, which the armhf bvex needs.
function native() {
    const name = NATIVE[`${process.platform} ${process.arch}`];
    if (name === undefined) {
        return null;
    }
    if (process.arch === "arm" && Number(process.config.variables.arm_version) < 7) {
        return null;
    }
    let folder;
    try {
        folder = path.dirname(require.resolve(`${name}/package.json`));
    } catch {
        return null;
    }
    const file = path.join(folder, process.platform === "win32" ? "bvex.exe" : "bvex");
    return fs.existsSync(file) ? file : null;
}

function runNative(file, args) {
    const child = spawn(file, args, { stdio: "inherit" });
    const pass = (signal) => child.kill(signal);
    for (const signal of FORWARDED) {
        process.on(signal, pass);
    }
    child.on("error", (error) => {
        // Not started (the file is there but cannot run here): bvex.wasm instead.
        for (const signal of FORWARDED) {
            process.removeListener(signal, pass);
        }
        if (error.syscall !== undefined && error.syscall.startsWith("spawn")) {
            runWasm(args);
        } else {
            process.stderr.write(`bvex: ${file}: ${error.message}\n`);
            process.exit(2);
        }
    });
    child.on("exit", (status, signal) => {
        for (const forwarded of FORWARDED) {
            process.removeListener(forwarded, pass);
        }
        endAs(status, signal);
    });
}

// bvex.wasm, a WASI preview-1 command, run as tools/wasi-run.mjs runs it in the project:
// the machine's root preopened as "/" and the current folder in $PWD, which bvex changes to,
// so that relative and absolute names mean what they mean natively; the module writes to
// this process's own standard streams, and its exit status is this process's.
function runWasm(args) {
    const wasmPath = path.join(__dirname, "..", "bvex.wasm");
    // Node's warning that WASI is experimental would be a line that bvex never prints.
    const emitWarning = process.emitWarning;
    process.emitWarning = (warning, ...rest) => {
        const type = typeof rest[0] === "string" ? rest[0] : rest[0]?.type;
        if (type === "ExperimentalWarning" && String(warning).includes("WASI")) {
            return;
        }
        emitWarning.call(process, warning, ...rest);
    };
    const { WASI } = require("node:wasi");
    const wasi = new WASI({
        version: "preview1",
        args: ["bvex", ...args],
        env: { PWD: process.cwd() },
        preopens: { "/": "/" },
        stdin: 0,
        stdout: 1,
        stderr: 2,
        returnOnExit: true,
    });
    let module;
    try {
        module = new WebAssembly.Module(fs.readFileSync(wasmPath));
    } catch (error) {
        process.stderr.write(`bvex: ${wasmPath}: ${error.message}\n`);
        process.exit(2);
    }
    if (process.platform !== "win32") {
        // A closed pipe ends bvex.wasm's write, and this process, by SIGPIPE as it ends bvex.
        defaultAction("SIGPIPE");
    }
    const instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: wasi.wasiImport });
    process.exitCode = wasi.start(instance);
}

const args = process.argv.slice(2);
const file = native();
if (file === null) {
    runWasm(args);
} else {
    runNative(file, args);
}
