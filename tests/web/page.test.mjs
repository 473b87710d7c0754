// The page against the native bvex, in Chromium, Firefox and WebKit: for each row of one
// table, the same command line (the fields) on the same files must give the same report
// byte for byte, the same lines in the view with the same bytes marked and the same counts
// of differing bytes in the map's columns, or the same message in the status with nothing to
// download. Besides: "Go to address", the map's columns and the view's keys show the lines
// the native report says they should, to the last of more than 100,000; a file that can no
// longer be read in the middle of a run ends it with bvex's read error, a read that stalls
// is carried on another way or ends the run with that error, Cancel stops the run's
// worker, and the progress never counts more than the shorter file holds. The view
// "Bytes" shows both files' bytes (as read here) at seeded offsets, with the marks, offsets,
// addresses and values right, Next and Previous difference step through the native report's
// differing bytes, and a file that can no longer be read after the run is said to be so,
// never shown from kept bytes. Any request that leaves the machine, any script error and any
// console error fails the row.
//
//   npm ci --prefix tests/web
//   BVEX_PAGE=path/to/bvex-X.Y.Z-web.html BVEX_NATIVE=path/to/bvex node --test tests/web/
//
// BVEX_ENGINES picks engines (default chromium,firefox,webkit); each is driven through one
// module of drivers/. An engine that is not installed is skipped, naming its Debian
// packages, or fails the test where CI=true. BVEX_SCREENSHOT=path.png also saves a picture of
// the page with the firmware pair's report and the view "Bytes" at a change in its code
// (Chromium's; the others' beside it, named after them). The wasi preset runs this as its test web_page.

