// The page: runs bvex's module in a worker with the command line the fields make, reads the
// files for it where the worker cannot, shows its progress and the map of where the files
// differ, keeps the report as a Blob of parts (lines.js) and shows any stretch of its lines
// side by side, and both files' bytes at any offset (bytes.js). build.mjs puts BVEX_WASM (the
// module, base64), BVEX_WORKER (the worker's source), lines.js, map.js and bytes.js first.

/* global BVEX_WASM, BVEX_WORKER, WRAP, reportStore, storeAdd, storeBlob, storeLines, storeFind, storeNextDiffering,
   storePreviousDiffering, storeLineHolding, lineDiffering, mapMake, mapUpdate, mapDraw, mapKey, mapText, mapFocus,
   hexOffset, BYTES_PER_ROW, bytesReader, bytesRows, bytesRowHtml, bytesValues, bytesValuesHtml, bytesMove, bytesTop,
   hexFileOffset, byteAddress, hex2 */

'use strict';

// The view's scrolling height never passes this: past it, the scroll bar stands for the
// report's lines in proportion, not pixel for pixel (browsers cap an element's height).
const MAX_SCROLL_PX = 8_000_000;
// While the report grows, the counts, the map and the view are brought up to date at most
// this often: each time costs the page a layout, and a report can come in 30 parts a second.
const REPORT_DRAW_MS = 250;

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
    frame: $('rows-frame'),
    rows: $('rows'),
    space: $('rows-space'),
    map: $('map'),
    mapRows: $('map-rows'),
    mapStart: $('map-start'),
    mapEnd: $('map-end'),
    mapName: $('map-name'),
    goto: $('goto'),
    gotoAddress: $('goto-address'),
    gotoResult: $('goto-result'),
    bytesFrame: $('bytes-frame'),
    bytesRows: $('bytes-rows'),
    bytesFound: $('bytes-found'),
    bytesNote: $('bytes-note'),
    bytesCursor: $('bytes-cursor'),
    values: $('values-rows'),
    next: $('next-difference'),
    previous: $('previous-difference'),
};

const modulePromise = WebAssembly.compile(Uint8Array.from(atob(BVEX_WASM), (c) => c.charCodeAt(0)));
const workerUrl = URL.createObjectURL(new Blob([BVEX_WORKER], {type: 'text/javascript'}));

