#!/usr/bin/env node
// Benchmark of the page in each browser engine the browser tests drive (Chromium, Firefox,
// WebKit), against the fastest the engine reads files: on the 1 GiB identical pair and on
// a sparse pair just past 4 GiB, every bare way of reading both files that the engine
// offers (slices of several sizes and depths, byte streams with their own reader or the
// default one, streams of slices, FileReaderSync; in a worker, or in the page where a
// worker can read no file) is timed in turns with the page. The floor is the fastest way
// that completes with at most 64 MiB of each file in flight, and whose memory stays under
// 1 GiB; the page must reach 0.8 times it. It also gives how much the browser's memory grows (the resident memory of all its
// processes, peak during the run against just before it) and the longest the page's main
// thread was kept from running a timer, the upper bound of its longest task. With
// --previous, a page of an earlier build against this one on the 64 MiB all-different pair
// (a report of 4 million lines), in turns: what following the report (its map and its line
// index) costs. Prints every way's figures, the floor and the verdicts.
//
// With --view, instead: the view "Bytes" after a run on the 1 GiB pair (with changed bytes)
// and on a sparse pair past 4 GiB: the time from Go to address and Next difference to the
// view drawn there, over 200 places each; the main thread's longest task while the view is
// scrolled through 10,000 rows; the browser's memory growth meanwhile; and, the floor of an
// action, how long the engine takes to draw a frame whose one change is the cursor's text.
//
// Usage: node bench/web.mjs --page PATH [--previous PATH] [--engines LIST] [--dir DIR]
//                           [--runs N] [--far-runs N] [--size BYTES] [--pairs LIST]
//                           [--ways LIST] [--keep] [--view] [--webkit-compositing MODE]
//   --page PATH     the built page, bvex-X.Y.Z-web.html
//   --previous PATH the page of an earlier build, to time against on the all-different pair
//   --engines LIST  comma-separated, of chromium, firefox, webkit (default: all three)
//   --dir DIR       data folder (default $BVEX_BENCH_DIR or /tmp/bvex-bench); one run at a
//                   time per folder
//   --runs N        timed runs of each way and the page on the identical pair, each in a
//                   browser of its own (default 5)
//   --far-runs N    the same on the sparse pair (default 1)
//   --size N        bytes per file of the identical pair (default 1073741824; a suffix K, M
//                   or G multiplies)
//   --pairs LIST    identical, sparse or both (default)
//   --ways LIST     the bare ways to time (default all; see WAYS)
//   --keep          keep the identical pair's files (a later run reuses them)
//   --view          the view "Bytes" instead of the reading benchmark
//   --webkit-compositing MODE
//                   on: WebKit composites with OpenGL, its default; off: it draws without
//                   (WEBKIT_DISABLE_COMPOSITING_MODE=1); auto (default): off where the machine
//                   has no GPU (no render node in /dev/dri), on elsewhere. Without a GPU that
//                   OpenGL is Mesa's software one on the cores the page runs on: any frame with
//                   a scrolling frame in sight then takes WebKit 60-140 ms, however little the
//                   page changed, and a run's progress frames slow its reading.
// Needs the browser tests' packages and browsers (tests/web, CONTRIBUTING.md).

import {spawnSync} from 'node:child_process';
import {randomFillSync} from 'node:crypto';
import {closeSync, copyFileSync, existsSync, mkdirSync, openSync, readdirSync, readFileSync, readSync, rmdirSync, rmSync, statSync, writeFileSync, writeSync} from 'node:fs';
import {join, resolve} from 'node:path';
import {pathToFileURL} from 'node:url';

import {mulberry32} from '../tests/web/seeded.mjs';

const HANG_MS = 600_000;
const MiB = 1024 * 1024;
const ENGINES = ['chromium', 'firefox', 'webkit'];
// Most the browser's memory may grow while the page compares the identical pair.
const GROWTH_LIMIT = {chromium: 150 * MiB, firefox: 150 * MiB, webkit: 250 * MiB};
// Most a page may be slower than the previous one on the all-different pair, and the longest
// the main thread may be busy at once.
const PREVIOUS_LIMIT = 1.05;
const TASK_LIMIT_MS = 50;
// The timer whose lateness measures the main thread's longest task.
const TICK_MS = 10;
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

