// One run of bvex in a worker of its own. The page posts {type: 'run', module, args, files}:
// the compiled module (page_wasi.cpp), the command line and the files by name. The worker
// reads both files piece by piece, itself or, where the browser lets only the page read them,
// through the page, and hands each piece to the module, which compares what it has and says
// which file it needs more of. It answers with messages of these types:
//   start     {reads, starts}: 'worker' or 'page', who reads the files; where the map's
//             columns start (file offsets, the last one the compared length)
//   read      {name, position, length}: a piece of a file for the page to read (reads 'page');
//             the page answers {type: 'piece', name, position, buffer} (transferred) or
//             {type: 'piece', name, position, error}
//   address   {blockAddress}: the block address, once the command line is read
//   progress  {compared, total, seconds}: several times a second
//   report    {blob, lines, differing, bytes, blockAddress, index, map}: the next part of
//             the report; the counts so far; the report's length up to its last whole line;
//             the block address; the new index entries {lines, positions, offsets, gaps}
//             (gaps: the line lies 4 GiB or more past the one before); every map column's
//             count of differing bytes so far
//   end       {status, stderr, compared, total, seconds, lines, differing}
//   failure   {message}: the module could not run (not one of bvex's own errors)

/* global wasiImports, WasiExit */

// Where the worker reads the files with a byte stream's own reader, it reads them
// STREAM_READ_BYTES at a time, with STREAM_READS_AHEAD reads of each file under way. Where
// it reads slices (no such reader, the page reads for it, or a stream stalled), the pieces
// are PIECE_BYTES with PIECES_AHEAD reads of each under way. Either way reading overlaps
// comparing, and both files are read at once.
const STREAM_READ_BYTES = 1 << 20;
const STREAM_READS_AHEAD = 4;
const PIECE_BYTES = 4 << 20;
const PIECES_AHEAD = 2;
// A stream's read that gives nothing for STREAM_STALL_MS has stalled: the file's pieces
// carry on through slices from the same position. A slice that gives nothing for
// SLICE_STALL_MS is asked for again, up to SLICE_TRIES times in all, and then counts as a
// failed read. A slow read taken for a stall costs only time, never a byte of the report.
const STREAM_STALL_MS = 2000;
const SLICE_STALL_MS = 20_000;
const SLICE_TRIES = 3;
// The report goes to the page in parts of about this size, or at the latest every
// PROGRESS_MS.
const REPORT_PART_BYTES = 4 << 20;
const PROGRESS_MS = 150;
// Longest report line: address, colon, space, 256 bytes twice in hex, space.
const MAX_LINE_BYTES = 10 + 2 * 256 + 1 + 2 * 256;
// What the module's calls answer: the file it needs more of, or the end of the comparison.
const GIVE_ORIGINAL = 0;
const GIVE_PATCHED = 1;
const NAMES = ['original', 'patched'];

// Report lines are indexed every INDEX_EVERY lines, and the map has up to MAP_COLUMNS
// columns.
const INDEX_EVERY = 1024;
const MAP_COLUMNS = 256;
const WRAP = 2 ** 32;
const HEX_DIGIT = new Int8Array(256).fill(-1);
for (let i = 0; i < 16; i++) {
    HEX_DIGIT['0123456789ABCDEF'.charCodeAt(i)] = i;
}

// Where each of the map's columns starts: columns + 1 file offsets from 0 to total, column i
// covering offsets from starts[i] up to starts[i + 1]. Exact past 2^53 / columns.
function mapStarts(total) {
    const columns = Math.min(MAP_COLUMNS, total);
    const starts = new Float64Array(columns + 1);
    for (let i = 0; i <= columns; i++) {
        starts[i] = Number((BigInt(i) * BigInt(total)) / BigInt(columns || 1));
    }
    return starts;
}