let run = null; // the run going on, or the last: {worker, files, store, map, done}
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
// the address as given; an empty field is left out. Once either file is chosen both names
// are given, so that a file not chosen is one bvex cannot open, as on the command line
// (left out, the address would pass for the patched file's name).
function commandLine() {
    const args = ['bvex'];
    const files = {};
    if (ui.width.value !== '') {
        args.push(`-${ui.width.value}`);
    }
    const inputs = [['original', ui.original], ['patched', ui.patched]];
    const any = inputs.some(([, input]) => input.files.length > 0);
    for (const [name, input] of inputs) {
        if (any) {
            args.push(`/${name}`);
        }
        if (input.files.length > 0) {
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

// A report line "AAAAAAAA: OOOO PPPP" as item number of the view (markLine marks it).
function rowHtml(line, number) {
    const n = (line.length - 11) / 4;
    const original = line.slice(10, 10 + 2 * n);
    const patched = line.slice(11 + 2 * n);
    return `<li data-line="${number}"><code class="addr">${line.slice(0, 8)}</code>`
        + `${sideHtml(original, patched, 'original')}${sideHtml(patched, original, 'patched')}</li>`;
}

// Marks a line's item as the line gone to (target) or not, and as the one that holds the
// cursor of the view "Bytes" (cursor) or not.
function markLine(item, target, cursor) {
    item.classList.toggle('target', target);
    item.classList.toggle('cursor-line', cursor);
    if (target) {
        item.setAttribute('aria-current', 'true');
    } else {
        item.removeAttribute('aria-current');
    }
    if (cursor) {
        item.title = 'Holds the cursor of the bytes';
    } else {
        item.removeAttribute('title');
    }
}

// The view: a window of the report's lines in a frame that scrolls through all of them. Only
// the lines in sight are in the page, read back from the report as the frame scrolls. Its
// scrolling height stands for every line (at most MAX_SCROLL_PX), and the line at its top
// is view.first: from the scroll position, or where the keys, Go or the map put it.
// pinnedTop: the scroll position last set for view.first, or null to set it at the next
// drawing; moving: view.first was set and not yet drawn, so scroll events, which may come late
// from an earlier move, are not the reader's and are let pass.
// maxFirst: the layout's when the scroll position was last set; reveal: the line gone to, once
// drawn, is to be brought into the window's view with what was found. drawnRun, drawnRange:
// the run and the lines ("inSight first") whose items the frame holds.
const view = {first: 0, target: -1, rowHeight: 0, widest: 0, maxFirst: 0, pinnedTop: null, moving: false, drawing: false, again: false, shown: '', reveal: false,
    drawnRun: null, drawnRange: ''};

// The frame's measures for the report so far: lines in sight, the first line that can be at
// the top with the frame full, and the scrolling height beyond the frame's own.
function viewLayout() {
    const lines = run ? run.store.lines : 0;
    const height = ui.frame.clientHeight;
    const rowHeight = view.rowHeight || height;
    const visible = Math.max(1, Math.floor(height / rowHeight));
    const space = Math.max(0, Math.min(lines * rowHeight, MAX_SCROLL_PX) - height);
    return {lines, height, visible, maxFirst: Math.max(0, lines - visible), space};
}

// The scroll position that stands for view.first.
function topOf(layout) {
    return layout.maxFirst > 0 ? (Math.min(view.first, layout.maxFirst) / layout.maxFirst) * layout.space : 0;
}

// Brings the page up to date with the report of the run current: at once when it was last
// REPORT_DRAW_MS ago or more, otherwise then.
function drawReportSoon(current) {
    if (current.drawTimer !== null) {
        return;
    }
    current.drawTimer = setTimeout(() => {
        current.drawTimer = null;
        current.drawn = performance.now();
        scheduleDraw();
    }, Math.max(0, current.drawn + REPORT_DRAW_MS - performance.now()));
}

function scheduleDraw() {
    if (view.drawing) {
        view.again = true;
        return;
    }
    view.drawing = true;
    requestAnimationFrame(async () => {
        try {
            do {
                view.again = false;
                await drawView();
            } while (view.again);
        } finally {
            view.drawing = false;
        }
    });
}

// Brings the map and the counts up to date with the report parts taken so far.
function showReportCounts(current) {
    if (current.mapCounts) {
        mapUpdate(current.map, current.mapCounts);
        current.mapCounts = null;
        showCounts(current.store.lines, current.store.differing);
    }
}

// Brings the map and the frame's height and scroll position up to date, and shows the lines
// in sight.
async function drawView() {
    const current = run;
    if (current) {
        showReportCounts(current);
    }
    const layout = viewLayout();
    ui.rows.style.height = `${layout.height}px`;
    const space = `${layout.space}px`;
    if (ui.space.style.height !== space) {
        ui.space.style.height = space;
        view.pinnedTop = null;
    }
    // Past the scrolling height's cap the height stays while lines come: the position that
    // stands for view.first moves up as the report grows, and is set again.
    if (layout.maxFirst !== view.maxFirst) {
        view.maxFirst = layout.maxFirst;
        view.pinnedTop = null;
    }
    if (view.pinnedTop === null && Math.abs(ui.frame.scrollTop - topOf(layout)) >= 1) {
        ui.frame.scrollTop = topOf(layout);
        view.pinnedTop = ui.frame.scrollTop;
    }
    view.moving = false;
    if (!current) {
        return;
    }
    const inSight = Math.min(current.store.lines, view.first + layout.visible + 1);
    const want = `${inSight} ${view.first} ${view.target} ${bytesView.line}`;
    if (want === view.shown) {
        return;
    }
    // The same lines as drawn last, with only their marks moved (a step to the next
    // difference, a line chosen): marked in place, neither read again nor built anew.
    const range = `${inSight} ${view.first}`;
    if (view.rowHeight === 0 || view.drawnRun !== current || view.drawnRange !== range) {
        const lines = await storeLines(current.store, view.first, layout.visible + 1);
        if (run !== current) {
            return;
        }
        const widest = Math.max(view.widest, ...lines.map(({text}) => (text.length - 11) / 4));
        if (widest !== view.widest) {
            view.widest = widest;
            ui.rows.style.setProperty('--bytes', String(widest));
        }
        ui.rows.innerHTML = lines.map(({text}, i) => rowHtml(text, view.first + i)).join('');
        view.drawnRun = current;
        view.drawnRange = range;
    }
    view.shown = want;
    [...ui.rows.children].forEach((item, i) => markLine(item, view.first + i === view.target, view.first + i === bytesView.line));
    if (view.rowHeight === 0 && ui.rows.firstElementChild) {
        view.rowHeight = ui.rows.firstElementChild.getBoundingClientRect().height;
        view.shown = '';
        view.pinnedTop = null;
        view.again = true;
        return;
    }
    const target = ui.rows.querySelector('[aria-current="true"]');
    if (view.reveal && target) {
        view.reveal = false;
        reveal([ui.gotoResult, target]);
    }
}

// Scrolls the window, if need be, so that elements (one above the other, the first on top)
// are in its view: their bottom if they do not all fit, their top when it is above.
function reveal(elements) {
    const rects = elements.map((element) => element.getBoundingClientRect());
    const top = Math.min(...rects.map((r) => r.top));
    const bottom = Math.max(...rects.map((r) => r.bottom));
    const margin = 8;
    const height = document.documentElement.clientHeight;
    if (bottom > height - margin) {
        window.scrollBy(0, Math.min(bottom - height + margin, top - margin));
    } else if (top < margin) {
        window.scrollBy(0, top - margin);
    }
}

// Puts line n at the top of the frame (as near the end as the report allows it to be
// scrolled, and further by the keys or Go).
function showLine(n) {
    const lines = run ? run.store.lines : 0;
    view.first = Math.max(0, Math.min(n, lines - 1));
    view.pinnedTop = null;
    view.moving = true;
    scheduleDraw();
}

function viewScrolled() {
    if (view.moving || (view.pinnedTop !== null && Math.abs(ui.frame.scrollTop - view.pinnedTop) < 1)) {
        return;
    }
    const layout = viewLayout();
    view.first = layout.space > 0 ? Math.round((ui.frame.scrollTop / layout.space) * layout.maxFirst) : 0;
    view.pinnedTop = ui.frame.scrollTop;
    scheduleDraw();
}

// The frame's keys: a line, a frame's worth, the first or the last lines.
function viewKey(event) {
    const layout = viewLayout();
    const page = Math.max(1, layout.visible - 1);
    const moves = {ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page};
    if (event.key in moves) {
        showLine(Math.min(view.first, layout.maxFirst) + moves[event.key]);
    } else if (event.key === 'Home') {
        showLine(0);
    } else if (event.key === 'End') {
        showLine(layout.maxFirst);
    } else {
        return;
    }
    event.preventDefault();
}

function resetView() {
    Object.assign(view, {first: 0, target: -1, widest: 0, maxFirst: 0, pinnedTop: null, moving: false, shown: '', reveal: false, drawnRun: null, drawnRange: ''});
    ui.rows.replaceChildren();
    ui.rows.style.setProperty('--bytes', '0');
    ui.gotoResult.textContent = '';
}

// Shows the report from the line find(store) gives (a number, -1 for none), said as what is
// found: the text is brought into the window's view with the line. Answers whether a line
// was found.
async function showFound(find, found, none) {
    const current = run;
    if (!current || current.store.lines === 0) {
        ui.gotoResult.textContent = 'No report lines yet.';
        reveal([ui.gotoResult]);
        return;
    }
    const line = await find(current.store);
    if (run !== current) {
        return;
    }
    if (line < 0) {
        ui.gotoResult.textContent = none;
        reveal([ui.gotoResult]);
        return false;
    }
    view.target = line;
    view.reveal = true;
    view.shown = '';
    showLine(line);
    ui.gotoResult.textContent = `Line ${numberFormat.format(line + 1)} of ${numberFormat.format(current.store.lines)}: ${found}.`;
    return true;
}

// Shows the report from its first line at or after file offset target, said as what.
function showOffset(target, what) {
    return showFound((store) => storeFind(store, target), `the first at or after ${what}`, `No report line at or after ${what}.`);
}

// "Go to address": hex, as in the report, with or without 0x. Past 4 GiB, where addresses
// repeat, the first place from the top with that address.
function goToAddress() {
    const match = ui.gotoAddress.value.match(/^\s*(?:0[xX])?([0-9A-Fa-f]{1,8})\s*$/);
    if (!match) {
        ui.gotoResult.textContent = 'An address is 1 to 8 hex digits, as in the report.';
        return;
    }
    const address = parseInt(match[1], 16);
    const blockAddress = run ? run.store.blockAddress : 0;
    const offset = address >= blockAddress ? address - blockAddress : address - blockAddress + WRAP;
    bytesOpen(offset, false);
    void showOffset(offset, `address ${hexOffset(address)}`);
}

// A map column chosen: the report from the first line that holds one of its differing bytes
// (it may start in the column before).
function mapChosen(i) {
    if (!run?.map) {
        return;
    }
    const {starts} = run.map;
    const what = `offsets ${hexOffset(starts[i])} to ${hexOffset(starts[i + 1] - 1)}`;
    void showFound(async (store) => {
        const found = await storeNextDiffering(store, starts[i], starts[i + 1]);
        bytesOpen(found ? found.offset : starts[i], false);
        return found?.line ?? -1;
    }, `the first with a differing byte at ${what}`, `No differing byte at ${what}.`);
}

// The view "Bytes": rows of both files from top on, the cursor's byte in both, its values,
// and the report line that holds it (line, -1 for none). Drawn by bytesDraw, the last call
// winning (drawn counts calls).
const bytesView = {readers: null, sizes: null, top: 0, cursor: 0, rows: 8, line: -1, drawn: 0, open: false};

function bytesReset(files) {
    const both = files.original && files.patched;
    Object.assign(bytesView, {
        readers: both ? {original: bytesReader(files.original), patched: bytesReader(files.patched)} : null,
        sizes: both ? {original: files.original.size, patched: files.patched.size} : null,
        top: 0, cursor: 0, line: -1, open: false,
    });
    ui.bytesRows.replaceChildren();
    ui.values.replaceChildren();
    ui.bytesFound.textContent = '';
    ui.bytesCursor.textContent = '';
    ui.bytesNote.textContent = both ? '' : 'Choose both files and compare them to see their bytes.';
}

// The longer file's length: the view goes through all of it.
const bytesLength = () => Math.max(bytesView.sizes.original, bytesView.sizes.patched);

// Opens the view with the cursor at offset, its row a little below the top; revealing it
// brings it into the window's view.
function bytesOpen(offset, revealing) {
    if (!bytesView.readers) {
        return;
    }
    const cursor = Math.max(0, Math.min(bytesLength() - 1, offset));
    bytesView.cursor = cursor;
    const row = cursor - (cursor % BYTES_PER_ROW);
    bytesView.top = Math.max(0, row - 2 * BYTES_PER_ROW);
    bytesView.open = true;
    void bytesDraw(revealing);
}

// Moves the cursor to offset, the rows in sight following it.
function bytesGo(offset, revealing) {
    if (!bytesView.readers) {
        return;
    }
    bytesView.cursor = Math.max(0, Math.min(bytesLength() - 1, offset));
    bytesView.top = bytesTop(bytesView.top, bytesView.cursor, bytesView.rows);
    bytesView.open = true;
    void bytesDraw(revealing);
}

// Brings the list's items to show rows (bytesRows) in place: the elements of each byte are
// kept and only their text and classes set, where the item is built alike (a row that comes
// into sight mostly is, byte for byte); the others are made anew. Scrolling thus makes little
// garbage, which Firefox would otherwise keep by the hundred megabytes for a while.
function bytesRowsPatch(list, rows) {
    while (list.children.length > rows.length) {
        list.lastElementChild.remove();
    }
    rows.forEach((row, r) => {
        const item = list.children[r];
        if (!item) {
            list.insertAdjacentHTML('beforeend', bytesRowHtml(row));
        } else if (!bytesRowPatch(item, row)) {
            item.outerHTML = bytesRowHtml(row);
        }
    });
}

// Sets item to show row where it is built alike (each side's bytes, or the text shown instead,
// and as many bytes); answers whether it was.
function bytesRowPatch(item, row) {
    const kids = item.children;
    const parts = [];
    let k = 2;
    for (const side of row.sides) {
        if (!kids[k]?.classList.contains('who')) {
            return false;
        }
        const [first, second] = [kids[k + 1], kids[k + 2]];
        if (side.error !== undefined) {
            if (!first?.classList.contains('error')) {
                return false;
            }
            parts.push([side, first]);
            k += 2;
        } else {
            if (first?.localName !== 'code' || first.children.length !== side.cells.length || second?.children.length !== side.cells.length) {
                return false;
            }
            parts.push([side, first, second]);
            k += 3;
        }
    }
    if (kids.length !== k) {
        return false;
    }
    item.dataset.offset = String(row.offset);
    setText(kids[0], row.off);
    setText(kids[1], row.addr);
    for (const [side, first, second] of parts) {
        if (side.error !== undefined) {
            setText(first, side.error);
            continue;
        }
        side.cells.forEach((cell, i) => {
            bytesCellPatch(first.children[i], cell, cell.text);
            bytesCellPatch(second.children[i], cell, cell.char);
        });
    }
    return true;
}

function setText(element, text) {
    const node = element.firstChild;
    if (node && node === element.lastChild && node.nodeType === Node.TEXT_NODE) {
        if (node.data !== text) {
            node.data = text;
        }
    } else {
        element.textContent = text;
    }
}

// One byte's element: of the tag and class given, showing text.
function bytesCellPatch(element, {tag, cls}, text) {
    if (element.localName !== tag) {
        const made = document.createElement(tag);
        made.className = cls;
        made.textContent = text;
        element.replaceWith(made);
        return;
    }
    if (element.className !== cls) {
        element.className = cls;
    }
    setText(element, text);
}

// One drawing at a time: asked for while one reads, the view is drawn again once that one
// ends, with what is in sight then (a fast wheel or a held key would otherwise start reads of
// both files for every notch or press, and each read costs the main thread a little).
const bytesDrawing = {busy: false, again: false, revealing: false};
async function bytesDraw(revealing) {
    bytesView.drawn += 1;
    bytesDrawing.revealing ||= revealing;
    if (bytesDrawing.busy) {
        bytesDrawing.again = true;
        return;
    }
    bytesDrawing.busy = true;
    try {
        do {
            bytesDrawing.again = false;
            const reveals = bytesDrawing.revealing;
            bytesDrawing.revealing = false;
            if (!(await bytesDrawOnce(reveals, bytesView.drawn))) {
                bytesDrawing.revealing ||= reveals;
            }
        } while (bytesDrawing.again);
    } finally {
        bytesDrawing.busy = false;
    }
}

// Reads what is in sight from both files (bvex's own message in place of a file that cannot
// be read) and draws it: the rows, the cursor's bytes and values, and the report line that
// holds the cursor's byte, marked in the lines. Drawing number answers whether it drew: not
// when a later drawing was asked for meanwhile. Each file is checked once, before its kept
// blocks are shown.
async function bytesDrawOnce(revealing, number) {
    const current = run;
    const {readers, sizes, top, rows, cursor} = bytesView;
    const end = top + rows * BYTES_PER_ROW;
    const checked = {original: readers.original.check(top), patched: readers.patched.check(top)};
    const read = (name, from, to) => Promise.all([checked[name], readers[name].read(from, to)])
        .then(([, bytes]) => bytes, () => `cannot read ${name} file`);
    const [original, patched, atOriginal, atPatched, line] = await Promise.all([
        read('original', top, end), read('patched', top, end),
        read('original', cursor, cursor + 8), read('patched', cursor, cursor + 8),
        current ? storeLineHolding(current.store, cursor) : -1,
    ]);
    if (number !== bytesView.drawn || run !== current) {
        return false;
    }
    const blockAddress = current ? current.store.blockAddress : 0;
    bytesRowsPatch(ui.bytesRows, bytesRows({start: top, rows, sides: {original, patched}, sizes, blockAddress, cursor}));
    const compared = Math.min(sizes.original, sizes.patched);
    ui.bytesNote.textContent = end > compared && sizes.original !== sizes.patched
        ? `The ${sizes.original < sizes.patched ? 'original' : 'patched'} file ends at offset ${hexFileOffset(compared)}: `
            + `the ${sizes.original < sizes.patched ? 'patched' : 'original'} file's bytes from there on are not compared.`
        : '';
    const byte = (side) => (typeof side === 'string' ? side : side.length > 0 ? hex2(side[0]) : 'none, past its end');
    ui.bytesCursor.textContent = `Cursor at offset ${hexFileOffset(cursor)}, address ${byteAddress(blockAddress, cursor)}: `
        + `original ${byte(atOriginal)}, patched ${byte(atPatched)}.`;
    const bytes = (side) => (typeof side === 'string' ? null : side);
    ui.values.innerHTML = bytesValuesHtml(bytesValues({original: bytes(atOriginal), patched: bytes(atPatched)}));
    if (line !== bytesView.line) {
        bytesView.line = line;
        scheduleDraw();
    }
    if (revealing) {
        reveal([ui.bytesFound, ui.bytesFrame]);
    }
    return true;
}

// Draws the view "Bytes" at the next frame, once however many wheel notches come before it:
// a fast wheel sends several a frame, and each drawing reads both files.
let bytesFrameAsked = false;
function bytesDrawSoon() {
    if (!bytesFrameAsked) {
        bytesFrameAsked = true;
        requestAnimationFrame(() => {
            bytesFrameAsked = false;
            void bytesDraw(false);
        });
    }
}

// Next or Previous difference: the next differing byte after the cursor, or the last one
// before it, from the report's lines.
async function bytesStep(forward) {
    const current = run;
    if (!current || !bytesView.readers) {
        ui.bytesFound.textContent = 'No report yet.';
        return;
    }
    const from = bytesView.open ? bytesView.cursor : -1;
    const found = forward
        ? await storeNextDiffering(current.store, from + 1, Infinity)
        : await storePreviousDiffering(current.store, Math.max(0, from));
    if (run !== current) {
        return;
    }
    if (!found) {
        ui.bytesFound.textContent = `No further difference ${forward ? 'after' : 'before'} offset ${hexFileOffset(Math.max(0, from))}`
            + `${current.done ? '' : ' in the report so far'}.`;
        reveal([ui.bytesFound]);
        return;
    }
    ui.bytesFound.textContent = `${forward ? 'Next' : 'Previous'} difference: offset ${hexFileOffset(found.offset)}, `
        + `in report line ${numberFormat.format(found.line + 1)}.`;
    bytesGo(found.offset, true);
}

// A report line chosen: the view "Bytes" at its first differing byte.
async function lineChosen(n) {
    const current = run;
    if (!current || n < 0 || n >= current.store.lines) {
        return;
    }
    const [line] = await storeLines(current.store, n, 1);
    if (run !== current || !line) {
        return;
    }
    view.target = n;
    view.shown = '';
    scheduleDraw();
    ui.bytesFound.textContent = `Report line ${numberFormat.format(n + 1)}, from offset ${hexFileOffset(line.offset)}.`;
    bytesOpen(line.offset + (lineDiffering(line.text)[0] ?? 0), true);
}

// The keys of the view "Bytes".
function bytesKey(event) {
    if (!bytesView.readers) {
        return;
    }
    const key = event.key;
    if (key === 'n' || key === 'N' || key === 'p' || key === 'P') {
        void bytesStep(key === 'n' || key === 'N');
    } else {
        const next = bytesMove(bytesView.open ? bytesView.cursor : 0, key, bytesLength(), bytesView.rows);
        if (next === null) {
            return;
        }
        if (key === 'PageUp' || key === 'PageDown') {
            bytesView.top = Math.max(0, bytesView.top + (next - bytesView.cursor));
            bytesView.top -= bytesView.top % BYTES_PER_ROW;
        }
        bytesGo(next, false);
    }
    event.preventDefault();
}

// A new map for the run current, its columns starting at starts (file offsets; the last, the
// compared length).
function showMap(current, starts) {
    current.map = mapMake(ui.map, ui.mapRows, starts);
    const total = starts[starts.length - 1];
    ui.mapStart.textContent = total > 0 ? hexOffset(0) : '';
    ui.mapEnd.textContent = total > 0 ? hexOffset(total - 1) : '';
    ui.mapName.textContent = '';
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
    showReportCounts(current);
    scheduleDraw();
    ui.progress.max = Math.max(total, 1);
    ui.progress.value = compared;
    showCounts(lines, differing);
    if (status === 0) {
        report = storeBlob(current.store);
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
    const current = {worker: new Worker(workerUrl), files, store: reportStore(), map: null, mapCounts: null, drawn: 0, drawTimer: null, done: false};
    run = current;
    resetView();
    bytesReset(files);
    showMap(current, new Float64Array(1));
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
            showMap(current, data.starts);
        } else if (data.type === 'address') {
            current.store.blockAddress = data.blockAddress;
        } else if (data.type === 'read') {
            readPiece(current, data);
        } else if (data.type === 'progress') {
            ui.progress.max = Math.max(data.total, 1);
            ui.progress.value = data.compared;
            const percent = data.total > 0 ? Math.floor((100 * data.compared) / data.total) : 100;
            setStatus(`Compared ${size(data.compared)} of ${size(data.total)} (${percent} %)`
                + `${data.seconds > 0 ? `, ${speed(data.compared, data.seconds)}` : ''}.`, true);
        } else if (data.type === 'report') {
            storeAdd(current.store, data);
            current.mapCounts = data.map;
            drawReportSoon(current);
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
        (module) => current.worker.postMessage({type: 'run', module, args, files}),
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

// Copies the report; what the copy ends with is said only while the page still shows the run
// that made the report: a run started since keeps its own status.
async function copy() {
    if (!report) {
        return;
    }
    const copied = report;
    const from = run;
    const say = (text) => {
        if (run === from && report === copied) {
            setStatus(text, false);
        }
    };
    try {
        await navigator.clipboard.write([new ClipboardItem({'text/plain': copied})]);
    } catch {
        try {
            await navigator.clipboard.writeText(await copied.text());
        } catch (error) {
            say(`The report could not be copied: ${error.message}`);
            return;
        }
    }
    say(`Copied the report (${size(copied.size)}) to the clipboard.`);
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
ui.goto.addEventListener('submit', (event) => {
    event.preventDefault();
    goToAddress();
});
ui.frame.addEventListener('scroll', viewScrolled);
ui.frame.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
        event.preventDefault();
        void lineChosen(view.target >= 0 ? view.target : view.first);
    } else {
        viewKey(event);
    }
});
ui.rows.addEventListener('click', (event) => {
    const line = event.target.closest('li')?.dataset.line;
    if (line !== undefined) {
        void lineChosen(Number(line));
    }
});
// A row of "Differences by offset" chosen (a click, or Enter on it) as its map column is.
const tableRowChosen = (event) => {
    const column = event.target.closest('tr')?.dataset.column;
    if (column !== undefined && run?.map) {
        mapChosen(Number(column));
    }
};
ui.mapRows.addEventListener('click', tableRowChosen);
ui.mapRows.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
        event.preventDefault();
        tableRowChosen(event);
    }
});
ui.bytesFrame.addEventListener('keydown', bytesKey);
ui.bytesFrame.addEventListener('wheel', (event) => {
    if (!bytesView.readers || event.deltaY === 0) {
        return;
    }
    event.preventDefault();
    const rows = Math.sign(event.deltaY) * 3 * BYTES_PER_ROW;
    const last = bytesLength() - 1;
    bytesView.top = Math.max(0, Math.min(last - (last % BYTES_PER_ROW), bytesView.top + rows));
    bytesView.open = true;
    bytesDrawSoon();
}, {passive: false});
ui.bytesRows.addEventListener('click', (event) => {
    const item = event.target.closest('li');
    const place = event.target.closest('.hex > *, .chr > *');
    if (item && place) {
        bytesGo(Number(item.dataset.offset) + [...place.parentElement.children].indexOf(place), false);
    }
});
ui.next.addEventListener('click', () => void bytesStep(true));
ui.previous.addEventListener('click', () => void bytesStep(false));
ui.map.addEventListener('click', (event) => {
    const column = event.target.closest('button')?.dataset.column;
    if (column !== undefined && run?.map) {
        mapFocus(run.map, Number(column));
        mapChosen(Number(column));
    }
});
// The strip's keys move along it (mapKey); Enter or Space chooses the column in focus.
ui.map.addEventListener('keydown', (event) => {
    if (!run?.map) {
        return;
    }
    if (event.key === 'Enter' || event.key === ' ') {
        event.preventDefault();
        mapChosen(run.map.focus);
    } else if (mapKey(run.map, event.key)) {
        event.preventDefault();
    }
});
// Hovering over or focusing a column names it below the strip.
for (const type of ['mouseover', 'focusin']) {
    ui.map.addEventListener(type, (event) => {
        const column = event.target.closest('button')?.dataset.column;
        if (column !== undefined && run?.map) {
            ui.mapName.textContent = mapText(run.map, Number(column));
        }
    });
}
window.addEventListener('resize', () => {
    if (run?.map) {
        mapDraw(run.map);
    }
    view.rowHeight = 0;
    view.shown = '';
    scheduleDraw();
});
ui.download.addEventListener('click', download);
ui.copy.addEventListener('click', copy);