import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import {closeSync, copyFileSync, existsSync, mkdirSync, mkdtempSync, openSync, readFileSync, readSync, rmSync, statSync, truncateSync, writeFileSync, writeSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {after, before, describe, test} from 'node:test';
import {fileURLToPath, pathToFileURL} from 'node:url';

import {mulberry32} from './seeded.mjs';

const PAGE = process.env.BVEX_PAGE;
const NATIVE = process.env.BVEX_NATIVE;
assert.ok(PAGE && existsSync(PAGE), 'BVEX_PAGE must name the built page');
assert.ok(NATIVE && existsSync(NATIVE), 'BVEX_NATIVE must name a native bvex');

const ENGINES = (process.env.BVEX_ENGINES || 'chromium,firefox,webkit').split(',').filter((e) => e !== '');
const IN_CI = process.env.CI === 'true';

// Hang guard for one run; never a measure of speed.
const HANG_MS = 600_000;
const WRAP = 2 ** 32;

const examples = fileURLToPath(new URL('../../examples/', import.meta.url));
const scratch = mkdtempSync(join(existsSync('/dev/shm') ? '/dev/shm' : tmpdir(), 'bvex-web-'));
after(() => rmSync(scratch, {recursive: true, force: true}));

function scratchFile(name, bytes) {
    const path = join(scratch, name);
    writeFileSync(path, bytes);
    return path;
}

// A sparse file of size bytes, zero but for the bytes at the offsets given.
function sparseFile(name, size, bytes = {}) {
    const path = join(scratch, name);
    const fd = openSync(path, 'w');
    writeSync(fd, Buffer.alloc(1), 0, 1, size - 1);
    for (const [at, value] of Object.entries(bytes)) {
        writeSync(fd, Buffer.from([value]), 0, 1, Number(at));
    }
    closeSync(fd);
    return path;
}

const BIG = 2 ** 32 + 4096;
// A pair of sparse files just past 4 GiB, equal but for a few bytes on either side of 4 GiB:
// the differing byte at 100000064 has the address of the one at 64.
const BIG_CHANGES = {0x64: 0x11, 0x7ffffff3: 0x22, 0xfffffffa: 0x33, 0xfffffffc: 0x44, [2 ** 32 + 100]: 0x5a, [2 ** 32 + 0x800]: 0x66, [BIG - 1]: 0x77};
const bigOriginal = sparseFile('big-original', BIG);
const bigPatched = sparseFile('big-patched', BIG, BIG_CHANGES);

const SEED = 17;
const WIDTHS = ['', '1', '3', '4', '7', '8x', '016', '17', '64', '256', 'V'];
const ADDRESSES = ['', '0', '1f', '0x8000', '0X10', 'FFFFFFF0', '-10', '  +7fff', 'zz', '123456789'];

// Random bytes, then clusters of changed bytes, and now and then a patched file that is
// shorter or longer; row i has the i-th width and the i-th address (the lists' forms all
// appear).
function randomRows() {
    const rand = mulberry32(SEED);
    const rows = [];
    const count = Math.max(WIDTHS.length, ADDRESSES.length);
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
        const width = WIDTHS[i % WIDTHS.length];
        const address = ADDRESSES[i % ADDRESSES.length];
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

// Every byte different: at width 1, a report of some 5 MiB in many parts and more lines
// than the view shows; at width 256, lines of 256 bytes, more than a megabyte of them, so
// that a line is cut wherever the report is cut into parts.
function denseRow(width, size) {
    const rand = mulberry32(SEED + Number(width));
    const original = Buffer.alloc(size);
    const patched = Buffer.alloc(size);
    for (let i = 0; i < size; i++) {
        original[i] = Math.floor(rand() * 256);
        patched[i] = original[i] ^ (1 + Math.floor(rand() * 255));
    }
    return {
        name: `dense pair, width ${width}`,
        original: scratchFile(`dense-${width}-${size}-original`, original),
        patched: scratchFile(`dense-${width}-${size}-patched`, patched),
        width,
        address: '7fff',
    };
}

const sample = {
    name: 'sample pair at 8000',
    original: join(examples, 'original.bin'),
    patched: join(examples, 'patched.bin'),
    width: '',
    address: '8000',
};

// Two builds of a small firmware image loaded at 08000000: a header with a version string and
// a checksum, code (4-byte instructions from a small set), a table of strings, then erased
// flash (FF). The second build has another version and checksum, and a changed routine in
// the middle of the code: changes in two regions, the picture of the map in the README.
function firmwareRow() {
    const rand = mulberry32(SEED + 1000);
    const size = 192 * 1024;
    const build = (version) => {
        const image = Buffer.alloc(size, 0xff);
        image.write('BVFW', 0, 'latin1');
        image.write(`release ${version}`, 0x20, 'latin1');
        return image;
    };
    const original = build('1.4.2');
    const patched = build('1.4.3');
    const opcodes = [0xe59f, 0xe3a0, 0xe280, 0xe1a0, 0xe12f, 0xeb00, 0xe5d0, 0xe350];
    for (let at = 0x200; at < 0x1c000; at += 4) {
        const word = (opcodes[Math.floor(rand() * opcodes.length)] << 16) | Math.floor(rand() * 0x10000);
        original.writeUInt32LE(word >>> 0, at);
        patched.writeUInt32LE(word >>> 0, at);
    }
    for (let at = 0x13a40; at < 0x13c80; at += 4) {
        if (rand() < 0.45) {
            patched.writeUInt32LE(((opcodes[Math.floor(rand() * opcodes.length)] << 16) | Math.floor(rand() * 0x10000)) >>> 0, at);
        }
    }
    const strings = 'boot ok\0flash error\0checksum mismatch\0usb attached\0entering update mode\0'.repeat(40);
    original.write(strings, 0x1c000, 'latin1');
    patched.write(strings, 0x1c000, 'latin1');
    for (const image of [original, patched]) {
        let sum = 0;
        for (let at = 0x20; at < size; at++) {
            sum = (sum + image[at]) >>> 0;
        }
        image.writeUInt32LE(sum, 0x10);
    }
    return {
        name: 'firmware builds at 08000000',
        original: scratchFile('firmware-1.4.2.bin', original),
        patched: scratchFile('firmware-1.4.3.bin', patched),
        width: '',
        address: '08000000',
        screenshot: true,
        bytesView: true,
    };
}
const firmware = firmwareRow();
// Its lines past 4 GiB have the addresses of the first 4 GiB again.
const sparse = {name: 'sparse pair past 4 GiB', original: bigOriginal, patched: bigPatched, width: '', address: '', bytesView: true};
// The patched file ends long before the original: the progress stays within it.
const shortPatched = {
    name: 'patched file an eighth of the original',
    original: bigOriginal,
    patched: sparseFile('short-patched', 2 ** 29 + 123, {[2 ** 28]: 0x33}),
    width: '',
    address: '',
    progressSeen: true,
};

// 1000 bytes: the first 16 all differ, then one differing byte every 37 up to offset 970.
// The map's columns are 3 or 4 bytes wide: column 1's differing bytes lie in the first
// line, which starts in column 0; the last columns hold none.
function mapPairRow() {
    const rand = mulberry32(SEED + 2000);
    const original = Buffer.alloc(1000);
    for (let i = 0; i < original.length; i++) {
        original[i] = Math.floor(rand() * 256);
    }
    const patched = Buffer.from(original);
    for (let i = 0; i < 16; i++) {
        patched[i] ^= 0xff;
    }
    for (let i = 40; i < 970; i += 37) {
        patched[i] ^= 0x5a;
    }
    return {
        name: '1000-byte pair, columns of 3 and 4 bytes',
        original: scratchFile('columns-original', original),
        patched: scratchFile('columns-patched', patched),
        width: '',
        address: '',
    };
}
const mapPair = mapPairRow();
// 600,000 bytes all differing at width 1: a line per byte, each line's address its offset.
const growing = {...denseRow('1', 600_000), name: 'dense pair of 600,000 bytes, width 1', address: ''};

const random = randomRows();
const denseOne = denseRow('1', 300_000);
// A block address that wraps past FFFFFFFF within the files.
const wrapping = random.find((row) => row.address === 'FFFFFFF0');
wrapping.bytesView = true;
// A patched file shorter than the original (its bytes past the shorter file's end are not
// compared), with differences.
const unequal = random.find((row) => statSync(row.patched).size < statSync(row.original).size && row !== wrapping && native(row).status === 0
    && native(row).stdout.length > 0);
unequal.bytesView = true;

const ROWS = [
    sample,
    firmware,
    ...random,
    denseOne,
    denseRow('256', 300_000),
    {...sample, name: 'width 300', width: '300', screenshot: false},
    {...sample, name: 'width 0', width: '0', screenshot: false},
    {...sample, name: 'empty original', original: scratchFile('empty', Buffer.alloc(0)), screenshot: false},
    shortPatched,
    sparse,
    // Only the patched file chosen (and an address): the original cannot be opened, as on the
    // command line, whatever the address.
    {...sample, name: 'only the patched file chosen, with a block address', original: null, screenshot: false},
];

// The native bvex on the command line the page makes from the same fields.
function native(row) {
    const args = [];
    if (row.width !== '') {
        args.push(`-${row.width}`);
    }
    args.push(row.original ?? join(scratch, 'not chosen'), row.patched);
    if (row.address !== '') {
        args.push(row.address);
    }
    const result = spawnSync(NATIVE, args, {maxBuffer: 1 << 30});
    assert.ok(result.status === 0 || result.status === 1, `native bvex ended with ${result.status}`);
    return {status: result.status, stdout: result.stdout, stderr: result.stderr.toString('utf8')};
}

// The report's lines "AAAAAAAA: OOOO PPPP" as the view should show them: the address, each
// side's bytes and characters, each marked where the two sides' bytes differ.
function expectedView(report, count) {
    const lines = report.toString('latin1').split('\n').slice(0, count);
    return lines.map((line) => {
        const n = (line.length - 11) / 4;
        const sides = [line.slice(10, 10 + 2 * n), line.slice(11 + 2 * n)];
        const marked = [];
        for (let i = 0; i < n; i++) {
            marked.push(sides[0].slice(2 * i, 2 * i + 2) !== sides[1].slice(2 * i, 2 * i + 2));
        }
        const side = (hex) => {
            let chars = '';
            for (let i = 0; i < n; i++) {
                const code = parseInt(hex.slice(2 * i, 2 * i + 2), 16);
                chars += code >= 0x20 && code < 0x7f ? String.fromCharCode(code) : '.';
            }
            return {hex, marked, chars, charsMarked: marked};
        };
        return {address: line.slice(0, 8), original: side(sides[0]), patched: side(sides[1])};
    });
}

// Lines and differing bytes of a report.
function counts(report) {
    const view = expectedView(report, Infinity).slice(0, -1);
    return {lines: view.length, differing: view.reduce((sum, line) => sum + line.original.marked.filter(Boolean).length, 0)};
}

// The block address bvex reads from the address field's text: the address of a first byte
// that differs.
const blockAddresses = new Map();
function blockAddressOf(text) {
    if (!blockAddresses.has(text)) {
        const one = scratchFile('one-original', Buffer.from([0]));
        const other = scratchFile('one-patched', Buffer.from([1]));
        const result = spawnSync(NATIVE, text === '' ? [one, other] : [one, other, text]);
        blockAddresses.set(text, parseInt(result.stdout.toString('latin1').slice(0, 8), 16));
    }
    return blockAddresses.get(text);
}

// The report's lines with the file offset of each one's first byte and of each of its
// differing bytes: each address less the block address, plus 4 GiB each time that comes out
// lower than the line before's (the lines go up through the files, less than 4 GiB apart in
// the table's files).
function linesWithOffsets(row, report) {
    const blockAddress = blockAddressOf(row.address);
    const view = expectedView(report, Infinity).slice(0, -1);
    let wraps = 0;
    let previous = -1;
    return view.map((line) => {
        const address = parseInt(line.address, 16);
        const within = (address - blockAddress + WRAP) % WRAP;
        if (within < previous) {
            wraps += 1;
        }
        previous = within;
        const offset = within + wraps * WRAP;
        const differing = line.original.marked.flatMap((marked, i) => (marked ? [offset + i] : []));
        return {address: line.address, offset, differing};
    });
}

const plural = (n) => `${n.toLocaleString('en-US')} ${n === 1 ? 'differing byte' : 'differing bytes'}`;
const hex8 = (n) => n.toString(16).toUpperCase().padStart(8, '0');

// The map's table holds one row per column with differing bytes, in order, within the
// compared length, each no wider than a 256th of it, holding the native report's count of
// differing bytes between its first and last offsets; every differing byte is in one. The
// strip's columns are named with the same figures.
async function expectMap(page, row, report) {
    const total = Math.min(statSync(row.original).size, statSync(row.patched).size);
    const differing = linesWithOffsets(row, report).flatMap((line) => line.differing);
    const table = await page.mapTable();
    let previous = -1;
    let covered = 0;
    for (const {first, last, count} of table) {
        assert.ok(first > previous && first <= last && last < total, `map row ${hex8(first)} to ${hex8(last)} in a compared length of ${total}`);
        assert.ok(last - first + 1 <= Math.ceil(total / 256), `map row ${hex8(first)} to ${hex8(last)} is wider than a 256th of ${total}`);
        const inside = differing.filter((offset) => offset >= first && offset <= last).length;
        assert.equal(count, inside, `differing bytes from ${hex8(first)} to ${hex8(last)}`);
        assert.ok(count > 0, 'a map row without differences');
        previous = last;
        covered += count;
    }
    assert.equal(covered, differing.length, 'the map rows count every differing byte');
    const named = (await page.mapColumns()).filter((label) => !label.endsWith(': 0 differing bytes'));
    assert.deepEqual(named, table.map(({first, last, count}) => `Offsets ${hex8(first)} to ${hex8(last)}: ${plural(count)}`));
}

// Waits until the view shows what check(rows) accepts (it throws otherwise), or fails with its error.
async function waitView(page, check) {
    for (let tries = 0; ; tries++) {
        try {
            return check(await page.viewRows());
        } catch (error) {
            if (tries >= 300) {
                throw error;
            }
        }
        await new Promise((resolve) => setTimeout(resolve, 100));
    }
}

const numberIn = (text, pattern) => Number(text.match(pattern)?.[1].replace(/,/g, ''));

// "1,234 bytes", "12.5 MiB" as bytes, and the most its rounding can hide.
const UNITS = {byte: 1, bytes: 1, KiB: 2 ** 10, MiB: 2 ** 20, GiB: 2 ** 30, TiB: 2 ** 40};
function bytesOf(text) {
    const [, number, unit] = text.match(/^([\d,.]+) (bytes?|KiB|MiB|GiB|TiB)$/);
    return {bytes: Number(number.replace(/,/g, '')) * UNITS[unit], slack: unit.startsWith('byte') ? 0 : 0.05 * UNITS[unit]};
}

// Every progress the page showed counts no more than both files have given: never more
// than its own total, nor than the shorter file holds; the progress bar to the byte.
function checkProgress(row, statuses, bar) {
    const shorter = Math.min(statSync(row.original).size, statSync(row.patched).size);
    let seen = 0;
    for (const text of statuses) {
        const progress = text.match(/^Compared ([\d,.]+ \S+) of ([\d,.]+ \S+) \(/);
        const done = text.match(/^Done: compared ([\d,.]+ (?:bytes?|[KMGT]iB))/);
        if (progress) {
            seen += 1;
            const [compared, total] = [bytesOf(progress[1]), bytesOf(progress[2])];
            assert.ok(compared.bytes <= total.bytes + total.slack, `"${text}" shows more compared than in all`);
            assert.ok(compared.bytes <= shorter + compared.slack, `"${text}" shows more compared than the shorter file's ${shorter} bytes`);
        } else if (done) {
            const compared = bytesOf(done[1]);
            assert.ok(compared.bytes <= shorter + compared.slack, `"${text}" shows more compared than the shorter file's ${shorter} bytes`);
        }
    }
    for (const {value, max} of bar) {
        assert.ok(value <= max && value <= shorter, `the progress bar shows ${value} of ${max}; the shorter file has ${shorter} bytes`);
    }
    if (row.progressSeen) {
        assert.ok(seen > 0, `no progress was shown: ${statuses.join(' | ')}`);
    }
}

async function problemsOf(page) {
    return [...page.problems(), ...(await page.records()).problems];
}

async function fillIn(page, row) {
    for (const [label, path] of [['Original file', row.original], ['Patched file', row.patched]]) {
        if (path) {
            await page.chooseFile(label, path);
        } else {
            await page.evaluate((name) => {
                const input = [...document.querySelectorAll('label')].find((l) => l.textContent.trim() === name).control;
                input.value = '';
                input.dispatchEvent(new Event('change', {bubbles: true}));
            }, label);
        }
    }
    await page.fill('Line width', row.width);
    await page.fill('Block address', row.address);
}

async function compare(page, row) {
    await fillIn(page, row);
    await page.click('Compare');
}

async function expectSameAsNative(page, row) {
    const expected = native(row);
    await page.records();
    await compare(page, row);
    const status = await page.waitIdle(HANG_MS);
    const {statuses, progress, problems} = await page.records();
    if (expected.status === 1) {
        assert.equal(status.text, expected.stderr);
        assert.equal(await page.enabled('Download report'), false, 'Download report is disabled after an error');
        return problems;
    }
    assert.equal(await page.enabled('Download report'), true, `Download report is enabled; status: ${status.text}`);
    const report = await page.report();
    assert.ok(report.equals(expected.stdout), `the downloaded report differs from native bvex's (${report.length} and ${expected.stdout.length} bytes)`);
    const {lines, differing} = counts(expected.stdout);
    assert.equal(numberIn(status.text, /([\d,]+) lines?,/), lines, status.text);
    assert.equal(numberIn(status.text, /([\d,]+) differing bytes?/), differing, status.text);
    checkProgress(row, statuses, progress);
    // The view shows the report from its first line, as many lines as fit.
    const want = expectedView(expected.stdout, Infinity).slice(0, lines);
    await waitView(page, (view) => {
        assert.ok(view.length >= Math.min(lines, 3) && view.length <= lines, `the view shows ${view.length} of ${lines} lines`);
        assert.deepEqual(view, want.slice(0, view.length));
    });
    await expectMap(page, row, expected.stdout);
    return problems;
}

// The first line of the native report at or after file offset target: its address, or null.
function firstAtOrAfter(lines, target) {
    return lines.find((line) => line.offset >= target)?.address ?? null;
}

// The first line of the native report that holds a differing byte from offset first to last.
function firstHolding(lines, first, last) {
    return lines.find((line) => line.differing.some((offset) => offset >= first && offset <= last))?.address ?? null;
}

// Waits until the view shows the line at address first, marked as the one gone to by what,
// with it and the text that says what was found inside the window's view.
async function expectTarget(page, address, what) {
    for (let tries = 0; ; tries++) {
        const target = await page.targetLine();
        const shown = target?.address === address && target.first;
        const inWindow = shown && (await page.targetInWindow());
        if (inWindow) {
            return;
        }
        assert.ok(tries < 300, shown ? `${what}: the line and the result are not both in the window's view`
            : `${what}: the view marks ${JSON.stringify(target)}, not ${address}`);
        await new Promise((resolve) => setTimeout(resolve, 100));
    }
}

// Runs row, then moves through its report as a reader would: the view's keys (End shows the
// last line, Home the first), "Go to address" (a line's own address, the one after it, and
// one past every line), and a click on map columns; each shows the line the native report
// says, marked as the one gone to.
async function expectBrowsing(page, row) {
    const expected = native(row);
    const lines = linesWithOffsets(row, expected.stdout);
    const want = expectedView(expected.stdout, Infinity).slice(0, lines.length);
    await compare(page, row);
    assert.match((await page.waitIdle(HANG_MS)).text, /^Done/);

    assert.equal(await page.press('Report lines', 'End'), 'Report lines');
    await waitView(page, (view) => assert.deepEqual(view.at(-1), want.at(-1), 'End shows the last line'));
    assert.ok(await page.lastLineWhole(), 'End shows the last line whole inside the frame');
    await page.press('Report lines', 'Home');
    const inSight = await waitView(page, (view) => {
        assert.deepEqual(view[0], want[0], 'Home shows the first line');
        return view.length;
    });
    await page.press('Report lines', 'PageDown');
    await waitView(page, (view) => {
        const first = want.findIndex((line) => line.address === view[0].address);
        assert.ok(first > 0 && first < inSight, `Page Down shows line ${first + 1} first, ${inSight} lines in sight`);
    });

    const blockAddress = blockAddressOf(row.address);
    const middle = lines[Math.floor(lines.length / 2)];
    const goTo = async (text, targetOffset) => {
        await page.evaluate(() => window.scrollTo(0, 0));
        await page.fill('Go to address', text);
        await page.click('Go');
        await expectTarget(page, firstAtOrAfter(lines, targetOffset), `Go to address ${text}`);
    };
    const offsetOf = (address) => (address - blockAddress + WRAP) % WRAP;
    const middleAddress = parseInt(middle.address, 16);
    await goTo(middle.address, middle.offset);
    await goTo(`0x${((middleAddress + 1) % WRAP).toString(16)}`, offsetOf((middleAddress + 1) % WRAP));
    await goTo(lines[0].address.toLowerCase(), lines[0].offset);

    // The first column with differences and one in the middle by a click, the last one by
    // the keyboard (WebKit's overlay scroll bar takes clicks at the window's right edge).
    const table = await page.mapTable();
    const columns = await page.mapColumns();
    const labelOf = ({first, last, count}) => `Offsets ${hex8(first)} to ${hex8(last)}: ${plural(count)}`;
    for (const mapRow of new Set([table[0], table[1], table[Math.floor(table.length / 2)], table.at(-1)])) {
        await page.evaluate(() => window.scrollTo(0, 0));
        if (mapRow === table.at(-1)) {
            assert.equal(await page.press('Map of differences', 'End'), columns.at(-1));
            let at = columns.length - 1;
            while (columns[at] !== labelOf(mapRow)) {
                assert.ok(at-- > 0, `no column is named ${labelOf(mapRow)}`);
                assert.equal(await page.press('Map of differences', 'ArrowLeft'), columns[at]);
            }
            await page.press('Map of differences', 'Enter');
        } else {
            await page.click(labelOf(mapRow));
        }
        await expectTarget(page, firstHolding(lines, mapRow.first, mapRow.last), `map column from ${hex8(mapRow.first)}`);
    }
    // Page Down from the last column with differences stays on it, as Page Up does from the
    // first.
    assert.equal(await page.press('Map of differences', 'PageDown'), labelOf(table.at(-1)));
    assert.equal(await page.press('Map of differences', 'Home'), columns[0]);
    assert.equal(await page.press('Map of differences', 'PageDown'), labelOf(table[columns[0] === labelOf(table[0]) ? 1 : 0]));
    assert.equal(await page.press('Map of differences', 'PageUp'), labelOf(table[0]));
    // The strip's one tab stop moves with the arrow keys, Home and End.
    assert.equal(await page.press('Map of differences', 'End'), columns.at(-1));
    assert.equal(await page.press('Map of differences', 'ArrowLeft'), columns.at(-2));
    assert.equal(await page.press('Map of differences', 'Home'), columns[0]);
}

// The bytes of the file at path from offset on, at most length of them.
function bytesAt(path, offset, length) {
    const fd = openSync(path, 'r');
    try {
        const buffer = Buffer.alloc(length);
        return buffer.subarray(0, readSync(fd, buffer, 0, length, offset));
    } finally {
        closeSync(fd);
    }
}

// A file offset as the view "Bytes" writes it (at least eight hex digits), and the address
// bvex gives the byte there: the block address plus the offset, modulo 2^32.
const offsetText = (offset) => offset.toString(16).toUpperCase().padStart(8, '0');
const addressText = (blockAddress, offset) => hex8((blockAddress + (offset % WRAP)) % WRAP);
const charOf = (byte) => (byte >= 0x20 && byte < 0x7f ? String.fromCharCode(byte) : '.');
const BYTES_ROWS = 8;

// What the view's row at rowStart should show of a pair of sizes, from both files' bytes
// read here: each side's bytes in hex and as characters, each marked where the two differ,
// shown as not compared from the shorter file's end on, the cursor's on both sides.
function expectedBytesRow(row, sizes, blockAddress, rowStart, cursor) {
    const compared = Math.min(sizes.original, sizes.patched);
    const bytes = {original: bytesAt(row.original, rowStart, 16), patched: bytesAt(row.patched, rowStart, 16)};
    const side = (who, own, other) => {
        const kinds = [...own].map((byte, i) => (rowStart + i >= compared ? 'nc' : byte !== other[i] ? 'mark' : ''));
        return {who, hex: [...own].map((byte) => byte.toString(16).toUpperCase().padStart(2, '0')), kinds,
            at: [...own].map((_, i) => rowStart + i === cursor), chars: [...own].map(charOf).join(''), charKinds: kinds};
    };
    return {offset: offsetText(rowStart), address: addressText(blockAddress, rowStart),
        original: side('original', bytes.original, bytes.patched), patched: side('patched', bytes.patched, bytes.original)};
}

// The table "Values at the cursor" as DataView reads both files' bytes from offset on.
function expectedValues(row, offset) {
    const types = [['u8', 1, 'getUint8'], ['s8', 1, 'getInt8'], ['u16', 2, 'getUint16'], ['s16', 2, 'getInt16'],
        ['u32', 4, 'getUint32'], ['s32', 4, 'getInt32'], ['u64', 8, 'getBigUint64'], ['s64', 8, 'getBigInt64'],
        ['f32', 4, 'getFloat32'], ['f64', 8, 'getFloat64']];
    const bytes = {original: bytesAt(row.original, offset, 8), patched: bytesAt(row.patched, offset, 8)};
    const value = (data, length, getter, little) => (data.length < length ? 'absent'
        : String(new DataView(data.buffer, data.byteOffset, length)[getter](0, little)));
    return types.flatMap(([type, length, getter]) => (length === 1 ? [[type, true]] : [[`${type} little-endian`, true], [`${type} big-endian`, false]])
        .map(([name, little]) => {
            const original = value(bytes.original, length, getter, little);
            const patched = value(bytes.patched, length, getter, little);
            return {name, original, patched, differs: original === patched ? '' : 'differs', marked: original !== patched};
        }));
}

// Waits until the view "Bytes" has its cursor at offset, then checks all it shows against
// both files' bytes: rows of 16 one after the other, as many as fit in the view or the longer
// file has, the cursor's among them (from top, where given), each byte the file's own with the
// marks on exactly the differing ones, the offsets and addresses, what it says of the cursor
// and of the shorter file's end, and the values at the cursor.
async function expectBytesAt(page, row, offset, top) {
    const sizes = {original: statSync(row.original).size, patched: statSync(row.patched).size};
    const longer = Math.max(sizes.original, sizes.patched);
    const compared = Math.min(sizes.original, sizes.patched);
    const blockAddress = blockAddressOf(row.address);
    const byte = (path) => {
        const [b] = bytesAt(path, offset, 1);
        return b === undefined ? 'none, past its end' : b.toString(16).toUpperCase().padStart(2, '0');
    };
    const cursorText = `Cursor at offset ${offsetText(offset)}, address ${addressText(blockAddress, offset)}: `
        + `original ${byte(row.original)}, patched ${byte(row.patched)}.`;
    let shown;
    for (let tries = 0; ; tries++) {
        shown = await page.bytesShown();
        if (shown.cursor === cursorText) {
            break;
        }
        assert.ok(tries < 300, `the view "Bytes" says "${shown.cursor}", not "${cursorText}"`);
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
    const first = parseInt(shown.rows[0]?.offset ?? '0', 16);
    const cursorRow = offset - (offset % 16);
    assert.ok(first % 16 === 0 && first <= cursorRow && cursorRow < first + BYTES_ROWS * 16, `rows from ${offsetText(first)} for the cursor at ${offsetText(offset)}`);
    if (top !== undefined) {
        assert.equal(first, top, `the first row for the cursor at ${offsetText(offset)}`);
    }
    const count = Math.min(BYTES_ROWS, Math.ceil((longer - first) / 16));
    const want = Array.from({length: count}, (_, r) => expectedBytesRow(row, sizes, blockAddress, first + 16 * r, offset));
    assert.deepEqual(shown.rows, want, `the bytes from ${offsetText(first)}, cursor at ${offsetText(offset)}`);
    const past = first + count * 16 > compared && sizes.original !== sizes.patched;
    assert.equal(shown.note.startsWith(`The ${sizes.original < sizes.patched ? 'original' : 'patched'} file ends at offset ${offsetText(compared)}:`), past,
        `the note "${shown.note}" for rows from ${offsetText(first)}`);
    assert.deepEqual(await page.valuesShown(), expectedValues(row, offset), `the values at ${offsetText(offset)}`);
}

// The offsets at which to look at a pair's bytes: random ones (seeded), the first and last
// bytes of each file and a differing byte's; the sparse pair's past 4 GiB too.
function bytesOffsets(row, lines) {
    const rand = mulberry32(SEED + 3000 + row.name.length);
    const sizes = [statSync(row.original).size, statSync(row.patched).size];
    const longer = Math.max(...sizes);
    const near = Math.min(longer, WRAP);
    const offsets = new Set([0, ...sizes.map((size) => size - 1), Math.min(...sizes) - 3, lines[Math.floor(lines.length / 2)].differing.at(-1)]);
    for (let i = 0; i < 3; i++) {
        offsets.add(Math.floor(rand() * near));
    }
    if (longer > WRAP) {
        for (const at of [WRAP - 8, WRAP + 100, WRAP + 0x7fe, longer - 200 - Math.floor(rand() * 3000)]) {
            offsets.add(at);
        }
    }
    return [...offsets].filter((at) => at >= 0).sort((x, y) => x - y);
}

// Opens the view "Bytes" at offset: with Go to address below 4 GiB (its row then the third in
// sight), past it with the view's own keys from the last byte (End, then Page Up, the arrow
// keys up and left).
async function bytesGoTo(page, row, offset) {
    const longer = Math.max(statSync(row.original).size, statSync(row.patched).size);
    if (offset < WRAP) {
        await page.fill('Go to address', addressText(blockAddressOf(row.address), offset));
        await page.click('Go');
        return Math.max(0, offset - (offset % 16) - 32);
    }
    let left = longer - 1 - offset;
    const keys = ['End'];
    for (; left >= BYTES_ROWS * 16; left -= BYTES_ROWS * 16) {
        keys.push('PageUp');
    }
    for (; left >= 16; left -= 16) {
        keys.push('ArrowUp');
    }
    for (; left > 0; left -= 1) {
        keys.push('ArrowLeft');
    }
    await page.bytesKeys(keys);
    return undefined;
}

// After a run of row: the view "Bytes" at each of its offsets shows both files' bytes; Next
// difference from the first byte goes to the native report's differing bytes one after the
// other, and Previous difference back the same way.
async function expectBytesView(page, row, report) {
    const lines = linesWithOffsets(row, report);
    const differing = lines.flatMap((line) => line.differing);
    const lineOf = new Map(lines.flatMap((line, n) => line.differing.map((offset) => [offset, n])));
    for (const offset of bytesOffsets(row, lines)) {
        await expectBytesAt(page, row, offset, await bytesGoTo(page, row, offset));
    }
    await page.bytesKeys(['Home']);
    await expectBytesAt(page, row, 0);
    const steps = 32;
    const walk = async (key, from) => {
        const forward = key === 'n';
        const want = forward ? differing.filter((o) => o > from).slice(0, steps) : differing.filter((o) => o < from).reverse().slice(0, steps);
        const got = await page.bytesWalk(key, want.length < steps ? want.length + 1 : steps);
        const expected = want.map((offset) => ({
            found: `${forward ? 'Next' : 'Previous'} difference: offset ${offsetText(offset)}, in report line ${(lineOf.get(offset) + 1).toLocaleString('en-US')}.`,
            at: offset,
        }));
        if (want.length < steps) {
            expected.push({found: `No further difference ${forward ? 'after' : 'before'} offset ${offsetText(want.at(-1) ?? from)}.`, at: null});
        }
        assert.deepEqual(got, expected, `${forward ? 'Next' : 'Previous'} difference from ${offsetText(from)}`);
        return want.at(-1) ?? from;
    };
    const last = await walk('n', 0);
    await expectBytesAt(page, row, last);
    await walk('p', last);
}

// A copy of the firmware pair, compared; the view "Bytes" shows its bytes at a change, then
// side's file is removed or shortened, and the view, drawn again there, must say it cannot
// read that file in every row, with the other file's bytes as they are and nothing compared.
async function expectBytesUnreadable(page, engine, side, how) {
    const row = {...firmware, original: join(scratch, `${engine}-bytes-original`), patched: join(scratch, `${engine}-bytes-patched`)};
    copyFileSync(firmware.original, row.original);
    copyFileSync(firmware.patched, row.patched);
    await compare(page, row);
    assert.match((await page.waitIdle(HANG_MS)).text, /^Done/);
    const offset = 0x13a48;
    await expectBytesAt(page, row, offset, await bytesGoTo(page, row, offset));
    const other = side === 'original' ? 'patched' : 'original';
    const kept = bytesAt(row[other], 0, 1 << 20);
    const asChosen = `${row[side]}-as-chosen`;
    copyFileSync(row[side], asChosen);
    if (how === 'removed') {
        rmSync(row[side]);
    } else {
        truncateSync(row[side], 0x100);
    }
    // Drawn again at the same place, and once the cursor has moved.
    for (const at of [offset, offset + 17]) {
        await page.fill('Go to address', addressText(blockAddressOf(row.address), at));
        await page.click('Go');
        let shown;
        for (let tries = 0; ; tries++) {
            shown = await page.bytesShown();
            if (shown.cursor.startsWith(`Cursor at offset ${offsetText(at)},`) && shown.rows[0]?.[side].error) {
                break;
            }
            if (how === 'shortened' && engine === 'webkit' && tries >= 10) {
                // WebKit may go on giving a shortened file's bytes as they were when it was
                // chosen, with no error (as for a run): the view then shows exactly those.
                await expectBytesAt(page, {...row, [side]: asChosen}, at, Math.max(0, at - (at % 16) - 32));
                shown = null;
                break;
            }
            assert.ok(tries < 300, `${side} file ${how}: the view shows ${JSON.stringify(shown.rows[0]?.[side])}, "${shown.cursor}"`);
            await new Promise((resolve) => setTimeout(resolve, 50));
        }
        if (!shown) {
            continue;
        }
        const first = Math.max(0, at - (at % 16) - 32);
        assert.deepEqual(shown.rows.map((r) => r.offset), Array.from({length: BYTES_ROWS}, (_, r) => offsetText(first + 16 * r)));
        for (const [r, shownRow] of shown.rows.entries()) {
            assert.deepEqual(shownRow[side], {who: side, error: `cannot read ${side} file`}, `row ${shownRow.offset}`);
            const own = kept.subarray(first + 16 * r, first + 16 * (r + 1));
            assert.deepEqual(shownRow[other].hex, [...own].map((b) => b.toString(16).toUpperCase().padStart(2, '0')), `the ${other} file's bytes at ${shownRow.offset}`);
            assert.deepEqual(shownRow[other].kinds, [...own].map(() => 'nc'), `the ${other} file's bytes at ${shownRow.offset} are not compared`);
        }
        assert.match(shown.cursor, new RegExp(`${side} cannot read ${side} file`));
        const values = await page.valuesShown();
        assert.deepEqual(values.map((v) => v[side]), values.map(() => 'absent'), `no values from the ${side} file`);
    }
    for (const path of [row.original, row.patched, asChosen]) {
        rmSync(path, {force: true});
    }
}

// A 4 GiB file that its test changes: removed once chosen, or shortened while the run reads it.
async function expectReadError(page, engine, side, how) {
    const paths = {
        original: sparseFile(`${engine}-${how}-original`, BIG),
        patched: sparseFile(`${engine}-${how}-patched`, BIG, {[BIG - 100]: 1}),
    };
    const row = {...paths, width: '', address: ''};
    // bvex's own message when a read of that file fails: a folder opens, but cannot be read.
    const folder = join(scratch, 'a folder');
    mkdirSync(folder, {recursive: true});
    const expected = native({...row, [side]: folder});
    assert.equal(expected.status, 1);
    await fillIn(page, row);
    if (how === 'removed') {
        // Before Compare: once a browser has the file open, it may read it to the end.
        rmSync(paths[side]);
        await page.click('Compare');
    } else {
        await page.click('Compare');
        // Unless the run has ended already (then the status shows how).
        await page.waitStatus(/^Compared /, HANG_MS);
        truncateSync(paths[side], 1 << 20);
    }
    const status = await page.waitIdle(HANG_MS);
    if (how === 'shortened' && engine === 'webkit' && status.text.startsWith('Done:')) {
        // WebKit goes on giving a file's bytes as they were when it was chosen, with no error,
        // after the file is shortened: the report is then the whole file's, never a short one.
        const progress = await page.evaluate(() => [document.querySelector('progress').value, document.querySelector('progress').max]);
        assert.deepEqual(progress, [BIG, BIG], status.text);
    } else {
        assert.equal(status.text, expected.stderr);
        assert.equal(await page.enabled('Download report'), false, 'no report to download after a read error');
    }
    rmSync(paths.original, {force: true});
    rmSync(paths.patched, {force: true});
}

// The page as built, with shim run first in its script and in its worker's, and the
// worker's stall limits cut to a few hundred ms, so that a stalled read shows at once.
function stallingPage(name, shim) {
    let html = readFileSync(PAGE, 'utf8');
    const edits = [
        [/<meta http-equiv="Content-Security-Policy"[^>]*>\n/, ''],
        ['<script>\n', `<script>\n${shim}\n`],
        ['const BVEX_WORKER = "\'use strict\';\\n', `const BVEX_WORKER = "'use strict';\\n${JSON.stringify(shim).slice(1, -1)}\\n`],
        ['const STREAM_STALL_MS = 2000;', 'const STREAM_STALL_MS = 200;'],
        ['const SLICE_STALL_MS = 20_000;', 'const SLICE_STALL_MS = 300;'],
    ];
    for (const [from, to] of edits) {
        const edited = html.replace(from, to);
        assert.notEqual(edited, html, `the page has no ${from}`);
        html = edited;
    }
    return pathToFileURL(scratchFile(`${name}.html`, html)).href;
}

// Shims that make reads stall: every read of a stream's own reader after the 24th, and
// every slice's read after the second (the worker's first two only check that it can read).
const STREAMS_STALL = `(() => {
    const read = globalThis.ReadableStreamBYOBReader?.prototype.read;
    let reads = 0;
    if (read) {
        ReadableStreamBYOBReader.prototype.read = function (view) {
            reads += 1;
            return reads > 24 ? new Promise(() => {}) : read.call(this, view);
        };
    }
})();`;
const SLICES_STALL = `(() => {
    const arrayBuffer = Blob.prototype.arrayBuffer;
    let reads = 0;
    Blob.prototype.arrayBuffer = function () {
        reads += 1;
        return reads > 2 ? new Promise(() => {}) : arrayBuffer.call(this);
    };
})();`;

// 40 MiB of random bytes, and a copy with a byte changed in every MiB: the reads stall
// early, and every line after that must still be found where it is.
function stallRow() {
    const rand = mulberry32(SEED + 3000);
    const original = Buffer.alloc(40 << 20);
    for (let i = 0; i < original.length; i += 4) {
        original.writeUInt32LE((rand() * 2 ** 32) >>> 0, i);
    }
    const patched = Buffer.from(original);
    for (let at = 7; at < patched.length; at += (1 << 20) + 13) {
        patched[at] ^= 0xff;
    }
    return {name: 'reads that stall', original: scratchFile('stall-original', original), patched: scratchFile('stall-patched', patched), width: '', address: ''};
}
const stalled = stallRow();

async function loadEngine(engine) {
    try {
        return await import(`./drivers/${engine}.mjs`);
    } catch (error) {
        return {missing: () => `its driver could not be loaded (npm ci --prefix tests/web): ${error.message}`};
    }
}

for (const engine of ENGINES) {
    const driver = await loadEngine(engine);
    const reason = driver.missing();
    if (reason && IN_CI) {
        test(`${engine} is installed`, () => assert.fail(`${engine}: ${reason}`));
        continue;
    }
    describe(engine, {skip: reason ? `${engine}: ${reason}` : false}, () => {
        let page;

        before(async () => {
            page = await driver.open(pathToFileURL(PAGE).href);
        });

        after(async () => {
            await page?.close();
        });

        for (const row of ROWS) {
            test(row.name, {timeout: HANG_MS}, async () => {
                const problems = await expectSameAsNative(page, row);
                if (row.bytesView) {
                    await expectBytesView(page, row, native(row).stdout);
                }
                if (row.screenshot && process.env.BVEX_SCREENSHOT) {
                    // The picture shows the view "Bytes" at the first change in the middle of
                    // the code, come to by Next difference from the byte before, with the equal
                    // bytes around it, and that line in the report.
                    const change = linesWithOffsets(row, native(row).stdout).find((line) => line.offset >= 0x10000);
                    await expectBytesAt(page, row, change.offset - 1, await bytesGoTo(page, row, change.offset - 1));
                    assert.deepEqual((await page.bytesWalk('n', 1)).map(({at}) => at), [change.offset]);
                    await expectBytesAt(page, row, change.offset);
                    const path = process.env.BVEX_SCREENSHOT;
                    await page.screenshot(engine === 'chromium' ? path : path.replace(/(\.png)?$/, `-${engine}.png`));
                }
                assert.deepEqual([...problems, ...(await problemsOf(page))], []);
            });
        }

        for (const side of ['original', 'patched']) {
            for (const how of ['removed', 'shortened']) {
                test(`${side} file ${how} after it was chosen: bvex's read error, no report`, {timeout: HANG_MS}, async () => {
                    await expectReadError(page, engine, side, how);
                    assert.deepEqual(await problemsOf(page), []);
                });
            }
        }

        test('a stream whose reads stop giving bytes: the run goes on from the same place, the report unchanged', {timeout: HANG_MS}, async () => {
            const stalling = await driver.open(stallingPage(`${engine}-streams-stall`, STREAMS_STALL));
            try {
                const problems = await expectSameAsNative(stalling, stalled);
                assert.deepEqual([...problems, ...(await problemsOf(stalling))], []);
            } finally {
                await stalling.close();
            }
        });

        test('every read stops giving bytes: bvex\'s read error, never a wait without end', {timeout: HANG_MS}, async () => {
            const stalling = await driver.open(stallingPage(`${engine}-reads-stall`, `${STREAMS_STALL}\n${SLICES_STALL}`));
            try {
                const folder = join(scratch, 'a folder');
                mkdirSync(folder, {recursive: true});
                const errors = ['original', 'patched'].map((side) => native({...stalled, [side]: folder}).stderr);
                await compare(stalling, stalled);
                const status = await stalling.waitIdle(HANG_MS);
                assert.ok(errors.includes(status.text), `the status is "${status.text}", not one of ${JSON.stringify(errors)}`);
                assert.equal(await stalling.enabled('Download report'), false, 'no report to download after a read error');
            } finally {
                await stalling.close();
            }
        });

        for (const [side, how] of [['original', 'removed'], ['patched', 'shortened']]) {
            test(`${side} file ${how} after the run: the view "Bytes" cannot read it, and shows none of its bytes`, {timeout: HANG_MS}, async () => {
                await page.records();
                await expectBytesUnreadable(page, engine, side, how);
                assert.deepEqual(await problemsOf(page), []);
            });
        }

        for (const row of [denseOne, wrapping, mapPair]) {
            test(`${row.name}: the keys, Go to address and the map show the right lines`, {timeout: HANG_MS}, async () => {
                await page.records();
                await expectBrowsing(page, row);
                assert.deepEqual(await problemsOf(page), []);
            });
        }

        test('a report growing past the scrolling height\'s cap keeps the line read in place', {timeout: HANG_MS}, async () => {
            // 600,000 lines; the view is moved to line 150,001 once 300,000 have come (far
            // more than the scrolling height's cap stands for pixel by pixel), then the rest
            // come, and a notch of the wheel must move the view by a few lines only.
            await page.records();
            await page.evaluate(() => { window.bvexHeld = []; });
            await compare(page, growing);
            for (let tries = 0; !(await page.releaseHeld(300_000)); tries++) {
                assert.ok(tries < 3000, 'the run gave 300,000 lines');
                await new Promise((resolve) => setTimeout(resolve, 20));
            }
            // The page brought up to date with those lines first (its first drawing measures
            // the lines and sets the scroll position anew).
            for (let tries = 0; numberIn(await page.evaluate(() => document.getElementById('summary').textContent), /([\d,]+) lines/) < 300_000; tries++) {
                assert.ok(tries < 3000, 'the summary counts 300,000 lines');
                await new Promise((resolve) => setTimeout(resolve, 20));
            }
            await waitView(page, (view) => assert.ok(view.length > 3));
            await page.fill('Go to address', hex8(150_000));
            await page.click('Go');
            await expectTarget(page, hex8(150_000), 'Go to address in the middle of a run');
            await new Promise((resolve) => setTimeout(resolve, 600));
            await page.releaseHeld(0);
            assert.match((await page.waitIdle(HANG_MS)).text, /^Done.* 600,000 lines/);
            await new Promise((resolve) => setTimeout(resolve, 600));
            await page.evaluate(() => { document.querySelector('[aria-label="Report lines"]').scrollTop += 100; });
            const first = await waitView(page, (view) => {
                const shown = parseInt(view[0].address, 16);
                assert.notEqual(shown, 150_000, 'the view moved');
                return shown;
            });
            assert.ok(first > 150_000 && first <= 150_010, `a notch of the wheel from line 150,001 shows line ${first + 1} first`);
            assert.deepEqual(await problemsOf(page), []);
        });

        test('a Copy that ends after the next run began leaves that run\'s status', {timeout: HANG_MS}, async () => {
            // The clipboard answers when the test says; meanwhile the next run fails at once.
            await expectSameAsNative(page, sample);
            await page.evaluate(() => {
                const held = new Promise((resolve) => { window.bvexCopied = resolve; });
                const later = () => held;
                Object.defineProperty(navigator, 'clipboard', {value: {write: later, writeText: later}, configurable: true});
            });
            await page.click('Copy report');
            const failing = {...sample, width: '300'};
            const expected = native(failing);
            assert.equal(expected.status, 1);
            await compare(page, failing);
            assert.equal((await page.waitIdle(HANG_MS)).text, expected.stderr);
            await page.evaluate(() => window.bvexCopied());
            await new Promise((resolve) => setTimeout(resolve, 300));
            assert.deepEqual(await page.status(), {text: expected.stderr, busy: false}, 'the failed run\'s message stays');
            assert.deepEqual(await problemsOf(page), []);
        });

        test('Cancel stops a long run and its worker, and the next run succeeds', {timeout: HANG_MS}, async () => {
            await page.records();
            await compare(page, sparse);
            assert.match((await page.waitStatus(/^Compared /, HANG_MS)).text, /^Compared /);
            await page.click('Cancel');
            const status = await page.status();
            assert.match(status.text, /^Cancelled/);
            assert.equal(status.busy, false);
            assert.equal(await page.enabled('Download report'), false);
            assert.equal(await page.enabled('Cancel'), false);
            const {workers, problems} = await page.records();
            assert.ok(workers.length > 0, 'the run made a worker');
            assert.deepEqual(workers, workers.map(() => ({terminated: true})), 'every worker of the run is stopped');
            const progress = () => page.evaluate(() => document.querySelector('progress')?.value ?? null);
            const before = await progress();
            await new Promise((resolve) => setTimeout(resolve, 500));
            assert.equal(await progress(), before, 'the progress stays where Cancel left it');
            assert.deepEqual((await page.records()).statuses, [], 'the status stays as Cancel left it');
            const next = await expectSameAsNative(page, sample);
            assert.deepEqual([...problems, ...next, ...(await problemsOf(page))], []);
        });
    });
}
