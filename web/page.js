// The page: runs bvex's module in a worker with the command line the fields make, reads the
// files for it where the worker cannot, shows its progress, keeps the report as a Blob of
// parts and shows its first lines side by side. build.mjs puts BVEX_WASM (the module,
// base64) and BVEX_WORKER (the worker's source) first.

/* global BVEX_WASM, BVEX_WORKER */

'use strict';

// Report lines shown in the view (the worker sends no more); the rest are counted and kept
// in the report only.
const MAX_ROWS = 10000;
// Lines are added to the view ROWS_PER_STEP at a time for at most FRAME_BUDGET_MS of each
// animation frame, so that the page keeps answering while the view fills.
const ROWS_PER_STEP = 10;
const FRAME_BUDGET_MS = 6;

const $ = (id) => document.getElementById(id);
const ui = {
    form: $('form'),
    original: $('original'),
    patched: $('patched'),
    width: $('width'),
    address: $('address'),
    compare: $('compare'),
    cancel: $('cancel'),
    download: $('download'),
    copy: $('copy'),
    progress: $('progress'),
    status: $('status'),
    path: $('path'),
    summary: $('summary'),
    rows: $('rows'),
    more: $('more'),
};

const modulePromise = WebAssembly.compile(Uint8Array.from(atob(BVEX_WASM), (c) => c.charCodeAt(0)));
const workerUrl = URL.createObjectURL(new Blob([BVEX_WORKER], {type: 'text/javascript'}));

let run = null; // the run going on: {worker, parts, rows queue}
let report = null; // the last report that ended without error
let reportUrl = null;

const numberFormat = new Intl.NumberFormat('en-US');
const count = (n, one, many) => `${numberFormat.format(n)} ${n === 1 ? one : many}`;

function size(bytes) {
    const units = ['KiB', 'MiB', 'GiB', 'TiB'];
    if (bytes < 1024) {
        return count(bytes, 'byte', 'bytes');
    }
    let value = bytes / 1024;
    let unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
        value /= 1024;
        unit += 1;
    }
    return `${value.toFixed(1)} ${units[unit]}`;
}

function speed(bytes, seconds) {
    return seconds > 0 ? `${size(bytes / seconds)}/s` : '';
}

// Says who reads the files: the worker that compares them, or, where this browser lets only
// the page read files (WebKit, for a page opened from disk), the page.
function showPath(reads) {
    ui.path.textContent = reads === 'worker'
        ? 'Files are read in the background, piece by piece, by the worker that compares them: in constant memory.'
        : 'This browser lets only the page itself read the files, so the page reads them piece by piece and hands each piece to the worker that compares them: in constant memory.';
}

function setStatus(text, busy) {
    ui.status.textContent = text;
    ui.status.setAttribute('aria-busy', busy ? 'true' : 'false');
}

function setRunning(running) {
    ui.compare.disabled = running;
    ui.cancel.disabled = !running;
    ui.download.disabled = running || !report;
    ui.copy.disabled = running || !report;
}

// The command line: the width as "-" and the field's text, the files under fixed names,
// the address as given; an empty field or a missing file is left out.
function commandLine() {
    const args = ['bvex'];
    const files = {};
    if (ui.width.value !== '') {
        args.push(`-${ui.width.value}`);
    }
    for (const [name, input] of [['original', ui.original], ['patched', ui.patched]]) {
        if (input.files.length > 0) {
            args.push(`/${name}`);
            files[name] = input.files[0];
        }
    }
    if (ui.address.value !== '') {
        args.push(ui.address.value);
    }
    return {args, files};
}

function showCounts(lines, differing) {
    ui.summary.textContent = `${count(lines, 'line', 'lines')}, ${count(differing, 'differing byte', 'differing bytes')}`;
    if (lines > MAX_ROWS) {
        ui.more.hidden = false;
        ui.more.textContent = `The view shows the first ${numberFormat.format(MAX_ROWS)} of ${numberFormat.format(lines)} lines; the downloaded report has them all.`;
    }
}

const escapes = {'&': '&amp;', '<': '&lt;', '>': '&gt;'};

