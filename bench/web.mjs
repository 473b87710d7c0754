#!/usr/bin/env node
// Benchmark of the page in Debian's Chromium: the 1 GiB identical pair compared by the page
// against a bare page that only reads both files the same way (a worker, JSPI, each file's
// stream reader filling one reused buffer, the bytes copied into WebAssembly memory: the
// browser's floor), and how much the browser's memory grows (the resident memory of all its
// processes, peak during the run against just before it). Prints a table.
//
// Usage: node bench/web.mjs --page PATH [--dir DIR] [--runs N] [--size BYTES] [--keep]
//   --page PATH  the built page, bvex-X.Y.Z-web.html
//   --dir DIR    data folder (default $BVEX_BENCH_DIR or /tmp/bvex-bench)
//   --runs N     timed runs of each page, each in a browser of its own (default 5)
//   --size N     bytes per file (default 1073741824; a suffix K, M or G multiplies)
//   --keep       keep the data files it made (a later run reuses them)
// Needs playwright-core from tests/web (cd tests/web && npm ci).

import {spawnSync} from 'node:child_process';
import {randomFillSync} from 'node:crypto';
import {closeSync, copyFileSync, existsSync, mkdirSync, openSync, readdirSync, readFileSync, rmdirSync, rmSync, statSync, writeFileSync, writeSync} from 'node:fs';
import {join, resolve} from 'node:path';
import {pathToFileURL} from 'node:url';

import {launchChromium} from '../tests/web/chromium.mjs';

const HANG_MS = 600_000;
const MiB = 1024 * 1024;

function options(argv) {
    const result = {dir: process.env.BVEX_BENCH_DIR || '/tmp/bvex-bench', runs: 5, size: 1024 * MiB, keep: false};
    for (let i = 0; i < argv.length; i++) {
        const value = () => {
            if (i + 1 >= argv.length) {
                throw new Error(`${argv[i]} needs a value`);
            }
            return argv[++i];
        };
        if (argv[i] === '--page') {
            result.page = resolve(value());
        } else if (argv[i] === '--dir') {
            result.dir = resolve(value());
        } else if (argv[i] === '--runs') {
            result.runs = Number(value());
        } else if (argv[i] === '--size') {
            const [, digits, unit] = value().match(/^(\d+)([KMG]?)$/) ?? [];
            result.size = Number(digits) * ({'': 1, K: 1024, M: MiB, G: 1024 * MiB}[unit] ?? NaN);
        } else if (argv[i] === '--keep') {
            result.keep = true;
        } else {
            throw new Error(`unknown argument ${argv[i]}`);
        }
    }
    if (!result.page || !existsSync(result.page)) {
        throw new Error('--page must name the built page');
    }
    if (!(result.runs >= 1) || !(result.size >= 1)) {
        throw new Error('--runs and --size must be positive');
    }
    return result;
}

// The identical pair: random bytes, then a copy; files of the right size are reused.
function makePair(dir, size) {
    const made = [];
    const [a, b] = [join(dir, 'id_a'), join(dir, 'id_b')];
    const sizeOf = (path) => (existsSync(path) ? statSync(path).size : -1);
    if (sizeOf(a) !== size) {
        const fd = openSync(a, 'w');
        const chunk = Buffer.alloc(16 * MiB);
        for (let done = 0; done < size; done += chunk.length) {
            randomFillSync(chunk);
            writeSync(fd, chunk, 0, Math.min(chunk.length, size - done));
        }
        closeSync(fd);
        made.push(a);
    }
    if (sizeOf(b) !== size || spawnSync('cmp', ['-s', a, b]).status !== 0) {
        copyFileSync(a, b);
        made.push(b);
    }
    // Both in the page cache, as for the native benchmark.
    for (const path of [a, b]) {
        spawnSync('cat', [path], {stdio: ['ignore', 'ignore', 'inherit']});
    }
    return {a, b, made};
}

