// The page's following of a report, without a browser: the worker's counter (web/worker.js)
// fed a report in pieces cut anywhere, and the page's line store (web/lines.js) fed what the
// counter gives, against the truth the test made the report from. Lines far apart (4 GiB and
// more, exactly 4 GiB), block addresses that wrap, a store whose index must thin itself many
// times: each line's offset, the map's counts, reading lines back and finding the first line
// at or after an offset must all come out exact.
//
//   node --test tests/web/lines.test.mjs

import assert from 'node:assert/strict';
import {readFileSync} from 'node:fs';
import {test} from 'node:test';
import vm from 'node:vm';

import {mulberry32} from './seeded.mjs';

const WRAP = 2 ** 32;
const GiB = 2 ** 30;
const web = new URL('../../web/', import.meta.url);

// Each script in a context of its own, as the worker and the page each have theirs.
function load(file, names) {
    const context = vm.createContext({Blob, TextDecoder, MessageChannel, performance, self: {}, postMessage() {}});
    return vm.runInContext(`${readFileSync(new URL(file, web), 'utf8')}\n;({${names.join(', ')}})`, context);
}
const {reportCounter, mapStarts} = load('worker.js', ['reportCounter', 'mapStarts']);
const {reportStore, storeAdd, storeLines, storeFind, storeNextDiffering, storePreviousDiffering} = load('lines.js',
    ['reportStore', 'storeAdd', 'storeLines', 'storeFind', 'storeNextDiffering', 'storePreviousDiffering']);
const {mapLevel, mapNext} = load('map.js', ['mapLevel', 'mapNext']);

const hex = (n, digits) => n.toString(16).toUpperCase().padStart(digits, '0');

// A report of count lines as bvex writes them: each line's span of 1 to 6 bytes begins and
// ends with a differing byte; the gap between lines is usually small (up to spread bytes),
// now and then far (farEvery), and with exact, once the next line is exactly 4 GiB on, at the
// same address. Returns the lines' truth and the compared length.
function makeReport({count, blockAddress, farEvery, exact, spread = 3000, seed}) {
    const rand = mulberry32(seed);
    const lines = [];
    let offset = Math.floor(rand() * 100);
    for (let i = 0; i < count; i++) {
        const n = 1 + Math.floor(rand() * 6);
        const original = [];
        const patched = [];
        const differing = [];
        for (let k = 0; k < n; k++) {
            const byte = Math.floor(rand() * 256);
            const differs = k === 0 || k === n - 1 || rand() < 0.5;
            original.push(byte);
            patched.push(differs ? (byte + 1 + Math.floor(rand() * 255)) % 256 : byte);
            if (differs) {
                differing.push(offset + k);
            }
        }
        const address = (blockAddress + offset) % WRAP;
        const text = `${hex(address, 8)}: ${original.map((b) => hex(b, 2)).join('')} ${patched.map((b) => hex(b, 2)).join('')}\n`;
        lines.push({offset, end: offset + n, text, differing});
        const far = farEvery && i % farEvery === farEvery - 1 ? 4 * GiB + Math.floor(rand() * 2 * GiB) : 0;
        offset += exact && i === Math.floor(count / 2) ? WRAP : n + 5 + Math.floor(rand() * spread) + far;
    }
    return {lines, total: offset + Math.floor(rand() * 1000)};
}