// Follows the report as it is written: counts its lines and their differing bytes, works
// out each line's file offset, adds its differing bytes to the map's columns, and keeps the
// index of every INDEX_EVERY-th line (and of every line more than 4 GiB past the line
// before it), each entry its line number, its position in the report and its file offset.
// A line is "AAAAAAAA: " then n original and n patched bytes in hex with a space between.
// bvex writes whole lines, but nothing promises that a write ends with one: a line cut
// between two writes is put together in carry.
//
// A line's address is the block address plus the file offset of its first byte, modulo
// 2^32. Its offset is the one, of all those that give its address, just below the bytes both
// files have given so far (upper): the module has compared no further, and reports a line no
// more than its buffer's worth of bytes behind, far less than 4 GiB.
function reportCounter(starts) {
    const carry = new Uint8Array(MAX_LINE_BYTES + 1);
    const columns = starts.length - 1;
    let carried = 0;
    let carryPosition = 0;
    let column = 0;
    let lastOffset = -WRAP;
    const counter = {
        lines: 0,
        differing: 0,
        bytes: 0, // of the report, up to the end of its last whole line
        fed: 0, // of the report, all
        blockAddress: 0,
        map: new Float64Array(columns),
        index: {lines: [], positions: [], offsets: [], gaps: []},
    };

    function line(text, start, end, position, upper) {
        const n = (end - start - 11) >> 2;
        let address = 0;
        for (let i = 0; i < 8; i++) {
            address = address * 16 + HEX_DIGIT[text[start + i]];
        }
        const relative = address >= counter.blockAddress ? address - counter.blockAddress : address - counter.blockAddress + WRAP;
        const below = upper - 1 - relative;
        const offset = upper - 1 - (below - Math.floor(below / WRAP) * WRAP);
        const gap = offset - lastOffset >= WRAP;
        if (counter.lines % INDEX_EVERY === 0 || gap) {
            counter.index.lines.push(counter.lines);
            counter.index.positions.push(position);
            counter.index.offsets.push(offset);
            counter.index.gaps.push(gap);
        }
        lastOffset = offset;
        while (column < columns - 1 && offset >= starts[column + 1]) {
            column += 1;
        }
        const original = start + 10;
        const patched = original + 2 * n + 1;
        let differing = 0;
        if (offset + n <= starts[column + 1]) {
            for (let i = 0; i < 2 * n; i += 2) {
                if (text[original + i] !== text[patched + i] || text[original + i + 1] !== text[patched + i + 1]) {
                    differing += 1;
                }
            }
            counter.map[column] += differing;
        } else {
            // The line crosses into the next column(s): each differing byte goes to its own.
            for (let i = 0; i < 2 * n; i += 2) {
                if (text[original + i] !== text[patched + i] || text[original + i + 1] !== text[patched + i + 1]) {
                    differing += 1;
                    while (column < columns - 1 && offset + i / 2 >= starts[column + 1]) {
                        column += 1;
                    }
                    counter.map[column] += 1;
                }
            }
        }
        counter.lines += 1;
        counter.differing += differing;
        counter.bytes = position + (end - start) + 1;
    }

    // The next text bvex wrote; upper: the most bytes either file has given the module.
    counter.feed = (text, upper) => {
        const base = counter.fed;
        counter.fed += text.length;
        let start = 0;
        if (carried > 0) {
            const newline = text.indexOf(10);
            const piece = newline < 0 ? text : text.subarray(0, newline);
            carry.set(piece.subarray(0, Math.max(0, carry.length - carried)), carried);
            carried = Math.min(carry.length, carried + piece.length);
            if (newline < 0) {
                return;
            }
            line(carry, 0, carried, carryPosition, upper);
            carried = 0;
            start = newline + 1;
        }
        for (let newline = text.indexOf(10, start); newline >= 0; newline = text.indexOf(10, start)) {
            line(text, start, newline, base + start, upper);
            start = newline + 1;
        }
        const rest = text.subarray(start, Math.min(text.length, start + carry.length));
        carry.set(rest);
        carried = rest.length;
        carryPosition = base + start;
    };

    // The index entries made since the last call.
    counter.takeIndex = () => {
        const taken = counter.index;
        counter.index = {lines: [], positions: [], offsets: [], gaps: []};
        return taken;
    };
    return counter;
}