// One side of a report line: its bytes in hex, then as characters, each run of differing
// bytes marked.
function sideHtml(hex, other, who) {
    let bytes = '';
    let chars = '';
    for (let i = 0; i < hex.length;) {
        const differs = hex.slice(i, i + 2) !== other.slice(i, i + 2);
        let runHex = '';
        let runChars = '';
        for (; i < hex.length && (hex.slice(i, i + 2) !== other.slice(i, i + 2)) === differs; i += 2) {
            const code = parseInt(hex.slice(i, i + 2), 16);
            const char = code >= 0x20 && code < 0x7f ? String.fromCharCode(code) : '.';
            runHex += `${runHex === '' ? '' : ' '}${hex.slice(i, i + 2)}`;
            runChars += escapes[char] ?? char;
        }
        const space = bytes === '' ? '' : ' ';
        bytes += differs ? `${space}<mark>${runHex}</mark>` : `${space}${runHex}`;
        chars += differs ? `<mark>${runChars}</mark>` : runChars;
    }
    return `<span class="who">${who}</span><code class="hex">${bytes}</code><code class="chr">${chars}</code>`;
}

// A report line "AAAAAAAA: OOOO PPPP" as an item of the view.
function rowHtml(line) {
    const n = (line.length - 11) / 4;
    const original = line.slice(10, 10 + 2 * n);
    const patched = line.slice(11 + 2 * n);
    return `<li><code class="addr">${line.slice(0, 8)}</code>${sideHtml(original, patched, 'original')}${sideHtml(patched, original, 'patched')}</li>`;
}

function drawRows() {
    if (!run || run.queue.length === 0) {
        return;
    }
    const started = performance.now();
    while (run.queue.length > 0 && performance.now() - started < FRAME_BUDGET_MS) {
        const batch = run.queue.splice(0, ROWS_PER_STEP);
        const widest = Math.max(run.widest, ...batch.map((line) => (line.length - 11) / 4));
        if (widest !== run.widest) {
            run.widest = widest;
            ui.rows.style.setProperty('--bytes', String(widest));
        }
        ui.rows.insertAdjacentHTML('beforeend', batch.map(rowHtml).join(''));
    }
    if (run.queue.length > 0) {
        requestAnimationFrame(drawRows);
    }
}

function queueRows(current, rows) {
    if (rows.length === 0) {
        return;
    }
    const wasEmpty = current.queue.length === 0;
    current.queue.push(...rows);
    if (wasEmpty) {
        requestAnimationFrame(drawRows);
    }
}

function forgetReport() {
    report = null;
    if (reportUrl) {
        URL.revokeObjectURL(reportUrl);
        reportUrl = null;
    }
}

// Ends the run current: its worker stops, the status says text, and the buttons are those
// of a page at rest.
function stop(current, text) {
    current.worker.terminate();
    current.done = true;
    setStatus(text, false);
    setRunning(false);
}

function finish(current, message) {
    if (run !== current || current.done) {
        return;
    }
    const {status, stderr, compared, total, seconds, lines, differing} = message;
    ui.progress.max = Math.max(total, 1);
    ui.progress.value = compared;
    showCounts(lines, differing);
    if (status === 0) {
        report = new Blob(current.parts, {type: 'text/plain'});
        const timing = seconds >= 1 ? ` in ${seconds.toFixed(1)} s, ${speed(compared, seconds)}` : '';
        stop(current, `Done: compared ${size(compared)}${timing}. The report has ${count(lines, 'line', 'lines')}, `
            + `${count(differing, 'differing byte', 'differing bytes')} (${size(report.size)}).`);
    } else {
        // bvex's own message, exactly as it wrote it on standard error.
        stop(current, stderr);
    }
}

// Reads a piece of a file for the worker of the run current and hands it over; a run that
// has ended reads nothing more.
function readPiece(current, {name, position, length}) {
    if (run !== current || current.done) {
        return;
    }
    const file = current.files[name];
    const answer = (message, transfer) => {
        if (run === current && !current.done) {
            current.worker.postMessage({type: 'piece', name, position, ...message}, transfer);
        }
    };
    file.slice(position, position + length).arrayBuffer().then(
        (buffer) => answer({buffer}, [buffer]),
        (error) => answer({error: String(error && error.message ? error.message : error)}, []),
    );
}

