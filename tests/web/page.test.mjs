// The page against the native bvex, in Chromium, Firefox and WebKit: for each row of one
// table, the same command line (the fields) on the same files must give the same report
// byte for byte, the same lines in the view with the same bytes marked and the same counts
// of differing bytes in the map's columns, or the same message in the status with nothing to
// download. Besides: "Go to address", the map's columns and the view's keys show the lines
// the native report says they should, to the last of more than 100,000; a file that can no
// longer be read in the middle of a run ends it with bvex's read error, a read that stalls
// is carried on another way or ends the run with that error, Cancel stops the run's
// worker, and the progress never counts more than the shorter file holds. Any request that leaves the
// machine, any script error and any console error fails the row.
//
//   npm ci --prefix tests/web
//   BVEX_PAGE=path/to/bvex-X.Y.Z-web.html BVEX_NATIVE=path/to/bvex node --test tests/web/
//
// BVEX_ENGINES picks engines (default chromium,firefox,webkit); each is driven through one
// module of drivers/. An engine that is not installed is skipped, naming its Debian
// packages, or fails the test where CI=true. BVEX_SCREENSHOT=path.png also saves a picture of
// the page with the sample pair's report (Chromium's; the others' beside it, named after
// them). The wasi preset runs this as its test web_page.

import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import {closeSync, existsSync, mkdirSync, mkdtempSync, openSync, readFileSync, rmSync, statSync, truncateSync, writeFileSync, writeSync} from 'node:fs';
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
// A pair of sparse files just past 4 GiB, equal but for one byte past 4 GiB.
const bigOriginal = sparseFile('big-original', BIG);
const bigPatched = sparseFile('big-patched', BIG, {[2 ** 32 + 100]: 0x5a});

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
    };
}
const firmware = firmwareRow();
// Its one line lies past 4 GiB: its offset is its address's plus 4 GiB.
const sparse = {name: 'sparse pair past 4 GiB', original: bigOriginal, patched: bigPatched, width: '', address: '', wraps: 1};
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
// differing bytes: each address less the block address, plus 4 GiB for each of the row's wraps.
function linesWithOffsets(row, report) {
    const blockAddress = blockAddressOf(row.address);
    const view = expectedView(report, Infinity).slice(0, -1);
    return view.map((line) => {
        const address = parseInt(line.address, 16);
        const offset = ((address - blockAddress + WRAP) % WRAP) + (row.wraps ?? 0) * WRAP;
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
                if (row.screenshot && process.env.BVEX_SCREENSHOT) {
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
