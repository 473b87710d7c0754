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

// The view "Bytes" (web/bytes.js): its rows read back from their markup against the files'
// bytes, its reading through a bounded cache, its values and its keys.
const {bytesReader, bytesRowsHtml, bytesValues, bytesMove, bytesTop} = load('bytes.js',
    ['bytesReader', 'bytesRowsHtml', 'bytesValues', 'bytesMove', 'bytesTop']);

// A file of size bytes whose byte at offset is byteAt(offset), sliced as a File is; its
// slices are counted.
function fakeFile(size, byteAt) {
    const file = {
        size,
        slices: 0,
        slice(start, end) {
            file.slices += 1;
            return {arrayBuffer: async () => Uint8Array.from({length: end - start}, (_, i) => byteAt(start + i)).buffer};
        },
    };
    return file;
}

// Each row's offset, address and sides, each side's places {text, marked, notCompared, at}
// in hex (blank places left out) or the error shown instead.
function parseRows(html) {
    return [...html.matchAll(/<li data-offset="(\d+)">(.*?)<\/li>/g)].map(([, offset, body]) => {
        const sides = [...body.matchAll(/<span class="who">(\w+)<\/span>(?:<code class="hex">(.*?)<\/code>|<span class="error">(.*?)<\/span>)/g)]
            .map(([, who, hex, error]) => ({
                who,
                error,
                places: hex === undefined ? null : [...hex.matchAll(/<(span|mark) class="([^"]*)">([0-9A-F]{2})<\/\1>/g)].map(([, tag, classes, text]) => ({
                    text, marked: tag === 'mark', notCompared: classes.split(' ').includes('nc'), at: classes.split(' ').includes('at'),
                })),
            }));
        return {
            offset: Number(offset),
            shownOffset: body.match(/<code class="off">([0-9A-F]+)<\/code>/)[1],
            address: body.match(/<code class="addr">([0-9A-F]{8})<\/code>/)[1],
            sides,
        };
    });
}

const BYTE_ROWS = [
    {name: 'a pair of different lengths', sizes: [5000, 4100], blockAddress: 0x8000},
    {name: 'an address that wraps', sizes: [70_000, 70_000], blockAddress: 0xfffffff0},
    {name: 'past 4 GiB, the patched file longer', sizes: [2 ** 32 + 4096, 2 ** 32 + 9000], blockAddress: 0x08000000},
];
for (const row of BYTE_ROWS) {
    test(`bytes: ${row.name}`, async () => {
        // The patched file's bytes differ from the original's at one offset in seven.
        const original = (offset) => (offset * 131 + (offset >> 12)) & 255;
        const patched = (offset) => (offset % 7 === 3 ? original(offset) ^ 0x5a : original(offset));
        const files = [fakeFile(row.sizes[0], original), fakeFile(row.sizes[1], patched)];
        const readers = files.map(bytesReader);
        const longer = Math.max(...row.sizes);
        const compared = Math.min(...row.sizes);
        const rand = mulberry32(row.sizes[0]);
        const tops = [0, compared - (compared % 16) - 32, longer - (longer % 16) - 16, ...Array.from({length: 20}, () => 16 * Math.floor((rand() * longer) / 16))];
        for (const top of tops) {
            const rows = 6;
            const cursor = top + Math.floor(rand() * rows * 16);
            const sides = {};
            for (const [name, reader] of [['original', readers[0]], ['patched', readers[1]]]) {
                sides[name] = await reader.read(top, top + rows * 16);
            }
            const html = bytesRowsHtml({start: top, rows, sides, sizes: {original: row.sizes[0], patched: row.sizes[1]}, blockAddress: row.blockAddress, cursor});
            const parsed = parseRows(html);
            assert.equal(parsed.length, Math.min(rows, Math.ceil((longer - top) / 16)), `rows from ${top}`);
            parsed.forEach((shown, r) => {
                const at = top + 16 * r;
                assert.equal(shown.offset, at);
                assert.equal(shown.shownOffset, at.toString(16).toUpperCase().padStart(8, '0'));
                assert.equal(parseInt(shown.shownOffset, 16), at);
                assert.equal(shown.address, ((row.blockAddress + at) % WRAP).toString(16).toUpperCase().padStart(8, '0'));
                shown.sides.forEach((side, s) => {
                    const size = row.sizes[s];
                    const byteAt = s === 0 ? original : patched;
                    assert.equal(side.places.length, Math.max(0, Math.min(16, size - at)), `bytes of the ${side.who} side at ${at}`);
                    side.places.forEach((place, i) => {
                        const offset = at + i;
                        assert.equal(place.text, byteAt(offset).toString(16).toUpperCase().padStart(2, '0'), `byte at ${offset}`);
                        assert.equal(place.notCompared, offset >= compared, `not compared at ${offset}`);
                        assert.equal(place.marked, offset < compared && original(offset) !== patched(offset), `mark at ${offset}`);
                        assert.equal(place.at, offset === cursor, `cursor at ${offset}`);
                    });
                });
            });
        }
        // However much is read, each reader keeps a bounded number of blocks.
        for (const reader of readers) {
            assert.ok(reader.blocks.size <= 48, `${reader.blocks.size} blocks kept`);
        }
        // What is kept is read once: the same rows again read nothing more.
        const before = files[0].slices;
        await readers[0].read(tops.at(-1), tops.at(-1) + 96);
        assert.equal(files[0].slices, before);
    });
}