// Feeds the report to the counter in pieces cut anywhere, each with the most bytes the files
// could have given the module by then (at least to the end of the last line begun, at most
// 8 MiB further), and each piece's counts and index to a store. As the module's writes, no
// piece holds lines from both sides of a far gap: it writes out all it has before it asks for
// more of the files, so lines of one write come from one buffer's worth of bytes. Now and
// then, lines are read back while the report grows and the index thins.
async function follow(report, blockAddress, limit, seed) {
    const rand = mulberry32(seed);
    const starts = mapStarts(report.total);
    const counter = reportCounter(starts);
    counter.blockAddress = blockAddress;
    const store = reportStore(limit);
    const text = Buffer.from(report.lines.map((l) => l.text).join(''), 'latin1');
    const lineAt = [];
    const cuts = [];
    report.lines.forEach((line, i) => {
        if (i > 0 && line.offset - report.lines[i - 1].end >= GiB) {
            cuts.push(lineAt.length);
        }
        for (let k = 0; k < line.text.length; k++) {
            lineAt.push(i);
        }
    });
    cuts.push(text.length);
    let largest = 0;
    for (let at = 0; at < text.length;) {
        const cut = cuts.find((c) => c > at);
        const size = Math.min(cut - at, 1 + Math.floor(rand() * (rand() < 0.95 ? 30 : 3000)));
        const line = report.lines[lineAt[at + size - 1]];
        const upper = Math.min(report.total, line.end + Math.floor(rand() * 8 * 2 ** 20));
        counter.feed(text.subarray(at, at + size), upper);
        at += size;
        const map = counter.map.slice();
        storeAdd(store, {blob: new Blob([text.subarray(at - size, at)]), lines: counter.lines, differing: counter.differing, bytes: counter.bytes, blockAddress, index: counter.takeIndex(), map});
        largest = Math.max(largest, store.index.lines.length);
        if (store.lines > 0 && rand() < 0.02) {
            const first = Math.floor(rand() * store.lines);
            const got = await storeLines(store, first, 3);
            const expected = report.lines.slice(first, Math.min(first + 3, store.lines)).map((l) => ({text: l.text.slice(0, -1), offset: l.offset}));
            assert.deepEqual(Array.from(got, (l) => ({...l})), expected, `lines from ${first} of the first ${store.lines}`);
        }
    }
    return {starts, counter, store, largest};
}

const ROWS = [
    {name: 'lines close together, one exactly 4 GiB after the one before', count: 3000, blockAddress: 0, exact: true, limit: 1 << 16},
    {name: 'a few KiB: lines across the map\'s columns', count: 400, blockAddress: 0x100, spread: 20, limit: 1 << 16},
    {name: 'block address that wraps, index thinned to 2 entries', count: 5000, blockAddress: 0xfffffff0, exact: true, limit: 2},
    {name: 'lines 4 GiB and more apart, index thinned', count: 4000, blockAddress: 0x8000, farEvery: 700, exact: true, limit: 3},
    {name: 'every line far from the one before', count: 40, blockAddress: 0x12345678, farEvery: 1, limit: 4},
];

for (const row of ROWS) {
    test(row.name, async () => {
        const report = makeReport({...row, seed: row.count});
        const {starts, counter, store, largest} = await follow(report, row.blockAddress, row.limit, row.count + 1);
        const differing = report.lines.flatMap((l) => l.differing);

        assert.equal(counter.lines, report.lines.length);
        assert.equal(counter.differing, differing.length);
        assert.equal(store.lines, report.lines.length);

        // The map's columns: from 0 to the compared length, each a share within one byte of the
        // others, holding the differing bytes at its offsets.
        const columns = starts.length - 1;
        assert.equal(columns, Math.min(256, report.total));
        assert.equal(starts[0], 0);
        assert.equal(starts[columns], report.total);
        const widths = [...starts.slice(1)].map((s, i) => s - starts[i]);
        assert.ok(Math.max(...widths) - Math.min(...widths) <= 1, `column widths ${Math.min(...widths)} to ${Math.max(...widths)}`);
        const want = new Array(columns).fill(0);
        for (const offset of differing) {
            want[starts.findLastIndex((s) => s <= offset)] += 1;
        }
        assert.deepEqual([...counter.map], want);

        // The index stays within its limit, but for the lines far from the ones before.
        const far = report.lines.filter((l, i) => i > 0 && l.offset - report.lines[i - 1].offset >= WRAP).length;
        assert.ok(largest <= row.limit + far, `the index held ${largest} entries; limit ${row.limit}, ${far} far lines`);

        // Lines read back from anywhere, with their offsets.
        const rand = mulberry32(row.count + 2);
        const picks = [0, report.lines.length - 1, ...Array.from({length: 30}, () => Math.floor(rand() * report.lines.length))];
        for (const first of picks) {
            const got = await storeLines(store, first, 5);
            const expected = report.lines.slice(first, first + 5).map((l) => ({text: l.text.slice(0, -1), offset: l.offset}));
            assert.deepEqual(Array.from(got, (l) => ({...l})), expected, `lines from ${first}`);
        }

        // The first line at or after an offset: a line's own, one past it, one before it, the
        // ends.
        const targets = [0, report.total, report.lines.at(-1).offset + 1];
        for (const i of picks) {
            const {offset} = report.lines[i];
            targets.push(offset, offset + 1, offset - 1);
        }
        for (const target of targets) {
            const expected = report.lines.findIndex((l) => l.offset >= target);
            assert.equal(await storeFind(store, target), expected, `first line at or after ${target}`);
        }

        // Each map column's first line holding one of its differing bytes (it may start in the
        // column before), and none for a column without differences.
        const lineOf = (offset) => report.lines.findIndex((l) => l.differing.includes(offset));
        for (let i = 0; i < columns; i++) {
            const first = differing.find((offset) => offset >= starts[i] && offset < starts[i + 1]);
            const found = await storeNextDiffering(store, starts[i], starts[i + 1]);
            assert.deepEqual(found && {...found}, first === undefined ? null : {line: lineOf(first), offset: first}, `map column ${i}`);
        }

        // The next differing byte at or after an offset and the last one before it, from
        // anywhere; and a walk from each end over 40 of them, one at a time.
        const wanted = (offset) => (offset === undefined ? null : {line: lineOf(offset), offset});
        for (const target of targets.concat(differing.slice(0, 5), differing.slice(-5))) {
            const next = await storeNextDiffering(store, target, Infinity);
            assert.deepEqual(next && {...next}, wanted(differing.find((o) => o >= target)), `next differing byte from ${target}`);
            const previous = await storePreviousDiffering(store, target);
            assert.deepEqual(previous && {...previous}, wanted(differing.findLast((o) => o < target)), `previous differing byte before ${target}`);
        }
        let at = -1;
        for (const offset of differing.slice(0, 40)) {
            at = (await storeNextDiffering(store, at + 1, Infinity)).offset;
            assert.equal(at, offset, 'walking forward');
        }
        at = report.total;
        for (const offset of differing.slice(-40).reverse()) {
            at = (await storePreviousDiffering(store, at)).offset;
            assert.equal(at, offset, 'walking back');
        }
        assert.equal(await storePreviousDiffering(store, differing[0]), null, 'nothing before the first');
        assert.equal(await storeNextDiffering(store, differing.at(-1) + 1, Infinity), null, 'nothing after the last');
    });
}

