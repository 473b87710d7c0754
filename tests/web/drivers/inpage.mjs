// Functions that the drivers run inside the page (each is sent as its source, so each
// stands alone), the same in every engine.

// The control or button whose accessible name is name: a field by the text of its label or
// its aria-label, a button by its text. The page names all its controls in these ways.
export function findNamed(kind, name) {
    const text = (element) => element.textContent.replace(/\s+/g, ' ').trim();
    if (kind === 'button') {
        return [...document.querySelectorAll('button')].find((b) => (b.getAttribute('aria-label') ?? text(b)) === name) ?? null;
    }
    const label = [...document.querySelectorAll('label')].find((l) => text(l) === name);
    return label?.control ?? document.querySelector(`[aria-label="${CSS.escape(name)}"]`);
}

// The element with role=status, its text and whether it is busy.
export function readStatus() {
    const status = document.querySelector('[role="status"]');
    return {text: status.textContent, busy: status.getAttribute('aria-busy') === 'true'};
}

// Whether the button named name can be pressed.
export function buttonEnabled(name) {
    const text = (element) => element.textContent.replace(/\s+/g, ' ').trim();
    const button = [...document.querySelectorAll('button')].find((b) => (b.getAttribute('aria-label') ?? text(b)) === name);
    return Boolean(button) && !button.disabled;
}

// The view's lines: the address, and for each side its bytes in hex and its characters,
// with whether each byte and each character is marked as changed.
export function viewRows() {
    function side(code) {
        const items = [];
        const walk = (node, marked) => {
            for (const child of node.childNodes) {
                if (child.nodeType === Node.TEXT_NODE) {
                    items.push({text: child.textContent, marked});
                } else {
                    walk(child, marked || child.localName === 'mark');
                }
            }
        };
        walk(code, false);
        return items;
    }
    function hex(code) {
        const bytes = [];
        const marked = [];
        for (const {text, marked: inMark} of side(code)) {
            for (const byte of text.split(/\s+/).filter((b) => b !== '')) {
                bytes.push(byte);
                marked.push(inMark);
            }
        }
        return {hex: bytes.join(''), marked};
    }
    function chars(code) {
        let all = '';
        const marked = [];
        for (const {text, marked: inMark} of side(code)) {
            all += text;
            marked.push(...[...text].map(() => inMark));
        }
        return {chars: all, marked};
    }
    return [...document.querySelectorAll('[aria-label="Report lines"] ol li')].map((li) => {
        const [originalHex, patchedHex] = li.querySelectorAll('code.hex');
        const [originalChr, patchedChr] = li.querySelectorAll('code.chr');
        const o = chars(originalChr);
        const p = chars(patchedChr);
        return {
            address: li.querySelector('code.addr').textContent,
            original: {...hex(originalHex), chars: o.chars, charsMarked: o.marked},
            patched: {...hex(patchedHex), chars: p.chars, charsMarked: p.marked},
        };
    });
}

// The table "Differences by offset": its rows as {first, last, count}, the offsets from hex.
export function mapTable() {
    const table = [...document.querySelectorAll('table')].find((t) => t.caption?.textContent.trim() === 'Differences by offset');
    return [...table.tBodies[0].rows].map((row) => {
        const [first, last, count] = [...row.cells].map((cell) => cell.textContent.trim());
        return {first: parseInt(first, 16), last: parseInt(last, 16), count: Number(count)};
    });
}

// The accessible names of the map's columns.
export function mapColumns() {
    const strip = document.querySelector('[role="group"][aria-label="Map of differences"]');
    return [...strip.querySelectorAll('button')].map((b) => b.getAttribute('aria-label'));
}

// Presses key in the element named name (as the keyboard would, with a keydown event);
// focuses it first unless it holds the focus already.
export function pressKey([name, key]) {
    const target = document.querySelector(`[aria-label="${CSS.escape(name)}"]`);
    const focused = target.contains(document.activeElement) ? document.activeElement : target;
    focused.focus();
    focused.dispatchEvent(new KeyboardEvent('keydown', {key, bubbles: true, cancelable: true}));
    return document.activeElement.getAttribute('aria-label');
}

// The view's line marked as the one gone to: its address, and whether it is the view's first.
export function targetLine() {
    const rows = [...document.querySelectorAll('[aria-label="Report lines"] ol li')];
    const target = rows.findIndex((li) => li.getAttribute('aria-current') === 'true');
    return target < 0 ? null : {address: rows[target].querySelector('code.addr').textContent, first: target === 0};
}

// Whether the view's last line lies whole inside the frame's visible area.
export function lastLineWhole() {
    const frame = document.querySelector('[aria-label="Report lines"]');
    const last = [...frame.querySelectorAll('ol li')].at(-1);
    if (!last) {
        return false;
    }
    const box = frame.getBoundingClientRect();
    const top = box.top + frame.clientTop;
    const line = last.getBoundingClientRect();
    return line.top >= top - 0.5 && line.bottom <= top + frame.clientHeight + 0.5;
}