// A module whose run() calls the imported read(0) and read(1) until both give 0 bytes.
const FLOOR_WASM = [
    0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00,
    0x01, 0x09, 0x02, 0x60, 0x01, 0x7f, 0x01, 0x7f, 0x60, 0x00, 0x00, // types (i32)->i32, ()->()
    0x02, 0x0c, 0x01, 0x03, 0x65, 0x6e, 0x76, 0x04, 0x72, 0x65, 0x61, 0x64, 0x00, 0x00, // env.read
    0x03, 0x02, 0x01, 0x01, // run: ()->()
    0x05, 0x04, 0x01, 0x00, 0x80, 0x01, // memory of 128 pages (8 MiB)
    0x07, 0x10, 0x02, 0x06, 0x6d, 0x65, 0x6d, 0x6f, 0x72, 0x79, 0x02, 0x00, 0x03, 0x72, 0x75, 0x6e, 0x00, 0x01,
    0x0a, 0x12, 0x01, 0x10, 0x00, 0x03, 0x40, 0x41, 0x00, 0x10, 0x00, 0x41, 0x01, 0x10, 0x00, 0x72, 0x0d, 0x00, 0x0b, 0x0b,
];

// The floor page: reads both files the way the page's worker does, and nothing else.
function floorPage(dir) {
    const worker = `
onmessage = async ({data: files}) => {
    const started = performance.now();
    const module = await WebAssembly.compile(new Uint8Array(${JSON.stringify(FLOOR_WASM)}));
    let memory = null;
    const sources = files.map((file) => ({reader: file.stream().getReader({mode: 'byob'}), buffer: new ArrayBuffer(4 << 20)}));
    const read = new WebAssembly.Suspending(async (i) => {
        const source = sources[i];
        const {value, done} = await source.reader.read(new Uint8Array(source.buffer));
        if (value) {
            source.buffer = value.buffer;
        }
        if (done) {
            return 0;
        }
        new Uint8Array(memory.buffer, 0, value.length).set(value);
        return value.length;
    });
    const instance = await WebAssembly.instantiate(module, {env: {read}});
    memory = instance.exports.memory;
    await WebAssembly.promising(instance.exports.run)();
    postMessage((performance.now() - started) / 1000);
};`;
    const html = `<!doctype html><html lang="en"><meta charset="utf-8"><title>floor</title>
<input type="file" id="a" aria-label="Original file"><input type="file" id="b" aria-label="Patched file">
<button id="go">Read</button><p id="out" role="status" aria-busy="false"></p>
<script>
const url = URL.createObjectURL(new Blob([${JSON.stringify(worker)}], {type: 'text/javascript'}));
document.getElementById('go').onclick = () => {
    const out = document.getElementById('out');
    out.setAttribute('aria-busy', 'true');
    const w = new Worker(url);
    w.onmessage = ({data}) => { out.textContent = 'read in ' + data + ' s'; out.setAttribute('aria-busy', 'false'); w.terminate(); };
    w.postMessage([document.getElementById('a').files[0], document.getElementById('b').files[0]]);
};
</script></html>`;
    const path = join(dir, 'floor.html');
    writeFileSync(path, html);
    return path;
}

// Resident bytes of this process's descendants (the browser and all its helpers).
function browserResident() {
    const parent = new Map();
    const resident = new Map();
    for (const name of readdirSync('/proc')) {
        if (!/^\d+$/.test(name)) {
            continue;
        }
        try {
            const stat = readFileSync(`/proc/${name}/stat`, 'utf8');
            const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
            parent.set(Number(name), Number(fields[1]));
            resident.set(Number(name), Number(fields[21]) * 4096);
        } catch {
            // The process ended while being looked at.
        }
    }
    let total = 0;
    for (const [pid, bytes] of resident) {
        for (let p = parent.get(pid); p; p = parent.get(p)) {
            if (p === process.pid) {
                total += bytes;
                break;
            }
        }
    }
    return total;
}

