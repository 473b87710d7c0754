// The page against the native bvex, in Debian's Chromium: for each row the same command
// line (the fields) on the same files must give the same report byte for byte, or the
// same message in the status with nothing to download. The table runs twice: with JSPI,
// and with it taken away before the page's code runs (the synchronous fallback). Any
// request that leaves the machine, any script error and any console error fails the test.
//
//   cd tests/web && npm ci
//   BVEX_PAGE=path/to/bvex-X.Y.Z-web.html BVEX_NATIVE=path/to/bvex node --test
//   BVEX_SCREENSHOT=path.png also saves a picture of the page with the sample pair's report.
// Chromium is Debian's /usr/bin/chromium, or BVEX_CHROMIUM; nothing is downloaded. The wasi
// preset runs this as its test web_page.

import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import {closeSync, existsSync, mkdtempSync, openSync, readFileSync, rmSync, writeFileSync, writeSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {after, before, describe, test} from 'node:test';
import {fileURLToPath, pathToFileURL} from 'node:url';

import {launchChromium} from './chromium.mjs';

const PAGE = process.env.BVEX_PAGE;
const NATIVE = process.env.BVEX_NATIVE;
assert.ok(PAGE && existsSync(PAGE), 'BVEX_PAGE must name the built page');
assert.ok(NATIVE && existsSync(NATIVE), 'BVEX_NATIVE must name a native bvex');

// Hang guard for one run; never a measure of speed. The fallback reads the 4 GiB pair
// at some 50 MiB/s here, so a slow, loaded machine needs minutes.
const HANG_MS = 600_000;
const VIEW_ROWS = 10_000;

const examples = fileURLToPath(new URL('../../examples/', import.meta.url));
const scratch = mkdtempSync(join(existsSync('/dev/shm') ? '/dev/shm' : tmpdir(), 'bvex-web-'));
after(() => rmSync(scratch, {recursive: true, force: true}));

function scratchFile(name, bytes) {
    const path = join(scratch, name);
    writeFileSync(path, bytes);
    return path;
}

// A pair of sparse files just past 4 GiB, equal but for one byte past 4 GiB.
function sparsePair() {
    const size = 2 ** 32 + 4096;
    const paths = ['big-original', 'big-patched'].map((name) => join(scratch, name));
    for (const path of paths) {
        const fd = openSync(path, 'w');
        writeSync(fd, Buffer.alloc(1), 0, 1, size - 1);
        closeSync(fd);
    }
    const fd = openSync(paths[1], 'r+');
    writeSync(fd, Buffer.from([0x5a]), 0, 1, 2 ** 32 + 100);
    closeSync(fd);
    return paths;
}

// Seeded, so that a failing row can be run again.
function mulberry32(seed) {
    return () => {
        seed = (seed + 0x6d2b79f5) | 0;
        let t = Math.imul(seed ^ (seed >>> 15), seed | 1);
        t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
        return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
    };
}

const SEED = 17;
const WIDTHS = ['', '1', '3', '4', '7', '8x', '016', '17', '64', '256', 'V'];
const ADDRESSES = ['', '0', '1f', '0x8000', '0X10', 'FFFFFFF0', '-10', '  +7fff', 'zz', '123456789'];

// Random bytes, then clusters of changed bytes, and now and then a patched file that is
// shorter or longer.
function randomRows(count) {
    const rand = mulberry32(SEED);
    const pick = (list) => list[Math.floor(rand() * list.length)];
    const rows = [];
    for (let i = 0; i < count; i++) {
        const original = Buffer.alloc(Math.floor(rand() * 70_000));
        for (let j = 0; j < original.length; j++) {
            original[j] = Math.floor(rand() * 256);
        }
        let patched = Buffer.from(original);
        const clusters = Math.floor(rand() * 40);
        for (let c = 0; c < clusters; c++) {
            const at = Math.floor(rand() * patched.length);
            const length = 1 + Math.floor(rand() * 12);
            for (let k = at; k < Math.min(at + length, patched.length); k++) {
                if (rand() < 0.7) {
                    patched[k] ^= 1 + Math.floor(rand() * 255);
                }
            }
        }
        const ends = rand();
        if (ends < 0.2) {
            patched = patched.subarray(0, Math.floor(rand() * patched.length));
        } else if (ends < 0.4) {
            patched = Buffer.concat([patched, Buffer.alloc(Math.floor(rand() * 100), 0xa5)]);
        }
        const width = pick(WIDTHS);
        const address = pick(ADDRESSES);
        rows.push({
            name: `random pair ${i} (seed ${SEED}): width "${width}", address "${address}"`,
            original: scratchFile(`random-${i}-original`, original),
            patched: scratchFile(`random-${i}-patched`, patched),
            width,
            address,
        });
    }
    return rows;
}

// Every byte different at width 1: a report of some 5 MiB in many parts, and more lines
// than the view shows.
function denseRow() {
    const rand = mulberry32(SEED + 1);
    const original = Buffer.alloc(300_000);
    const patched = Buffer.alloc(original.length);
    for (let i = 0; i < original.length; i++) {
        original[i] = Math.floor(rand() * 256);
        patched[i] = original[i] ^ (1 + Math.floor(rand() * 255));
    }
    return {
        name: 'dense pair, width 1',
        original: scratchFile('dense-original', original),
        patched: scratchFile('dense-patched', patched),
        width: '1',
        address: '',
    };
}

const sample = {
    name: 'sample pair at 8000',
    original: join(examples, 'original.bin'),
    patched: join(examples, 'patched.bin'),
    width: '',
    address: '8000',
    screenshot: true,
};
const [bigOriginal, bigPatched] = sparsePair();
const sparse = {name: 'sparse pair past 4 GiB', original: bigOriginal, patched: bigPatched, width: '', address: ''};
const ROWS = [
    sample,
    ...randomRows(6),
    denseRow(),
    {...sample, name: 'width 300', width: '300', screenshot: false},
    {...sample, name: 'width 0', width: '0', screenshot: false},
    {...sample, name: 'empty original', original: scratchFile('empty', Buffer.alloc(0)), screenshot: false},
    sparse,
];

// The native bvex on the command line the page makes from the same fields.
function native(row) {
    const args = [];
    if (row.width !== '') {
        args.push(`-${row.width}`);
    }
    args.push(row.original, row.patched);
    if (row.address !== '') {
        args.push(row.address);
    }
    const result = spawnSync(NATIVE, args, {maxBuffer: 1 << 30});
    assert.ok(result.status === 0 || result.status === 1, `native bvex ended with ${result.status}`);
    return {status: result.status, stdout: result.stdout, stderr: result.stderr.toString('utf8')};
}

// Lines and differing bytes of a report: "AAAAAAAA: OOOO PPPP" per line.
function counts(report) {
    const lines = report.toString('latin1').split('\n').slice(0, -1);
    let differing = 0;
    for (const line of lines) {
        const [, original, patched] = line.split(' ');
        for (let i = 0; i < original.length; i += 2) {
            differing += original.slice(i, i + 2) === patched.slice(i, i + 2) ? 0 : 1;
        }
    }
    return {lines: lines.length, differing};
}

const numberIn = (text, pattern) => Number(text.match(pattern)?.[1].replace(/,/g, ''));

// Takes JSPI away from the page and its workers before any of the page's code runs: no
// switch turns it off in Chromium 156. The worker is made from a Blob of JavaScript, so
// such Blobs start with the same deletion (after the source's 'use strict' directive).
function withoutJspi() {
    const removal = 'delete WebAssembly.Suspending; delete WebAssembly.promising;\n';
    const NativeBlob = Blob;
    globalThis.Blob = class Blob extends NativeBlob {
        constructor(parts = [], options = {}) {
            const script = /javascript/.test(options.type ?? '') && typeof parts[0] === 'string';
            super(script ? [parts[0].replace(/^('use strict';\n)?/, `$1${removal}`), ...parts.slice(1)] : parts, options);
        }
    };
    delete WebAssembly.Suspending;
    delete WebAssembly.promising;
}

for (const jspi of [true, false]) {
    describe(jspi ? 'page with JSPI' : 'page without JSPI (synchronous reads)', () => {
        let browser;
        let page;
        const problems = [];

        before(async () => {
            browser = await launchChromium();
            const context = await browser.newContext({viewport: {width: 1000, height: 1000}});
            context.on('request', (request) => {
                if (!/^(file|blob|data):/.test(request.url())) {
                    problems.push(`network request: ${request.url()}`);
                }
            });
            page = await context.newPage();
            page.on('pageerror', (error) => problems.push(`script error: ${error.message}`));
            page.on('console', (message) => {
                if (message.type() === 'error') {
                    problems.push(`console error: ${message.text()}`);
                }
            });
            if (!jspi) {
                await page.addInitScript(withoutJspi);
            }
            await page.goto(pathToFileURL(PAGE).href);
            const path = jspi ? /as streams \(WebAssembly JSPI\)/ : /lacks WebAssembly JSPI, so files are read with synchronous reads/;
            await page.getByText(path).waitFor();
        });

        after(async () => {
            await browser?.close();
        });

        // Fills the fields with the row's and starts the comparison.
        async function start(row) {
            await page.getByLabel('Original file').setInputFiles(row.original);
            await page.getByLabel('Patched file').setInputFiles(row.patched);
            await page.getByLabel('Line width').fill(row.width);
            await page.getByLabel('Block address').fill(row.address);
            await page.getByRole('button', {name: 'Compare'}).click();
        }

        async function compare(row) {
            await start(row);
            await page.getByRole('status').and(page.locator('[aria-busy="false"]')).waitFor({timeout: HANG_MS});
        }

        async function expectSameAsNative(row) {
            const expected = native(row);
            await compare(row);
            const status = await page.getByRole('status').textContent();
            const download = page.getByRole('button', {name: 'Download report'});
            if (expected.status === 1) {
                assert.equal(status, expected.stderr);
                assert.equal(await download.isDisabled(), true, 'Download report is disabled after an error');
                return;
            }
            assert.equal(await download.isEnabled(), true, `Download report is enabled; status: ${status}`);
            const [file] = await Promise.all([page.waitForEvent('download'), download.click()]);
            const report = readFileSync(await file.path());
            assert.ok(report.equals(expected.stdout), `the downloaded report differs from native bvex's (${report.length} and ${expected.stdout.length} bytes)`);
            const {lines, differing} = counts(expected.stdout);
            assert.equal(numberIn(status, /([\d,]+) lines?,/), lines, status);
            assert.equal(numberIn(status, /([\d,]+) differing bytes?/), differing, status);
            const rows = page.getByRole('listitem');
            for (let tries = 0; (await rows.count()) !== Math.min(lines, VIEW_ROWS); tries++) {
                assert.ok(tries < 600, `the view shows ${await rows.count()} lines, not ${Math.min(lines, VIEW_ROWS)}`);
                await page.waitForTimeout(100);
            }
        }

        for (const row of ROWS) {
            test(row.name, {timeout: HANG_MS}, async () => {
                await expectSameAsNative(row);
                if (jspi && row.screenshot && process.env.BVEX_SCREENSHOT) {
                    await page.screenshot({path: process.env.BVEX_SCREENSHOT, fullPage: true});
                }
                assert.deepEqual(problems, []);
            });
        }

        test('Cancel stops a long run, and the next run succeeds', {timeout: HANG_MS}, async () => {
            await start(sparse);
            await page.getByRole('status').filter({hasText: /^Compared .* \(\d+ %\)/}).waitFor({timeout: HANG_MS});
            await page.getByRole('button', {name: 'Cancel'}).click();
            assert.match(await page.getByRole('status').textContent(), /^Cancelled/);
            assert.equal(await page.getByRole('button', {name: 'Download report'}).isDisabled(), true);
            assert.equal(await page.getByRole('button', {name: 'Cancel'}).isDisabled(), true);
            await expectSameAsNative(sample);
            assert.deepEqual(problems, []);
        });
    });
}