// Gives a used-up buffer's memory back at once: transferred in a message to a port that is
// closed, it is detached and dropped with the message. Left to the collector, the 4 MiB
// buffers of a large file's pieces let the browser's memory grow by hundreds of MiB first.
const dropped = (() => {
    const channel = new MessageChannel();
    channel.port2.close();
    return channel.port1;
})();
function release(buffer) {
    dropped.postMessage(null, [buffer]);
}

// What a stall watch's wait gives for a read that has not settled in time.
const STALLED = Symbol('stalled');

// A watch over one reader's reads, waited on one at a time: wait(promise) settles as promise
// does, or gives STALLED once it has been waited on for ms. One timer serves every wait, set
// again only when it fires: a timer for each read costs more than the read (in Firefox a
// stream's reads give 64 KiB each, and a timer apiece made its runs take 1.3 to 1.5 times
// as long).
function stallWatch(ms) {
    let since = 0;
    let giveUp = null;
    let timer = null;
    const check = () => {
        timer = null;
        if (giveUp === null) {
            return;
        }
        const waited = performance.now() - since;
        if (waited >= ms) {
            giveUp(STALLED);
        } else {
            timer = setTimeout(check, ms - waited);
        }
    };
    return {
        wait(promise) {
            since = performance.now();
            const late = new Promise((resolve) => {
                giveUp = resolve;
            });
            timer ??= setTimeout(check, ms);
            return Promise.race([promise, late]).finally(() => {
                giveUp = null;
            });
        },
    };
}

// A file's pieces in order from position from, each a Uint8Array, read by slicing the
// file: readPiece(position, length) gives an ArrayBuffer (read by this worker, or by the
// page), with up to PIECES_AHEAD reads under way. next() gives the next piece, null after
// the last, or rejects when the file cannot be read, a slice stalls SLICE_TRIES times or
// gives fewer bytes than asked for (the file was shortened since it was chosen): a shorter
// report must never pass for a whole one. A read that fails counts only when its piece is
// taken: the comparison may end before. putBack(rest) makes rest, the unused end of the
// last piece, the next.
function slicePieces(file, readPiece, from = 0) {
    const queue = [];
    let requested = from;
    let last = null;
    let leftover = null;
    const watch = stallWatch(SLICE_STALL_MS);
    const ask = (position, length) => {
        const piece = readPiece(position, length).then((buffer) => {
            if (buffer.byteLength !== length) {
                throw new Error(`${file.name}: ${buffer.byteLength} bytes read of ${length} at ${position}`);
            }
            return new Uint8Array(buffer);
        });
        piece.catch(() => {});
        return piece;
    };
    function readAhead() {
        while (queue.length < PIECES_AHEAD && requested < file.size) {
            const position = requested;
            const length = Math.min(PIECE_BYTES, file.size - position);
            requested += length;
            queue.push({position, length, piece: ask(position, length)});
        }
    }
    return {
        async next() {
            if (leftover) {
                const piece = leftover;
                leftover = null;
                return piece;
            }
            if (last) {
                release(last.buffer);
            }
            readAhead();
            last = null;
            const head = queue.shift();
            for (let tries = 1; head && last === null; tries++) {
                const piece = await watch.wait(head.piece);
                if (piece !== STALLED) {
                    last = piece;
                } else if (tries < SLICE_TRIES) {
                    head.piece = ask(head.position, head.length);
                } else {
                    throw new Error(`${file.name}: no bytes came at ${head.position}`);
                }
            }
            readAhead();
            return last;
        },
        putBack(rest) {
            leftover = rest;
        },
    };
}