// The map's columns: a column's height, and where Page Up and Page Down move the strip's focus.
const LEVELS = [
    {name: 'columns of one byte', starts: [0, 1, 2, 3], counts: [1, 0, 1], levels: [1, 0, 1]},
    {name: 'columns of two and three bytes', starts: [0, 2, 5, 7], counts: [2, 3, 1], levels: [1, 1, 0.2]},
    {name: 'columns of 4,096 bytes', starts: [0, 4096, 8192, 12288], counts: [1, 64, 4096], levels: [0.2, 0.6, 1]},
];
for (const row of LEVELS) {
    test(`map levels: ${row.name}`, () => {
        const map = {starts: row.starts, counts: row.counts};
        assert.deepEqual(row.levels.map((_, i) => Math.round(100 * mapLevel(map, i)) / 100), row.levels);
    });
}

const KEYS = [
    {name: 'Page Down to the next column with differences', counts: [1, 0, 0, 3, 0], focus: 0, key: 'PageDown', next: 3},
    {name: 'Page Down with none further stays', counts: [1, 0, 0, 3, 0], focus: 3, key: 'PageDown', next: 3},
    {name: 'Page Down from a column without differences, none further', counts: [1, 0, 0, 0, 0], focus: 1, key: 'PageDown', next: 1},
    {name: 'Page Up to the column before with differences', counts: [0, 2, 0, 3, 0], focus: 4, key: 'PageUp', next: 3},
    {name: 'Page Up with none before stays', counts: [0, 2, 0, 3, 0], focus: 1, key: 'PageUp', next: 1},
    {name: 'Page Up from the first column', counts: [0, 2], focus: 0, key: 'PageUp', next: 0},
    {name: 'the arrows stop at the ends', counts: [0, 2], focus: 1, key: 'ArrowRight', next: 1},
    {name: 'End', counts: [0, 2, 0], focus: 0, key: 'End', next: 2},
    {name: 'a key not the strip\'s', counts: [0, 2, 0], focus: 0, key: 'a', next: null},
];
for (const row of KEYS) {
    test(`map keys: ${row.name}`, () => {
        assert.equal(mapNext({counts: row.counts, focus: row.focus}, row.key), row.next);
    });
}
