#!/usr/bin/env node
// Why a file's byte stream stalls in Chromium, shown in a few lines: two files read whole
// in a worker through their streams' own (BYOB) readers, each read into a new buffer, until
// both end or no byte has come for 20 s. Run it with "loose": nothing but the pending read
// refers to each stream and its reader, and in Chromium 156 a read then now and then never
// ends (each new buffer makes garbage, and the collector takes the stream, read and all;
// within a few hundred MiB here). With "held": the streams and readers are kept in a global
// as well, and every run ends. The page keeps its streams so.
//
// Usage: node bench/stream_stall.mjs loose|held FILE [FILE] [--runs N]
// Needs the browser tests' packages and Chromium (tests/web, CONTRIBUTING.md).

import {writeFileSync, mkdtempSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

import {launchChromium} from '../tests/web/chromium.mjs';

const [mode, ...rest] = process.argv.slice(2);
const runsAt = rest.indexOf('--runs');
const runs = runsAt >= 0 ? Number(rest[runsAt + 1]) : 3;
const files = runsAt >= 0 ? rest.slice(0, runsAt) : rest;
if (!['loose', 'held'].includes(mode) || files.length === 0 || !(runs >= 1)) {
    process.stderr.write('usage: node bench/stream_stall.mjs loose|held FILE [FILE] [--runs N]\n');
    process.exit(2);
}

function readAll({files: chosen, held}) {
    const source = `onmessage = async ({data: {files, held}}) => {
        const kept = [];
        const at = files.map(() => 0);
        let last = Date.now();
        const watch = setInterval(() => {
            if (Date.now() - last > 20000) {
                clearInterval(watch);
                postMessage('stalled at ' + at.join(', '));
            }
        }, 500);
        await Promise.all(files.map(async (file, k) => {
            const stream = file.stream();
            const reader = stream.getReader({mode: 'byob'});
            if (held) {
                kept.push(stream, reader);
                self.kept = kept;
            }
            for (;;) {
                const {value, done} = await reader.read(new Uint8Array(new ArrayBuffer(1 << 20)));
                if (done) {
                    return;
                }
                at[k] += value.byteLength;
                last = Date.now();
            }
        }));
        clearInterval(watch);
        postMessage('ended at ' + at.join(', '));
    };`;
    return new Promise((resolve) => {
        const worker = new Worker(URL.createObjectURL(new Blob([source], {type: 'text/javascript'})));
        worker.onmessage = ({data}) => resolve(data);
        worker.postMessage({files: [...chosen.files], held});
    });
}

const dir = mkdtempSync(join(tmpdir(), 'bvex-stall-'));
try {
    writeFileSync(join(dir, 'stall.html'), '<!doctype html><title>stall</title><input type="file" multiple>');
    for (let i = 1; i <= runs; i++) {
        const browser = await launchChromium();
        try {
            const page = await browser.newPage();
            await page.goto(`file://${join(dir, 'stall.html')}`);
            await page.locator('input').setInputFiles(files);
            const started = Date.now();
            const outcome = await page.evaluate(`(${readAll})({files: document.querySelector('input'), held: ${mode === 'held'}})`);
            console.log(`${mode}, run ${i}: ${outcome} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
        } finally {
            await browser.close();
        }
    }
} finally {
    rmSync(dir, {recursive: true, force: true});
}