// The streams being read, with their readers. In Chromium a read of a file's stream that
// nothing else refers to now and then never ends (the collector seems to take the stream
// with its pending read; bench/stream_stall.mjs shows it): kept here, a stream lives until
// it is done with.
const streaming = new Set();

// The same pieces from the file's byte stream, read with the stream's own reader into
// buffers of STREAM_READ_BYTES, each used again once its piece is taken; about twice as
// fast as slices in Chromium. Should a read still give nothing for STREAM_STALL_MS, the
// stream is dropped and the rest comes from slicePieces from the same position; readPiece
// is for those slices.
function streamPieces(file, readPiece) {
    const stream = file.stream();
    const reader = stream.getReader({mode: 'byob'});
    const kept = {stream, reader};
    streaming.add(kept);
    const pending = [];
    let taken = 0;
    let last = null;
    let leftover = null;
    let slices = null;
    const watch = stallWatch(STREAM_STALL_MS);
    const ask = (buffer) => {
        const read = reader.read(new Uint8Array(buffer));
        read.catch(() => {});
        pending.push(read);
    };
    for (let i = 0; i < STREAM_READS_AHEAD; i++) {
        ask(new ArrayBuffer(STREAM_READ_BYTES));
    }
    return {
        async next() {
            if (leftover) {
                const piece = leftover;
                leftover = null;
                return piece;
            }
            if (slices) {
                return slices.next();
            }
            if (last) {
                ask(last.buffer);
                last = null;
            }
            if (pending.length === 0) {
                return null;
            }
            const read = await watch.wait(pending.shift()).catch((error) => {
                streaming.delete(kept);
                throw error;
            });
            if (read === STALLED) {
                reader.cancel().catch(() => {});
                streaming.delete(kept);
                pending.length = 0;
                slices = slicePieces(file, readPiece, taken);
                return slices.next();
            }
            if (read.done) {
                streaming.delete(kept);
                pending.length = 0;
                if (taken !== file.size) {
                    throw new Error(`${file.name}: its stream ended after ${taken} bytes of ${file.size}`);
                }
                return null;
            }
            taken += read.value.byteLength;
            if (taken > file.size) {
                throw new Error(`${file.name}: its stream gave more than ${file.size} bytes`);
            }
            last = read.value;
            return last;
        },
        putBack(rest) {
            leftover = rest;
        },
    };
}

// Whether the worker can read file's byte stream with the stream's own reader.
function canStream(file) {
    try {
        file.slice(0, 0).stream().getReader({mode: 'byob'}).cancel().catch(() => {});
        return true;
    } catch {
        return false;
    }
}

// Whether this worker can read the files itself. WebKit lets a worker of a page opened from
// disk read no File at all, though the page itself can.
async function canRead(files) {
    try {
        for (const file of Object.values(files)) {
            await file.slice(0, 1).arrayBuffer();
        }
        return true;
    } catch {
        return false;
    }
}

// Pieces read by the page: each asked for with a read message and answered with a piece one.
function pageReader() {
    const waiting = new Map(); // "name position" -> {resolve, reject}
    return {
        read(name, position, length) {
            return new Promise((resolve, reject) => {
                waiting.set(`${name} ${position}`, {resolve, reject});
                postMessage({type: 'read', name, position, length});
            });
        },
        answer({name, position, buffer, error}) {
            const key = `${name} ${position}`;
            const promise = waiting.get(key);
            waiting.delete(key);
            if (error === undefined) {
                promise?.resolve(buffer);
            } else {
                promise?.reject(new Error(error));
            }
        },
    };
}

let fromPage = null;