function start() {
    if (run && !run.done) {
        return;
    }
    forgetReport();
    const {args, files} = commandLine();
    const current = {worker: new Worker(workerUrl), files, parts: [], queue: [], widest: 0, done: false};
    run = current;
    ui.rows.replaceChildren();
    ui.rows.style.setProperty('--bytes', '0');
    ui.more.hidden = true;
    ui.summary.textContent = 'No report yet.';
    ui.progress.value = 0;
    setStatus('Starting…', true);
    setRunning(true);
    current.worker.onmessage = ({data}) => {
        if (run !== current || current.done) {
            return;
        }
        if (data.type === 'start') {
            showPath(data.reads);
        } else if (data.type === 'read') {
            readPiece(current, data);
        } else if (data.type === 'progress') {
            ui.progress.max = Math.max(data.total, 1);
            ui.progress.value = data.compared;
            const percent = data.total > 0 ? Math.floor((100 * data.compared) / data.total) : 100;
            setStatus(`Compared ${size(data.compared)} of ${size(data.total)} (${percent} %)`
                + `${data.seconds > 0 ? `, ${speed(data.compared, data.seconds)}` : ''}.`, true);
        } else if (data.type === 'report') {
            current.parts.push(data.blob);
            queueRows(current, data.rows);
            showCounts(data.lines, data.differing);
        } else if (data.type === 'end') {
            finish(current, data);
        } else if (data.type === 'failure') {
            stop(current, `The comparison could not run in this browser: ${data.message}`);
        }
    };
    current.worker.onerror = (event) => {
        event.preventDefault();
        if (run === current && !current.done) {
            stop(current, `The comparison could not run in this browser: ${event.message}`);
        }
    };
    modulePromise.then(
        (module) => current.worker.postMessage({type: 'run', module, args, files, maxRows: MAX_ROWS}),
        (error) => stop(current, `This browser cannot run bvex: ${error.message}`),
    );
}

function cancel() {
    if (!run || run.done) {
        return;
    }
    stop(run, `Cancelled after comparing ${size(ui.progress.value)}.`);
}

function download() {
    if (!report) {
        return;
    }
    reportUrl ??= URL.createObjectURL(report);
    const link = document.createElement('a');
    link.href = reportUrl;
    link.download = 'bvex-report.txt';
    document.body.append(link);
    link.click();
    link.remove();
}

async function copy() {
    if (!report) {
        return;
    }
    const copied = report;
    try {
        await navigator.clipboard.write([new ClipboardItem({'text/plain': copied})]);
    } catch {
        try {
            await navigator.clipboard.writeText(await copied.text());
        } catch (error) {
            setStatus(`The report could not be copied: ${error.message}`, false);
            return;
        }
    }
    setStatus(`Copied the report (${size(copied.size)}) to the clipboard.`, false);
}

// A file dropped on a box goes to that box's input, as if chosen there.
function acceptDrops(box, input) {
    box.addEventListener('dragover', (event) => {
        event.preventDefault();
        event.dataTransfer.dropEffect = 'copy';
        box.classList.add('over');
    });
    box.addEventListener('dragleave', () => box.classList.remove('over'));
    box.addEventListener('drop', (event) => {
        event.preventDefault();
        box.classList.remove('over');
        const dropped = event.dataTransfer.files;
        if (dropped.length > 0) {
            const transfer = new DataTransfer();
            transfer.items.add(dropped[0]);
            input.files = transfer.files;
            input.dispatchEvent(new Event('change', {bubbles: true}));
        }
    });
}

// Each file's size is taken as it is chosen: Chromium otherwise takes it when it is first
// asked, and a file removed since would pass for an empty one instead of failing to read.
for (const input of [ui.original, ui.patched]) {
    input.addEventListener('change', () => {
        for (const file of input.files) {
            void file.size;
        }
    });
}
acceptDrops($('drop-original'), ui.original);
acceptDrops($('drop-patched'), ui.patched);
// A file dropped anywhere else must not replace the page.
window.addEventListener('dragover', (event) => event.preventDefault());
window.addEventListener('drop', (event) => event.preventDefault());

ui.form.addEventListener('submit', (event) => {
    event.preventDefault();
    start();
});
ui.cancel.addEventListener('click', cancel);
ui.download.addEventListener('click', download);
ui.copy.addEventListener('click', copy);