test('bytes: a file that cannot be read shows bvex\'s message, and is read again next time', async () => {
    let fails = true;
    const file = {
        size: 1000,
        slice: (start, end) => ({arrayBuffer: async () => {
            if (fails) {
                throw new Error('NotReadableError');
            }
            return new Uint8Array(end - start).fill(7).buffer;
        }}),
    };
    const shortened = {size: 1000, slice: () => ({arrayBuffer: async () => new ArrayBuffer(10)})};
    await assert.rejects(bytesReader(shortened).read(0, 16));
    // The one-byte check before kept blocks are shown: a file that gives no byte where it had
    // one (shortened since it was chosen) cannot be read, one that gives its byte can.
    const cut = {size: 1000, slice: (start, end) => ({arrayBuffer: async () => new ArrayBuffer(Math.max(0, Math.min(end, 100) - start))})};
    for (const [at, readable] of [[0, true], [99, true], [100, false], [999, false], [5000, false]]) {
        const checked = bytesReader(cut).check(at);
        await (readable ? assert.doesNotReject(checked) : assert.rejects(checked));
    }
    const reader = bytesReader(file);
    await assert.rejects(reader.read(0, 16));
    fails = false;
    assert.deepEqual([...await reader.read(0, 4)], [7, 7, 7, 7]);
    const html = bytesRowsHtml({start: 0, rows: 1, sides: {original: 'cannot read original file', patched: new Uint8Array(16)}, sizes: {original: 1000, patched: 1000}, blockAddress: 0, cursor: 0});
    const [row] = parseRows(html);
    assert.equal(row.sides[0].error, 'cannot read original file');
    assert.equal(row.sides[0].places, null);
    assert.ok(row.sides[1].places.every((place) => !place.marked), 'no marks against bytes not read');
});

// Bytes 01 02 .. 08 and FF FE .. F8, the values as Python's struct gives them.
const VALUES = [
    ['u8', '1', '255'], ['s8', '1', '-1'],
    ['u16 little-endian', '513', '65279'], ['u16 big-endian', '258', '65534'],
    ['s16 little-endian', '513', '-257'], ['s16 big-endian', '258', '-2'],
    ['u32 little-endian', '67305985', '4244504319'], ['u32 big-endian', '16909060', '4294901244'],
    ['s32 little-endian', '67305985', '-50462977'], ['s32 big-endian', '16909060', '-66052'],
    ['u64 little-endian', '578437695752307201', '17940646550795321087'], ['u64 big-endian', '72623859790382856', '18446460386757245432'],
    ['s64 little-endian', '578437695752307201', '-506097522914230529'], ['s64 big-endian', '72623859790382856', '-283686952306184'],
    ['f32 little-endian', '1.539989614439558e-36', '-1.055058432344064e+37'], ['f32 big-endian', '2.387939260590663e-38', 'NaN'],
    ['f64 little-endian', '5.447603722011605e-270', '-5.621885836375608e+274'], ['f64 big-endian', '8.20788039913184e-304', 'NaN'],
];
test('bytes: the values at the cursor, and none past a file\'s end', () => {
    const rows = bytesValues({original: Uint8Array.of(1, 2, 3, 4, 5, 6, 7, 8), patched: Uint8Array.of(0xff, 0xfe, 0xfd, 0xfc, 0xfb, 0xfa, 0xf9, 0xf8)});
    assert.deepEqual(Array.from(rows, (r) => [r.name, r.original, r.patched]), VALUES);
    const short = bytesValues({original: Uint8Array.of(1, 2, 3), patched: null});
    for (const {name, original, patched} of short) {
        assert.equal(patched, null, name);
        assert.equal(original === null, !/^[us](8|16)/.test(name), `${name}: ${original}`);
    }
});

const MOVES = [
    {name: 'a byte right', cursor: 5, key: 'ArrowRight', next: 6},
    {name: 'a row down', cursor: 5, key: 'ArrowDown', next: 21},
    {name: 'a row up from the first row stops at 0', cursor: 5, key: 'ArrowUp', next: 0},
    {name: 'Page Down by the rows in sight', cursor: 5, key: 'PageDown', next: 5 + 8 * 16},
    {name: 'Page Down stops at the last byte', cursor: 990, key: 'PageDown', next: 999},
    {name: 'End', cursor: 5, key: 'End', next: 999},
    {name: 'Home', cursor: 500, key: 'Home', next: 0},
    {name: 'a key not the view\'s', cursor: 500, key: 'x', next: null},
];
for (const row of MOVES) {
    test(`bytes keys: ${row.name}`, () => {
        assert.equal(bytesMove(row.cursor, row.key, 1000, 8), row.next);
    });
}
test('bytes: the rows in sight follow the cursor', () => {
    assert.equal(bytesTop(160, 170, 8), 160);
    assert.equal(bytesTop(160, 159, 8), 144);
    assert.equal(bytesTop(160, 160 + 8 * 16, 8), 160 + 16);
    assert.equal(bytesTop(0, 2 ** 32 + 5, 8), 2 ** 32 - 7 * 16);
});