function options(argv) {
    const result = {dir: process.env.BVEX_BENCH_DIR || '/tmp/bvex-bench', runs: 5, farRuns: 1, pairs: ['identical', 'sparse'], size: 1024 * MiB, keep: false, engines: ENGINES};
    for (let i = 0; i < argv.length; i++) {
        const value = () => {
            if (i + 1 >= argv.length) {
                throw new Error(`${argv[i]} needs a value`);
            }
            return argv[++i];
        };
        if (argv[i] === '--page') {
            result.page = resolve(value());
        } else if (argv[i] === '--previous') {
            result.previous = resolve(value());
        } else if (argv[i] === '--engines') {
            result.engines = value().split(',');
        } else if (argv[i] === '--dir') {
            result.dir = resolve(value());
        } else if (argv[i] === '--runs') {
            result.runs = Number(value());
        } else if (argv[i] === '--far-runs') {
            result.farRuns = Number(value());
        } else if (argv[i] === '--pairs') {
            result.pairs = value().split(',');
        } else if (argv[i] === '--ways') {
            result.ways = value().split(',');
        } else if (argv[i] === '--size') {
            const [, digits, unit] = value().match(/^(\d+)([KMG]?)$/) ?? [];
            result.size = Number(digits) * ({'': 1, K: 1024, M: MiB, G: 1024 * MiB}[unit] ?? NaN);
        } else if (argv[i] === '--keep') {
            result.keep = true;
        } else if (argv[i] === '--view') {
            result.view = true;
        } else if (argv[i] === '--webkit-compositing') {
            result.webkitCompositing = value();
        } else {
            throw new Error(`unknown argument ${argv[i]}`);
        }
    }
    if (!result.page || !existsSync(result.page)) {
        throw new Error('--page must name the built page');
    }
    if (result.previous !== undefined && !existsSync(result.previous)) {
        throw new Error('--previous must name a built page');
    }
    if (!(result.runs >= 1) || !(result.farRuns >= 1) || !(result.size >= 1)) {
        throw new Error('--runs, --far-runs and --size must be positive');
    }
    if (result.pairs.some((pair) => !['identical', 'sparse'].includes(pair))) {
        throw new Error('--pairs: identical, sparse or both');
    }
    const named = result.ways ?? WAYS.map((w) => w.way);
    result.ways = WAYS.filter((w) => named.includes(w.way));
    if (result.ways.length !== named.length) {
        throw new Error(`--ways: known ways are ${WAYS.map((w) => w.way).join(', ')}`);
    }
    result.webkitCompositing ??= 'auto';
    if (!['on', 'off', 'auto'].includes(result.webkitCompositing)) {
        throw new Error('--webkit-compositing: on, off or auto');
    }
    const unknown = result.engines.filter((engine) => !ENGINES.includes(engine));
    if (unknown.length > 0) {
        throw new Error(`unknown engines: ${unknown.join(', ')}`);
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

// The all-different pair: 64 MiB of random bytes, and the same with every byte one more.
function densePair(dir) {
    const size = 64 * MiB;
    const [a, b] = [join(dir, 'web_diff_a'), join(dir, 'web_diff_b')];
    const original = Buffer.alloc(size);
    randomFillSync(original);
    writeFileSync(a, original);
    for (let i = 0; i < size; i++) {
        original[i] = (original[i] + 1) & 0xff;
    }
    writeFileSync(b, original);
    return {a, b, made: [a, b]};
}

// A pair of sparse files just past 4 GiB, equal but for one byte past 4 GiB.
function sparsePair(dir) {
    const size = 2 ** 32 + 4096;
    const [a, b] = [join(dir, 'sparse_a'), join(dir, 'sparse_b')];
    for (const path of [a, b]) {
        const fd = openSync(path, 'w');
        writeSync(fd, Buffer.alloc(1), 0, 1, size - 1);
        closeSync(fd);
    }
    const fd = openSync(b, 'r+');
    writeSync(fd, Buffer.from([0x5a]), 0, 1, 2 ** 32 + 100);
    closeSync(fd);
    return {a, b, made: [a, b]};
}

// The bare reads the floor is the fastest of: each way reads both files whole, at once,
// and does nothing with their bytes. A way is kind:size[:depth]: slices of size MiB with
// depth reads of each file under way (slice), the file's byte stream read size MiB at a
// time (stream; 0: the chunks the browser chooses), streams of slices of size MiB one after
// another (slicestream), FileReaderSync in pieces of size MiB (sync). inFlight: the most
// MiB of each file the way holds at once. slice:4:2 is how the page reads.
const WAYS = [
    {way: 'slice:4:2', inFlight: 8}, {way: 'slice:4:4', inFlight: 16}, {way: 'slice:16:2', inFlight: 32},
    {way: 'slice:16:4', inFlight: 64}, {way: 'slice:32:2', inFlight: 64}, {way: 'slice:64:1', inFlight: 64},
    {way: 'slice:64:2', inFlight: 128}, {way: 'stream:1', inFlight: 1}, {way: 'stream:4', inFlight: 4},
    {way: 'stream:0', inFlight: 1}, {way: 'slicestream:64', inFlight: 1}, {way: 'slicestream:256', inFlight: 1},
    {way: 'sync:4', inFlight: 4},
];
// The floor counts only the ways that hold at most this much of each file at once.
const FLOOR_IN_FLIGHT = 64;
// Nor a way that makes the browser's memory grow by more than this: its reads hold more
// than they say (a browser's own buffering, or garbage it keeps).
const UNBOUNDED = 1024 * MiB;
// A way that gives no byte for this long has stalled, and its run ends.
const STALL_MS = 20_000;

// The bare reads: both files read whole, at once, in one way, and nothing else done with
// their bytes. Runs in a worker, or in the page where its workers can read no file.
async function bareRead(files, way, progress) {
    const MiB = 1 << 20;
    const [kind, first, second] = way.split(':');
    const dropped = (() => {
        const channel = new MessageChannel();
        channel.port2.close();
        return channel.port1;
    })();
    const release = (buffer) => dropped.postMessage(null, [buffer]);
    async function slices(file, size, depth) {
        const queue = [];
        let requested = 0;
        let done = 0;
        const ahead = () => {
            while (queue.length < depth && requested < file.size) {
                const position = requested;
                requested = Math.min(file.size, position + size);
                queue.push(file.slice(position, requested).arrayBuffer());
            }
        };
        ahead();
        while (queue.length > 0) {
            const buffer = await queue.shift();
            ahead();
            done += buffer.byteLength;
            progress(buffer.byteLength);
            release(buffer);
        }
        return done;
    }
    async function stream(blob, size) {
        let done = 0;
        if (size === 0) {
            const stream = blob.stream();
            const reader = stream.getReader();
            self.bvexStreams = [...(self.bvexStreams ?? []), stream, reader];
            for (;;) {
                const {value, done: end} = await reader.read();
                if (end) {
                    return done;
                }
                done += value.byteLength;
                progress(value.byteLength);
                release(value.buffer);
            }
        }
        // Kept from the collector, which in Chromium takes a stream that only its pending
        // read refers to, and the read never ends (bench/stream_stall.mjs).
        const stream = blob.stream();
        const reader = stream.getReader({mode: 'byob'});
        self.bvexStreams = [...(self.bvexStreams ?? []), stream, reader];
        let buffer = new ArrayBuffer(size);
        for (;;) {
            const {value, done: end} = await reader.read(new Uint8Array(buffer, 0, size));
            if (end) {
                return done;
            }
            done += value.byteLength;
            progress(value.byteLength);
            buffer = value.buffer;
        }
    }
    async function sliceStreams(file, size) {
        let done = 0;
        for (let position = 0; position < file.size; position += size) {
            done += await stream(file.slice(position, Math.min(file.size, position + size)), MiB);
        }
        return done;
    }
    function sync(file, size) {
        const reader = new FileReaderSync();
        let done = 0;
        for (let position = 0; position < file.size; position += size) {
            const buffer = reader.readAsArrayBuffer(file.slice(position, Math.min(file.size, position + size)));
            done += buffer.byteLength;
            progress(buffer.byteLength);
        }
        return done;
    }
    const read = {
        slice: (file) => slices(file, Number(first) * MiB, Number(second)),
        stream: (file) => stream(file, Number(first) * MiB),
        slicestream: (file) => sliceStreams(file, Number(first) * MiB),
        sync: (file) => sync(file, Number(first) * MiB),
    }[kind];
    if (kind === 'sync') {
        return read(files[0]) + read(files[1]);
    }
    const counts = await Promise.all(files.map(read));
    return counts[0] + counts[1];
}

// Runs a way in the worker, or, where a worker can read no file (WebKit from disk), in the
// page; ends with "Done in the worker: N bytes in S s", "Stalled ..." or "Failed: ...".
function bareMain(stallMs) {
    const watched = (files, way, limitMs) => new Promise((resolve) => {
        const started = performance.now();
        let last = started;
        let bytes = 0;
        const seconds = () => ((performance.now() - started) / 1000).toFixed(3);
        const timer = setInterval(() => {
            if (performance.now() - last > limitMs) {
                clearInterval(timer);
                resolve(`Stalled: no byte for ${limitMs / 1000} s after ${bytes} bytes`);
            }
        }, 250);
        bareRead(files, way, (n) => {
            bytes += n;
            last = performance.now();
        }).then((total) => {
            clearInterval(timer);
            resolve(`Done: ${total} bytes in ${seconds()} s`);
        }, (error) => {
            clearInterval(timer);
            resolve(`Failed: ${error.message}`);
        });
    });
    const status = document.querySelector('[role="status"]');
    const end = (text) => {
        status.textContent = text;
        status.setAttribute('aria-busy', 'false');
    };
    document.querySelector('button').onclick = () => {
        status.setAttribute('aria-busy', 'true');
        status.textContent = 'Reading';
        const files = [document.getElementById('a').files[0], document.getElementById('b').files[0]];
        const way = location.hash.slice(1);
        const source = `${bareRead}\nconst watched = ${watched};\nself.onmessage = async ({data}) => {
            try {
                await data.files[0].slice(0, 1).arrayBuffer();
            } catch {
                postMessage(null);
                return;
            }
            postMessage((await watched(data.files, data.way, ${stallMs})).replace(':', ' in the worker:'));
        };`;
        const worker = new Worker(URL.createObjectURL(new Blob([source], {type: 'text/javascript'})));
        worker.onmessage = async ({data}) => {
            worker.terminate();
            if (data !== null) {
                end(data);
            } else if (way.startsWith('sync:')) {
                end('Failed: no FileReaderSync in the page');
            } else {
                end((await watched(files, way, stallMs)).replace(':', ' in the page:'));
            }
        };
        worker.postMessage({files, way});
    };
}

function barePage(dir) {
    const path = join(dir, 'bare.html');
    writeFileSync(path, `<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>bvex bare reads</title></head><body>
<label for="a">Original file</label> <input id="a" type="file">
<label for="b">Patched file</label> <input id="b" type="file">
<button type="button">Compare</button>
<p role="status" aria-busy="false"></p>
<script>
${bareRead}
(${bareMain})(${STALL_MS});
</script></body></html>
`);
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

// Installed in the page before a run: the longest task the main thread ran
// (window.bvexLongest), from the browser's own long-task entries where it has them
// (Chromium), otherwise from a timer every tick ms, as the most it was late: that counts
// the time the main thread waited for a core too, so it is an upper bound.
function watchMainThread(tick) {
    window.bvexLongest = 0;
    if (PerformanceObserver.supportedEntryTypes?.includes('longtask')) {
        window.bvexTasks = 'long-task entries';
        new PerformanceObserver((list) => {
            for (const entry of list.getEntries()) {
                window.bvexLongest = Math.max(window.bvexLongest, entry.duration);
            }
        }).observe({type: 'longtask'});
        return;
    }
    window.bvexTasks = `a ${tick} ms timer's lateness`;
    let last = performance.now();
    setInterval(() => {
        const now = performance.now();
        window.bvexLongest = Math.max(window.bvexLongest, now - last - tick);
        last = now;
    }, tick);
}

// One run in a fresh browser of the engine: seconds from the click to the end, the memory
// growth and the main thread's longest task.
async function measure(engine, url, pair, expectDone) {
    const driver = await engine.open(url);
    try {
        await driver.chooseFile('Original file', pair.a);
        await driver.chooseFile('Patched file', pair.b);
        await sleep(500);
        await driver.evaluate(watchMainThread, TICK_MS);
        const before = browserResident();
        let peak = before;
        const sampler = setInterval(() => {
            peak = Math.max(peak, browserResident());
        }, 50);
        const started = performance.now();
        await driver.click('Compare');
        const status = await driver.waitIdle(HANG_MS);
        const seconds = (performance.now() - started) / 1000;
        clearInterval(sampler);
        peak = Math.max(peak, browserResident());
        if (!expectDone.test(status.text)) {
            throw new Error(`${engine.name}: unexpected end of the run: ${status.text}`);
        }
        const [longest, how] = await driver.evaluate(() => [window.bvexLongest, window.bvexTasks]);
        return {seconds, growth: peak - before, longest, how, status: status.text};
    } finally {
        await driver.close();
    }
}

const median = (values) => {
    const sorted = [...values].sort((x, y) => x - y);
    return (sorted[Math.floor((sorted.length - 1) / 2)] + sorted[Math.ceil((sorted.length - 1) / 2)]) / 2;
};

// Runs each case's page ({name, url}) on pair, runs times, the cases in turns, each run
// ending as expectDone says; gives each case's row: the median time, the largest memory
// growth and the longest task.
async function inTurns(engine, cases, pair, expectDone, runs, bytes) {
    const measured = cases.map(() => []);
    for (let i = 0; i < runs; i++) {
        for (const [k, c] of cases.entries()) {
            const last = await measure(engine, c.url, pair, expectDone);
            measured[k].push(last);
            process.stderr.write(`   ${engine.name}, ${c.name}, run ${i + 1}: ${last.seconds.toFixed(3)} s, `
                + `+${(last.growth / MiB).toFixed(1)} MiB, longest task ${last.longest.toFixed(0)} ms\n`);
        }
    }
    return cases.map((c, k) => ({
        engine: engine.name,
        name: c.name,
        seconds: median(measured[k].map((r) => r.seconds)),
        growth: Math.max(...measured[k].map((r) => r.growth)),
        longest: Math.max(...measured[k].map((r) => r.longest)),
        bytes,
    }));
}

// Each way of WAYS and the page on pair, in turns, runs times (a way that did not complete
// is not run again): every way's row (its median time and where it read, or how it ended),
// the floor (the fastest way that completed within FLOOR_IN_FLIGHT) and the page's row.
async function againstFloor(engine, bareUrl, pageUrl, pair, runs, chosen) {
    const ways = chosen.map((w) => ({...w, times: [], growth: 0, outcome: 'completed', where: ''}));
    const page = {times: [], growth: 0, longest: 0, how: ''};
    const done = new RegExp(`^Done: .* ${pair.lines}, ${pair.differing}`);
    for (let i = 0; i < runs; i++) {
        for (const w of ways.filter((way) => way.outcome === 'completed')) {
            const run = await measure(engine, `${bareUrl}#${w.way}`, pair, /^(Done|Stalled|Failed)/);
            const [, where] = run.status.match(/^Done in the (\w+):/) ?? [];
            if (where === undefined) {
                w.outcome = run.status;
            } else {
                w.times.push(run.seconds);
                w.where = where;
                w.growth = Math.max(w.growth, run.growth);
            }
            process.stderr.write(`   ${engine.name}, ${pair.name}, ${w.way}, run ${i + 1}: ${run.seconds.toFixed(3)} s, +${(run.growth / MiB).toFixed(1)} MiB: ${run.status}\n`);
        }
        const run = await measure(engine, pageUrl, pair, done);
        page.times.push(run.seconds);
        page.growth = Math.max(page.growth, run.growth);
        page.longest = Math.max(page.longest, run.longest);
        page.how = run.how;
        process.stderr.write(`   ${engine.name}, ${pair.name}, bvex page, run ${i + 1}: ${run.seconds.toFixed(3)} s, +${(run.growth / MiB).toFixed(1)} MiB, longest task ${run.longest.toFixed(0)} ms\n`);
    }
    for (const w of ways) {
        w.seconds = w.outcome === 'completed' ? median(w.times) : Infinity;
    }
    page.seconds = median(page.times);
    // A way whose buffers the browser does not bound (WebKit's default stream reader holds
    // gigabytes) shows it in the memory it takes: past UNBOUNDED, it is no floor.
    const eligible = ways.filter((w) => w.outcome === 'completed' && w.inFlight <= FLOOR_IN_FLIGHT && w.growth <= UNBOUNDED);
    const floor = eligible.reduce((best, w) => (best === null || w.seconds < best.seconds ? w : best), null);
    return {ways, floor, page};
}

// The browser tests' driver of the engine named, or an error saying why it cannot run here.
async function loadEngine(name) {
    const engine = await import(`../tests/web/drivers/${name}.mjs`);
    const missing = engine.missing();
    if (missing) {
        throw new Error(`${name} cannot run here: ${missing}`);
    }
    return engine;
}

// Whether WebKit composites its layers (--webkit-compositing): set for the browsers this
// process starts, and said in words for the figures.
function webkitCompositing(mode) {
    const gpu = existsSync('/dev/dri') && readdirSync('/dev/dri').some((name) => name.startsWith('renderD'));
    const on = mode === 'on' || (mode === 'auto' && gpu);
    if (on) {
        delete process.env.WEBKIT_DISABLE_COMPOSITING_MODE;
    } else {
        process.env.WEBKIT_DISABLE_COMPOSITING_MODE = '1';
    }
    return `webkit: ${on ? 'composited with OpenGL' : 'drawn without compositing (WEBKIT_DISABLE_COMPOSITING_MODE=1)'}`
        + `${mode === 'auto' ? `, as this machine has ${gpu ? 'a' : 'no'} GPU render node` : ''}; --webkit-compositing ${on ? 'off' : 'on'} for the other`;
}

async function main() {
    const opts = options(process.argv.slice(2));
    opts.webkitDrawing = webkitCompositing(opts.webkitCompositing);
    if (opts.view) {
        return viewMain(opts);
    }
    mkdirSync(opts.dir, {recursive: true});
    const pair = {...makePair(opts.dir, opts.size), name: `${opts.size / MiB} MiB identical pair`, size: opts.size, lines: '0 lines', differing: '0 differing bytes', runs: opts.runs};
    const sparse = {...sparsePair(opts.dir), name: 'sparse pair past 4 GiB', size: 2 ** 32 + 4096, lines: '1 line', differing: '1 differing byte', runs: opts.farRuns};
    const dense = opts.previous ? densePair(opts.dir) : {made: []};
    const bareUrl = pathToFileURL(barePage(opts.dir)).href;
    const pageUrl = pathToFileURL(opts.page).href;
    const tables = [];
    const verdicts = [];
    const verdict = (met) => (met ? 'met' : 'NOT MET');
    const perFile = (size, seconds) => (Number.isFinite(seconds) ? (size / MiB / seconds).toFixed(0) : '-');
    try {
        for (const name of opts.engines) {
            const engine = await loadEngine(name);
            let longest = 0;
            let how = '';
            for (const p of [pair, sparse].filter((_, k) => opts.pairs.includes(['identical', 'sparse'][k]))) {
                const {ways, floor, page} = await againstFloor(engine, bareUrl, pageUrl, p, p.runs, opts.ways);
                tables.push({engine: name, pair: p, ways, floor, page});
                longest = Math.max(longest, page.longest);
                how = page.how;
                const limit = GROWTH_LIMIT[name];
                if (floor === null) {
                    verdicts.push(`${name}, ${p.name}: no bare way completed within ${FLOOR_IN_FLIGHT} MiB: NOT MET`);
                    continue;
                }
                const ratio = floor.seconds / page.seconds;
                verdicts.push(`${name}, ${p.name}: the page at ${ratio.toFixed(2)}x the floor (${floor.way}, ${perFile(p.size, floor.seconds)} MiB/s of each file) `
                    + `(target >= 0.8x): ${verdict(ratio >= 0.8)}; memory growth +${(page.growth / MiB).toFixed(1)} MiB (target <= ${limit / MiB} MiB): ${verdict(page.growth <= limit)}`);
            }
            if (opts.previous) {
                const [before, now] = await inTurns(engine, [
                    {name: 'previous, all different', url: pathToFileURL(opts.previous).href},
                    {name: 'bvex page, all different', url: pageUrl},
                ], dense, /^Done: .* 4,194,304 lines, 67,108,864 differing bytes/, opts.runs, 64 * MiB);
                tables.push({engine: name, pair: {name: 'all-different pair, 64 MiB', size: 64 * MiB}, previous: [before, now]});
                longest = Math.max(longest, now.longest);
                const slower = now.seconds / before.seconds;
                verdicts.push(`${name}: all-different pair against the previous page ${slower.toFixed(3)}x (target <= ${PREVIOUS_LIMIT}x): ${verdict(slower <= PREVIOUS_LIMIT)}`);
            }
            verdicts.push(`${name}: the main thread's longest task ${longest.toFixed(0)} ms, from ${how} (target <= ${TASK_LIMIT_MS} ms): ${verdict(longest <= TASK_LIMIT_MS)}`);
        }
        const pad = (text, n) => String(text).padEnd(n);
        console.log(`\npage: ${opts.page}`);
        if (opts.engines.includes('webkit')) {
            console.log(opts.webkitDrawing);
        }
        console.log(`median of ${opts.runs} runs on the identical pair, ${opts.farRuns} on the sparse pair; memory growth: the largest; floor: the fastest way with at most ${FLOOR_IN_FLIGHT} MiB of each file in flight and under ${UNBOUNDED / MiB} MiB of memory growth`);
        for (const t of tables) {
            console.log(`\n${t.engine}, ${t.pair.name}`);
            console.log(`${pad('way', 18)}${pad('read in', 9)}${pad('in flight', 11)}${pad('time', 11)}${pad('MiB/s', 8)}${pad('memory', 12)}`);
            const rows = t.previous
                ? t.previous.map((r) => ({way: r.name, where: '', inFlight: '', seconds: r.seconds, growth: r.growth, outcome: 'completed'}))
                : [...t.ways, {way: 'bvex page', where: '', inFlight: '', ...t.page, outcome: 'completed'}];
            for (const r of rows) {
                const mark = r === t.floor ? '  <- floor' : '';
                console.log(`${pad(r.way, 18)}${pad(r.where, 9)}${pad(r.inFlight === '' ? '' : `${r.inFlight} MiB`, 11)}`
                    + (r.outcome === 'completed'
                        ? `${pad(`${r.seconds.toFixed(3)} s`, 11)}${pad(perFile(t.pair.size, r.seconds), 8)}${pad(`+${(r.growth / MiB).toFixed(1)} MiB`, 12)}${mark}`
                        : r.outcome));
            }
        }
        console.log('');
        for (const line of verdicts) {
            console.log(line);
        }
    } finally {
        rmSync(join(opts.dir, 'bare.html'), {force: true});
        for (const path of [...sparse.made, ...dense.made]) {
            rmSync(path, {force: true});
        }
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

// --view: the view "Bytes". Targets for the time from an action to the view drawn, and the
// rows it is scrolled through.
const VIEW_PLACES = 200;
const VIEW_MEDIAN_MS = 30;
const VIEW_WORST_MS = 100;
const SCROLL_ROWS = 10_000;

// count offsets below size, at random (seeded), sorted and apart.
function randomOffsets(seed, count, size) {
    const rand = mulberry32(seed);
    const offsets = new Set();
    while (offsets.size < count) {
        offsets.add(Math.floor(rand() * size));
    }
    return [...offsets].sort((x, y) => x - y);
}

// The pair's original, and a copy of its patched file (named patched) with a byte changed
// at each of 256 random places: differences for Next difference all through the files.
function changedPair(pair, patched, size, seed) {
    const changes = randomOffsets(seed, 256, size);
    copyFileSync(pair.b, patched);
    const fd = openSync(patched, 'r+');
    const byte = Buffer.alloc(1);
    for (const at of changes) {
        readSync(fd, byte, 0, 1, at);
        byte[0] ^= 0xa5;
        writeSync(fd, byte, 0, 1, at);
    }
    closeSync(fd);
    return {a: pair.a, b: patched, changes, made: [patched]};
}

// A pair of sparse files just past 4 GiB, zero but for 256 bytes of the patched file at
// random places, some past 4 GiB.
function viewSparsePair(dir) {
    const size = 2 ** 32 + 4096;
    const [a, b] = [join(dir, 'view_sparse_a'), join(dir, 'view_sparse_b')];
    const changes = [...randomOffsets(5, 240, 2 ** 32), ...randomOffsets(6, 16, 4096).map((at) => 2 ** 32 + at)];
    for (const path of [a, b]) {
        const fd = openSync(path, 'w');
        writeSync(fd, Buffer.alloc(1), 0, 1, size - 1);
        if (path === b) {
            for (const at of changes) {
                writeSync(fd, Buffer.from([0x5a]), 0, 1, at);
            }
        }
        closeSync(fd);
    }
    return {a, b, changes, made: [a, b]};
}

// In the page: does each action in turn ('goto': Go to address with the address of the
// offset; 'next': Next difference, which must arrive at the offset) and gives the
// milliseconds from it to the first frame after the view "Bytes" shows its cursor at the
// offset.
async function viewTimes({kind, offsets}) {
    const text = (element) => element.textContent.replace(/\s+/g, ' ').trim();
    const button = (name) => [...document.querySelectorAll('button')].find((b) => (b.getAttribute('aria-label') ?? text(b)) === name);
    const field = [...document.querySelectorAll('label')].find((l) => text(l) === 'Go to address').control;
    const frame = document.querySelector('[aria-label="Bytes of both files"]');
    const cursor = document.getElementById(frame.getAttribute('aria-describedby'));
    const times = [];
    for (const offset of offsets) {
        const want = `Cursor at offset ${offset.toString(16).toUpperCase().padStart(8, '0')},`;
        const drawn = new Promise((resolve, reject) => {
            const timer = setTimeout(() => reject(new Error(`the view did not show offset ${offset}: ${cursor.textContent}`)), 10_000);
            const observer = new MutationObserver(() => {
                if (cursor.textContent.startsWith(want)) {
                    observer.disconnect();
                    clearTimeout(timer);
                    requestAnimationFrame(() => resolve(performance.now()));
                }
            });
            observer.observe(cursor, {childList: true, characterData: true, subtree: true});
        });
        const started = performance.now();
        if (kind === 'goto') {
            field.value = (offset % 2 ** 32).toString(16).toUpperCase();
            button('Go').click();
        } else {
            button('Next difference').click();
        }
        times.push((await drawn) - started);
    }
    return times;
}

// In the page: scrolls the view "Bytes" through rows rows with the wheel (a notch every 4
// ms, each moving it 3 rows), then waits until it shows the row that far down.
async function viewScroll(rows) {
    const frame = document.querySelector('[aria-label="Bytes of both files"]');
    const first = () => parseInt(frame.querySelector('li code.off')?.textContent ?? 'NaN', 16);
    const from = first();
    for (let moved = 0; moved < rows; moved += 3) {
        frame.dispatchEvent(new WheelEvent('wheel', {deltaY: 100, bubbles: true, cancelable: true}));
        await new Promise((resolve) => setTimeout(resolve, 4));
    }
    const until = performance.now() + 10_000;
    while (first() < from + rows * 16 && performance.now() < until) {
        await new Promise((resolve) => requestAnimationFrame(resolve));
    }
    return (first() - from) / 16;
}

// In the page: the median time between frames over count frames when each changes nothing
// but the text about the cursor, put back after: the least an action can take to be drawn,
// the engine's own cost of a frame with a change in sight (the floor of the times above).
async function frameFloor(count) {
    const frame = document.querySelector('[aria-label="Bytes of both files"]');
    const cursor = document.getElementById(frame.getAttribute('aria-describedby'));
    const text = cursor.textContent;
    const gaps = [];
    let last = await new Promise((resolve) => requestAnimationFrame(resolve));
    for (let i = 0; i < count; i++) {
        cursor.textContent = `${text}${i % 2 === 0 ? '.' : ':'}`;
        const now = await new Promise((resolve) => requestAnimationFrame(resolve));
        gaps.push(now - last);
        last = now;
    }
    cursor.textContent = text;
    gaps.sort((x, y) => x - y);
    return gaps[Math.floor(count / 2)];
}

// One engine's view benchmark on a pair: a fresh browser compares it, then Go to address to
// VIEW_PLACES random offsets, Next difference from the first byte over VIEW_PLACES changes,
// and the scroll; the memory growth is the peak during all that against just before.
async function viewMeasure(engine, url, pair, size, seed) {
    const driver = await engine.open(url);
    try {
        await driver.chooseFile('Original file', pair.a);
        await driver.chooseFile('Patched file', pair.b);
        await driver.click('Compare');
        const status = await driver.waitIdle(HANG_MS);
        if (!/^Done: /.test(status.text)) {
            throw new Error(`${engine.name}: unexpected end of the run: ${status.text}`);
        }
        await driver.evaluate(watchMainThread, TICK_MS);
        await sleep(500);
        const before = browserResident();
        let peak = before;
        const sampler = setInterval(() => {
            peak = Math.max(peak, browserResident());
        }, 50);
        const rand = mulberry32(seed);
        const places = randomOffsets(seed, VIEW_PLACES, Math.min(size, 2 ** 32))
            .map((at) => [rand(), at]).sort((x, y) => x[0] - y[0]).map(([, at]) => at);
        const goto = await driver.evaluate(viewTimes, {kind: 'goto', offsets: places});
        await driver.evaluate(() => {
            const frame = document.querySelector('[aria-label="Bytes of both files"]');
            frame.dispatchEvent(new KeyboardEvent('keydown', {key: 'Home', bubbles: true, cancelable: true}));
        });
        await sleep(200);
        const next = await driver.evaluate(viewTimes, {kind: 'next', offsets: pair.changes.filter((at) => at > 0).slice(0, VIEW_PLACES)});
        await driver.evaluate(() => {
            window.bvexLongest = 0;
        });
        const scrolled = await driver.evaluate(viewScroll, SCROLL_ROWS);
        if (scrolled < SCROLL_ROWS) {
            throw new Error(`${engine.name}: the view moved ${scrolled} rows of ${SCROLL_ROWS}`);
        }
        const [longest, how] = await driver.evaluate(() => [window.bvexLongest, window.bvexTasks]);
        clearInterval(sampler);
        peak = Math.max(peak, browserResident());
        const floor = await driver.evaluate(frameFloor, 60);
        return {goto, next, longest, how, growth: peak - before, floor};
    } finally {
        await driver.close();
    }
}

async function viewMain(opts) {
    mkdirSync(opts.dir, {recursive: true});
    const pair = makePair(opts.dir, opts.size);
    const changed = changedPair(pair, join(opts.dir, 'view_changed_b'), opts.size, 3);
    const sparse = viewSparsePair(opts.dir);
    const pageUrl = pathToFileURL(opts.page).href;
    const verdict = (met) => (met ? 'met' : 'NOT MET');
    const lines = [];
    const ms = (value) => `${value.toFixed(1)} ms`;
    try {
        for (const name of opts.engines) {
            const engine = await loadEngine(name);
            for (const [label, data, size] of [[`${opts.size}-byte pair, 256 bytes changed`, changed, opts.size], ['sparse pair past 4 GiB, 256 bytes changed', sparse, 2 ** 32 + 4096]]) {
                const result = await viewMeasure(engine, pageUrl, data, size, 11);
                lines.push(`${name}: ${label}: a frame that changes only the text about the cursor, the floor of an action: ${ms(result.floor)}`);
                for (const [action, times] of [['Go to address', result.goto], ['Next difference', result.next]]) {
                    const middle = median(times);
                    const worst = Math.max(...times);
                    lines.push(`${name}: ${label}: ${action} to the view drawn, over ${times.length} places: median ${ms(middle)} (target <= ${VIEW_MEDIAN_MS} ms): `
                        + `${verdict(middle <= VIEW_MEDIAN_MS)}; worst ${ms(worst)} at place ${times.indexOf(worst) + 1} (target <= ${VIEW_WORST_MS} ms): ${verdict(worst <= VIEW_WORST_MS)}`);
                }
                lines.push(`${name}: ${label}: scrolled through ${SCROLL_ROWS} rows, the main thread's longest task ${result.longest.toFixed(0)} ms, from ${result.how} `
                    + `(target <= ${TASK_LIMIT_MS} ms): ${verdict(result.longest <= TASK_LIMIT_MS)}`);
                lines.push(`${name}: ${label}: memory growth +${(result.growth / MiB).toFixed(1)} MiB (target <= ${GROWTH_LIMIT[name] / MiB} MiB): `
                    + `${verdict(result.growth <= GROWTH_LIMIT[name])}`);
                process.stderr.write(`${lines.slice(-5).join('\n')}\n`);
            }
        }
        console.log(`\npage: ${opts.page}`);
        console.log(opts.engines.includes('webkit') ? `${opts.webkitDrawing}\n` : '');
        for (const line of lines) {
            console.log(line);
        }
    } finally {
        for (const path of [...changed.made, ...sparse.made]) {
            rmSync(path, {force: true});
        }
        if (!opts.keep) {
            for (const path of pair.made) {
                rmSync(path, {force: true});
            }
        }
    }
}

main().catch((error) => {
    process.stderr.write(`web.mjs: ${error.message}\n`);
    process.exit(1);
});