// Whether the view's line gone to and the text under "Go to address" both lie inside the
// window's view.
export function targetInWindow() {
    const target = document.querySelector('[aria-label="Report lines"] ol li[aria-current="true"]');
    const result = document.getElementById('goto-result');
    const height = document.documentElement.clientHeight;
    const inside = (element) => {
        const box = element.getBoundingClientRect();
        return box.height > 0 && box.top >= 0 && box.bottom <= height;
    };
    return Boolean(target) && inside(target) && inside(result);
}

// Messages of type 'report' and 'end' from the run's worker are held back while
// window.bvexHeld is an array (the rest, such as the reads asked of the page, pass); this
// delivers those held up to the first report of at least lines lines, and answers whether
// that one came (lines 0: all of them, and no more are held).
export function releaseHeld(lines) {
    if (lines === 0) {
        const held = window.bvexHeld ?? [];
        window.bvexHeld = null;
        held.forEach((deliver) => deliver.run());
        return true;
    }
    while (window.bvexHeld.length > 0) {
        const next = window.bvexHeld.shift();
        next.run();
        if (next.data.type === 'report' && next.data.lines >= lines) {
            return true;
        }
    }
    return false;
}

// How many lines the view shows.
export function viewCount() {
    return document.querySelectorAll('[aria-label="Report lines"] ol li').length;
}

// The view "Bytes" as shown: its rows, each with its file offset and address as text and,
// for each side, either the error shown in place of its bytes or its bytes in hex, each with
// how it is shown (mark: marked as differing, nc: not compared, '' otherwise) and whether it
// is the cursor's, and its characters; the text about the cursor, the one above the rows
// (what Next or Previous found) and the note below them.
export function bytesShown() {
    const frame = document.querySelector('[aria-label="Bytes of both files"]');
    const places = (code) => [...code.children].map((element) => ({
        text: element.textContent,
        kind: element.localName === 'mark' ? 'mark' : element.classList.contains('nc') ? 'nc' : '',
        at: element.classList.contains('at'),
    }));
    // A side's elements after its label: its bytes in hex and as characters, or an error.
    const side = ([label, first, second]) => {
        if (first.localName !== 'code') {
            return {who: label.textContent, error: first.textContent};
        }
        const hex = places(first);
        const chars = places(second);
        return {who: label.textContent, hex: hex.map((p) => p.text), kinds: hex.map((p) => p.kind), at: hex.map((p) => p.at),
            chars: chars.map((p) => p.text).join(''), charKinds: chars.map((p) => p.kind)};
    };
    const rows = [...frame.querySelectorAll('li')].map((li) => {
        const kids = [...li.children];
        const labels = kids.flatMap((kid, i) => (kid.classList.contains('who') ? [i] : []));
        const part = (k) => side(kids.slice(labels[k], labels[k + 1] ?? kids.length));
        return {
            offset: li.querySelector('code.off').textContent,
            address: li.querySelector('code.addr').textContent,
            original: part(0),
            patched: part(1),
        };
    });
    const describedBy = (id) => document.getElementById(id)?.textContent ?? '';
    return {
        rows,
        cursor: describedBy(frame.getAttribute('aria-describedby')),
        found: document.getElementById('bytes-found').textContent,
        note: document.getElementById('bytes-note').textContent,
    };
}

// The table "Values at the cursor": a row per value, {name, original, patched, differs}
// with each cell's text, and whether the row is marked as differing.
export function valuesShown() {
    const table = [...document.querySelectorAll('table')].find((t) => t.caption?.textContent.trim() === 'Values at the cursor');
    return [...table.tBodies[0].rows].map((row) => {
        const [name, original, patched, differs] = [...row.cells].map((cell) => cell.textContent.trim());
        return {name, original, patched, differs, marked: row.classList.contains('differs')};
    });
}