async function run({module, args, files}) {
    const started = performance.now();
    const seconds = () => (performance.now() - started) / 1000;
    const sizes = Object.values(files).map((f) => f.size);
    const total = sizes.length === 2 ? Math.min(...sizes) : 0;
    const given = [0, 0];
    const starts = mapStarts(total);
    const counter = reportCounter(starts);
    let parts = [];
    let partBytes = 0;
    let lastPost = 0;
    let stderr = new Uint8Array(0);

    // Both files have given the module at least this much: never more than it has compared
    // plus a piece.
    const compared = () => Math.min(total, ...given);

    function postReport() {
        const map = counter.map.slice();
        postMessage({
            type: 'report',
            blob: new Blob(parts),
            lines: counter.lines,
            differing: counter.differing,
            bytes: counter.bytes,
            blockAddress: counter.blockAddress,
            index: counter.takeIndex(),
            map,
        }, [map.buffer]);
        parts = [];
        partBytes = 0;
    }

    function tick() {
        const now = performance.now();
        if (now - lastPost >= PROGRESS_MS) {
            lastPost = now;
            if (parts.length > 0) {
                postReport();
            }
            postMessage({type: 'progress', compared: compared(), total, seconds: seconds()});
        }
    }

    const wasi = wasiImports(WebAssembly.Module.imports(module), {
        args,
        env: [],
        files,
        onStdout(text) {
            counter.feed(text, Math.max(...given));
            parts.push(text);
            partBytes += text.length;
            if (partBytes >= REPORT_PART_BYTES) {
                postReport();
            }
            tick();
        },
        onStderr(text) {
            const joined = new Uint8Array(stderr.length + text.length);
            joined.set(stderr);
            joined.set(text, stderr.length);
            stderr = joined;
        },
    });
    const instance = await WebAssembly.instantiate(module, wasi.imports);
    const bvex = instance.exports;
    wasi.setMemory(bvex.memory);
    bvex._initialize();

    const reads = (await canRead(files)) ? 'worker' : 'page';
    if (reads === 'page') {
        fromPage = pageReader();
    }
    postMessage({type: 'start', reads, starts});
    const readers = NAMES.map((name) => {
        const file = files[name];
        if (!file) {
            return null;
        }
        if (reads === 'page') {
            return slicePieces(file, (position, length) => fromPage.read(name, position, length));
        }
        const readSlice = (position, length) => file.slice(position, position + length).arrayBuffer();
        return canStream(file) ? streamPieces(file, readSlice) : slicePieces(file, readSlice);
    });

    let status = 0;
    try {
        let need = bvex.bvex_page_start();
        counter.blockAddress = bvex.bvex_page_block_address() >>> 0;
        postMessage({type: 'address', blockAddress: counter.blockAddress});
        while (need === GIVE_ORIGINAL || need === GIVE_PATCHED) {
            let piece;
            try {
                piece = await readers[need].next();
            } catch {
                need = bvex.bvex_page_end(need, 1);
                continue;
            }
            if (piece === null) {
                need = bvex.bvex_page_end(need, 0);
                continue;
            }
            const n = Math.min(bvex.bvex_page_room(need), piece.length);
            new Uint8Array(bvex.memory.buffer, bvex.bvex_page_space(need), n).set(n < piece.length ? piece.subarray(0, n) : piece);
            if (n < piece.length) {
                readers[need].putBack(piece.subarray(n));
            }
            given[need] += n;
            need = bvex.bvex_page_give(need, n);
            tick();
        }
    } catch (error) {
        if (!(error instanceof WasiExit)) {
            throw error;
        }
        status = error.status;
    }
    postReport();
    postMessage({
        type: 'end',
        status,
        stderr: new TextDecoder().decode(stderr),
        compared: compared(),
        total,
        seconds: seconds(),
        lines: counter.lines,
        differing: counter.differing,
    });
}

self.onmessage = ({data}) => {
    if (data.type === 'piece') {
        fromPage?.answer(data);
        return;
    }
    run(data).catch((error) => {
        postMessage({type: 'failure', message: String(error && error.message ? error.message : error)});
    });
};
