// One run of bvex.wasm, in a worker of its own: the page posts the compiled module, the
// command line, the files and how many report lines its view shows (maxRows); the worker
// answers with messages of these types:
//   start     {jspi}: whether the files are read through JSPI or synchronously
//   progress  {compared, total, seconds}: several times a second
//   report    {blob, rows, lines, differing}: the next part of the report, the first
//             report lines for the view (up to maxRows in all), and the counts so far
//   end       {status, stderr, compared, total, seconds, lines, differing}
//   failure   {message}: the module could not run (not one of bvex's own errors)

/* global wasiImports, WasiExit */

// Each file's read buffer, reused for the whole file: large enough that suspending the
// module costs little per byte.
const READ_BUFFER_BYTES = 4 << 20;
// FileReaderSync reads each file in slices of this size, each a new buffer.
const SLICE_BYTES = 4 << 20;
// The report goes to the page in parts of about this size, or at the latest every
// PROGRESS_MS.
const REPORT_PART_BYTES = 4 << 20;
const PROGRESS_MS = 150;
// Longest report line: address, colon, space, 256 bytes twice in hex, space.
const MAX_LINE_BYTES = 10 + 2 * 256 + 1 + 2 * 256;

// Counts report lines and their differing bytes, and keeps the first maxRows lines as text.
// A line is "AAAAAAAA: " then n original and n patched bytes in hex with a space between.
// bvex writes whole lines, but nothing promises that a write ends with one: a line cut
// between two writes is put together in carry.
function reportCounter(maxRows) {
    const carry = new Uint8Array(MAX_LINE_BYTES + 1);
    let carried = 0;
    const counter = {lines: 0, differing: 0, rows: []};

    function line(text, start, end) {
        const n = (end - start - 11) >> 2;
        const original = start + 10;
        const patched = original + 2 * n + 1;
        let differing = 0;
        for (let i = 0; i < 2 * n; i += 2) {
            if (text[original + i] !== text[patched + i] || text[original + i + 1] !== text[patched + i + 1]) {
                differing += 1;
            }
        }
        counter.lines += 1;
        counter.differing += differing;
        if (counter.lines <= maxRows) {
            counter.rows.push(String.fromCharCode.apply(null, text.subarray(start, end)));
        }
    }

    counter.feed = (text) => {
        let start = 0;
        if (carried > 0) {
            const newline = text.indexOf(10);
            const piece = newline < 0 ? text : text.subarray(0, newline);
            carry.set(piece.subarray(0, Math.max(0, carry.length - carried)), carried);
            carried = Math.min(carry.length, carried + piece.length);
            if (newline < 0) {
                return;
            }
            line(carry, 0, carried);
            carried = 0;
            start = newline + 1;
        }
        for (let newline = text.indexOf(10, start); newline >= 0; newline = text.indexOf(10, start)) {
            line(text, start, newline);
            start = newline + 1;
        }
        const rest = text.subarray(start, Math.min(text.length, start + carry.length));
        carry.set(rest);
        carried = rest.length;
    };
    return counter;
}

async function run({module, args, files, maxRows}) {
    const started = performance.now();
    const seconds = () => (performance.now() - started) / 1000;
    const jspi = typeof WebAssembly.Suspending === 'function' && typeof WebAssembly.promising === 'function';
    const sizes = Object.values(files).map((f) => f.size);
    const total = sizes.length === 2 ? Math.min(...sizes) : 0;
    const read = new Map();
    const counter = reportCounter(maxRows);
    let parts = [];
    let partBytes = 0;
    let lastPost = 0;
    let stderr = new Uint8Array(0);

    const compared = () => (read.size === 2 ? Math.min(total, ...read.values()) : 0);

    function postReport() {
        postMessage({
            type: 'report',
            blob: new Blob(parts),
            rows: counter.rows,
            lines: counter.lines,
            differing: counter.differing,
        });
        parts = [];
        partBytes = 0;
        counter.rows = [];
    }

    function tick() {
        const now = performance.now();
        if (now - lastPost >= PROGRESS_MS) {
            lastPost = now;
            if (parts.length > 0 || counter.rows.length > 0) {
                postReport();
            }
            postMessage({type: 'progress', compared: compared(), total, seconds: seconds()});
        }
    }

    const wasi = wasiImports(WebAssembly.Module.imports(module), {
        args,
        env: ['PWD=/'],
        files,
        jspi,
        bufferBytes: jspi ? READ_BUFFER_BYTES : SLICE_BYTES,
        onStdout(text) {
            counter.feed(text);
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
        onRead(name, bytes) {
            read.set(name, (read.get(name) ?? 0) + bytes);
            tick();
        },
    });
    const instance = await WebAssembly.instantiate(module, wasi.imports);
    wasi.setMemory(instance.exports.memory);
    postMessage({type: 'start', jspi});

    let status = 0;
    try {
        if (jspi) {
            await WebAssembly.promising(instance.exports._start)();
        } else {
            instance.exports._start();
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

self.onmessage = (event) => {
    run(event.data).catch((error) => {
        postMessage({type: 'failure', message: String(error && error.message ? error.message : error)});
    });
};