// Presses key in the view "Bytes" steps times, each once the one before has been drawn (the
// text above the rows says what was found, the text about the cursor names that offset, and
// the lines in sight mark the line that holds it), or until nothing more is found; gives what
// each step found and the cursor's place in the rows then (row offset plus place, both sides
// agreeing, or null).
export async function bytesWalk([key, steps]) {
    const frame = document.querySelector('[aria-label="Bytes of both files"]');
    const found = document.getElementById('bytes-found');
    const cursor = document.getElementById(frame.getAttribute('aria-describedby'));
    const atInRows = () => {
        const places = [];
        for (const li of frame.querySelectorAll('li')) {
            for (const code of li.querySelectorAll('code.hex')) {
                const i = [...code.children].findIndex((element) => element.classList.contains('at'));
                if (i >= 0) {
                    places.push(parseInt(li.querySelector('code.off').textContent, 16) + i);
                }
            }
        }
        return places.length === 2 && places[0] === places[1] ? places[0] : null;
    };
    // Whether the lines in sight mark, as holding the cursor, the report line the step names
    // ("in report line N.") where they hold it, and no other line.
    const linesMarked = (text) => {
        const n = text.match(/in report line ([0-9,]+)\./)?.[1];
        const want = n === undefined ? null : String(Number(n.replaceAll(',', '')) - 1);
        const items = [...document.querySelectorAll('[aria-label="Report lines"] ol li')];
        const marked = items.filter((li) => li.classList.contains('cursor-line')).map((li) => li.dataset.line);
        return marked.join() === (items.some((li) => li.dataset.line === want) ? want : '');
    };
    const results = [];
    frame.focus();
    for (let step = 0; step < steps; step++) {
        const before = found.textContent;
        frame.dispatchEvent(new KeyboardEvent('keydown', {key, bubbles: true, cancelable: true}));
        const until = performance.now() + 10_000;
        for (;;) {
            const text = found.textContent;
            const offset = text.match(/difference: offset ([0-9A-F]+),/)?.[1];
            if (text !== before && (!offset || cursor.textContent.startsWith(`Cursor at offset ${offset},`))
                && (!offset || (atInRows() === parseInt(offset, 16) && linesMarked(text)))) {
                results.push({found: text, at: offset ? atInRows() : null});
                break;
            }
            if (performance.now() > until) {
                results.push({found: text, cursor: cursor.textContent, linesMarked: linesMarked(text), timedOut: true});
                return results;
            }
            await new Promise((resolve) => setTimeout(resolve, 2));
        }
        if (!/difference: offset/.test(found.textContent)) {
            break;
        }
    }
    return results;
}

// Presses each key of keys in the view "Bytes", one after the other, without waiting.
export function bytesKeys(keys) {
    const frame = document.querySelector('[aria-label="Bytes of both files"]');
    frame.focus();
    for (const key of keys) {
        frame.dispatchEvent(new KeyboardEvent('keydown', {key, bubbles: true, cancelable: true}));
    }
}

// Installed once the page has loaded: keeps every text the status shows (in
// window.bvexStatuses), every value and maximum of the progress bar (bvexProgress), every worker made and whether it was terminated (window.bvexWorkers),
// and, where the driver cannot see them itself (reported), the page's script errors and
// console errors (window.bvexProblems).
export function instrument(reportErrors) {
    const status = document.querySelector('[role="status"]');
    const progress = document.querySelector('progress');
    window.bvexStatuses = [];
    window.bvexProgress = [];
    if (status) {
        new MutationObserver(() => window.bvexStatuses.push(status.textContent))
            .observe(status, {childList: true, characterData: true, subtree: true});
    }
    if (progress) {
        new MutationObserver(() => window.bvexProgress.push({value: progress.value, max: progress.max}))
            .observe(progress, {attributes: true, attributeFilter: ['value', 'max']});
    }
    window.bvexWorkers = [];
    window.bvexHeld = null;
    const NativeWorker = window.Worker;
    window.Worker = class Worker extends NativeWorker {
        constructor(...args) {
            super(...args);
            this.bvexRecord = {terminated: false};
            window.bvexWorkers.push(this.bvexRecord);
        }
        set onmessage(handler) {
            super.onmessage = (event) => {
                const type = event.data?.type;
                if (window.bvexHeld && (type === 'report' || type === 'end')) {
                    window.bvexHeld.push({data: event.data, run: () => handler.call(this, event)});
                } else {
                    handler.call(this, event);
                }
            };
        }
        get onmessage() {
            return super.onmessage;
        }
        terminate() {
            this.bvexRecord.terminated = true;
            super.terminate();
        }
    };
    window.bvexProblems = [];
    if (reportErrors) {
        window.addEventListener('error', (event) => window.bvexProblems.push(`script error: ${event.message}`));
        window.addEventListener('unhandledrejection', (event) => window.bvexProblems.push(`script error: ${event.reason}`));
        const consoleError = console.error;
        console.error = (...args) => {
            window.bvexProblems.push(`console error: ${args.join(' ')}`);
            consoleError.apply(console, args);
        };
    }
}

// Takes and clears what instrument() kept: the statuses and progress shown, the workers
// made and the problems seen since the last call.
export function takeRecords() {
    const records = {
        statuses: window.bvexStatuses,
        progress: window.bvexProgress,
        workers: window.bvexWorkers.map((w) => ({...w})),
        problems: window.bvexProblems,
    };
    window.bvexStatuses = [];
    window.bvexProgress = [];
    window.bvexWorkers = [];
    window.bvexProblems = [];
    return records;
}