// One run in a fresh browser: seconds from the click to the end, and the memory growth.
async function measure(url, pair, button, expectDone) {
    const browser = await launchChromium();
    try {
        const page = await browser.newPage();
        await page.goto(url);
        await page.getByLabel('Original file').setInputFiles(pair.a);
        await page.getByLabel('Patched file').setInputFiles(pair.b);
        await page.waitForTimeout(500);
        const before = browserResident();
        let peak = before;
        const sampler = setInterval(() => {
            peak = Math.max(peak, browserResident());
        }, 50);
        const started = performance.now();
        await page.getByRole('button', {name: button}).click();
        await page.getByRole('status').and(page.locator('[aria-busy="false"]')).waitFor({timeout: HANG_MS});
        const seconds = (performance.now() - started) / 1000;
        clearInterval(sampler);
        peak = Math.max(peak, browserResident());
        const status = await page.getByRole('status').textContent();
        if (!expectDone.test(status)) {
            throw new Error(`unexpected end of the run: ${status}`);
        }
        return {seconds, growth: peak - before};
    } finally {
        await browser.close();
    }
}

const median = (values) => {
    const sorted = [...values].sort((x, y) => x - y);
    return (sorted[Math.floor((sorted.length - 1) / 2)] + sorted[Math.ceil((sorted.length - 1) / 2)]) / 2;
};

async function main() {
    const opts = options(process.argv.slice(2));
    mkdirSync(opts.dir, {recursive: true});
    const pair = makePair(opts.dir, opts.size);
    const floor = floorPage(opts.dir);
    try {
        const cases = [
            {name: 'floor page (JSPI + stream readers)', url: pathToFileURL(floor).href, button: 'Read', done: /^read in/, runs: []},
            {name: 'bvex page', url: pathToFileURL(opts.page).href, button: 'Compare', done: /^Done: .* 0 lines, 0 differing bytes/, runs: []},
        ];
        for (let i = 0; i < opts.runs; i++) {
            for (const c of cases) {
                c.runs.push(await measure(c.url, pair, c.button, c.done));
                const last = c.runs.at(-1);
                process.stderr.write(`   ${c.name}, run ${i + 1}: ${last.seconds.toFixed(3)} s, +${(last.growth / MiB).toFixed(1)} MiB\n`);
            }
        }
        const rows = cases.map((c) => ({
            name: c.name,
            seconds: median(c.runs.map((r) => r.seconds)),
            growth: Math.max(...c.runs.map((r) => r.growth)),
        }));
        const [floorRow, pageRow] = rows;
        const ratio = floorRow.seconds / pageRow.seconds;
        const pad = (text, n) => String(text).padEnd(n);
        console.log(`\npage: ${opts.page}`);
        console.log(`data: identical pair of ${opts.size} bytes in ${opts.dir}; ${opts.runs} runs each, median time, largest memory growth\n`);
        console.log(`${pad('case', 36)}${pad('time', 11)}${pad('MiB/s', 9)}memory growth`);
        for (const row of rows) {
            console.log(`${pad(row.name, 36)}${pad(`${row.seconds.toFixed(3)} s`, 11)}${pad((opts.size / MiB / row.seconds).toFixed(0), 9)}+${(row.growth / MiB).toFixed(1)} MiB`);
        }
        const verdict = (met) => (met ? 'met' : 'NOT MET');
        console.log(`\npage speed against the floor: ${ratio.toFixed(2)}x (target >= 0.8x): ${verdict(ratio >= 0.8)}`);
        console.log(`memory growth of the page: +${(pageRow.growth / MiB).toFixed(1)} MiB (target <= 150 MiB): ${verdict(pageRow.growth <= 150 * MiB)}`);
    } finally {
        rmSync(floor, {force: true});
        if (!opts.keep) {
            for (const path of pair.made) {
                rmSync(path, {force: true});
            }
            try {
                rmdirSync(opts.dir);
            } catch {
                // Not empty: other files of the benchmarks are kept there.
            }
        }
    }
}

main().catch((error) => {
    process.stderr.write(`web.mjs: ${error.message}\n`);
    process.exit(1);
});
