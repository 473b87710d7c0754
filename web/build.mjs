#!/usr/bin/env node
// Builds the page: one HTML file holding its style, its script, the worker's source and
// bvex.wasm (base64), under a Content-Security-Policy that allows exactly those (by their
// SHA-256) and nothing from the network. The output depends only on the inputs.
//
//   node web/build.mjs --wasm PATH --version X.Y.Z --out PATH

import {createHash} from 'node:crypto';
import {readFileSync, writeFileSync} from 'node:fs';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));

function options(argv) {
    const known = {'--wasm': 'wasm', '--version': 'version', '--out': 'out'};
    const result = {};
    for (let i = 0; i < argv.length; i += 2) {
        const key = known[argv[i]];
        if (!key || i + 1 >= argv.length) {
            throw new Error(`usage: node web/build.mjs --wasm PATH --version X.Y.Z --out PATH (at "${argv[i]}")`);
        }
        result[key] = argv[i + 1];
    }
    for (const key of Object.values(known)) {
        if (!result[key]) {
            throw new Error(`missing --${key}`);
        }
    }
    if (!/^\d+\.\d+\.\d+$/.test(result.version)) {
        throw new Error(`--version must be X.Y.Z, not "${result.version}"`);
    }
    return result;
}

const source = (name) => readFileSync(join(here, name), 'utf8');

// A JavaScript string literal that cannot end the inline script it stands in.
const literal = (text) => JSON.stringify(text).replace(/</g, '\\u003c');

const hash = (text) => `'sha256-${createHash('sha256').update(text, 'utf8').digest('base64')}'`;

function build({wasm, version}) {
    const bytes = readFileSync(wasm);
    if (bytes.length < 8 || bytes.readUInt32LE(0) !== 0x6d736100) {
        throw new Error(`${wasm} is not a WebAssembly module`);
    }
    const worker = `'use strict';\n${source('wasi.js')}\n${source('worker.js')}`;
    const script = `\nconst BVEX_WASM = "${bytes.toString('base64')}";\nconst BVEX_WORKER = ${literal(worker)};\n${source('lines.js')}\n${source('map.js')}\n${source('bytes.js')}\n${source('page.js')}`;
    const style = `\n${source('style.css')}`;
    if (/<\/script/i.test(script) || /<!--/.test(script) || /<\/style/i.test(style)) {
        throw new Error('the script or the style would end its element early');
    }
    const csp = [
        "default-src 'none'",
        `script-src ${hash(script)} 'wasm-unsafe-eval'`,
        `style-src ${hash(style)}`,
        'worker-src blob:',
        "base-uri 'none'",
        "form-action 'none'",
    ].join('; ');
    const parts = {CSP: csp, VERSION: version, STYLE: style, SCRIPT: script};
    const html = source('index.html').replace(/@([A-Z]+)@/g, (whole, key) => {
        if (!(key in parts)) {
            throw new Error(`index.html: unknown placeholder ${whole}`);
        }
        return parts[key];
    });
    if (/\b(?:https?|wss?|ftp):\/\//i.test(html)) {
        throw new Error('the page names a network address');
    }
    return html;
}

try {
    const opts = options(process.argv.slice(2));
    writeFileSync(opts.out, build(opts));
} catch (error) {
    process.stderr.write(`build.mjs: ${error.message}\n`);
    process.exit(1);
}
