// The map of a comparison: one strip of columns across the compared length, each column a
// button that names its offsets and its count of differing bytes, and the same figures in
// the table "Differences by offset", one row per column that holds differences. Offsets are
// file offsets in hex, unambiguous past 4 GiB where addresses repeat. The columns' bars are
// drawn on a canvas behind the buttons: restyling 256 elements at each update cost the page
// tens of milliseconds of layout and painting.

const hexOffset = (offset) => offset.toString(16).toUpperCase().padStart(8, '0');

// A new map in strip, its table's rows in table (a tbody), for columns starting at starts
// (file offsets, the last one the compared length); every count 0.
function mapMake(strip, table, starts) {
    const columns = starts.length - 1;
    const map = {strip, table, starts, counts: new Float64Array(columns), buttons: [], rows: [], focus: 0};
    map.canvas = document.createElement('canvas');
    map.canvas.setAttribute('aria-hidden', 'true');
    strip.replaceChildren(map.canvas);
    table.replaceChildren();
    strip.style.setProperty('--columns', String(Math.max(columns, 1)));
    for (let i = 0; i < columns; i++) {
        const button = document.createElement('button');
        button.type = 'button';
        button.tabIndex = i === 0 ? 0 : -1;
        button.dataset.column = String(i);
        map.buttons.push(button);
        mapLabel(map, i);
    }
    strip.append(...map.buttons);
    mapDraw(map);
    return map;
}

// The text that names column i: its first and last offsets and its differing bytes.
function mapText(map, i) {
    const n = map.counts[i];
    return `Offsets ${hexOffset(map.starts[i])} to ${hexOffset(map.starts[i + 1] - 1)}: `
        + `${numberFormat.format(n)} ${n === 1 ? 'differing byte' : 'differing bytes'}`;
}

// Column i's name.
function mapLabel(map, i) {
    const button = map.buttons[i];
    button.setAttribute('aria-label', mapText(map, i));
    button.title = mapText(map, i);
}

// Column i's height, from 0 to 1: none for no difference, all of it when every byte of its
// share differs (a share may be a single byte), and in between growing with the logarithm of
// its count, a single differing byte a fifth of the way.
function mapLevel(map, i) {
    const n = map.counts[i];
    const share = map.starts[i + 1] - map.starts[i];
    if (n === 0 || n >= share) {
        return n === 0 ? 0 : 1;
    }
    return Math.min(1, 0.2 + (0.8 * Math.log2(n)) / Math.log2(Math.max(share, 2)));
}

// Draws every column's bar, at the strip's size in device pixels.
function mapDraw(map) {
    const {canvas} = map;
    const width = Math.max(1, Math.round(map.strip.clientWidth * devicePixelRatio));
    const height = Math.max(1, Math.round(map.strip.clientHeight * devicePixelRatio));
    if (canvas.width !== width || canvas.height !== height) {
        canvas.width = width;
        canvas.height = height;
    }
    const context = canvas.getContext('2d');
    context.clearRect(0, 0, width, height);
    context.fillStyle = getComputedStyle(map.strip).getPropertyValue('--bar').trim() || 'blue';
    const columns = map.counts.length;
    for (let i = 0; i < columns; i++) {
        const level = mapLevel(map, i);
        if (level > 0) {
            const left = Math.floor((i * width) / columns);
            const right = Math.max(left + 1, Math.floor(((i + 1) * width) / columns));
            const top = Math.round(height * (1 - level));
            context.fillRect(left, top, right - left, height - top);
        }
    }
}

// Takes every column's count so far and redraws the columns that changed, each with its row
// of the table: a row is made when its column's first difference comes, and kept.
function mapUpdate(map, counts) {
    let changed = false;
    for (let i = 0; i < map.counts.length; i++) {
        if (counts[i] === map.counts[i]) {
            continue;
        }
        map.counts[i] = counts[i];
        mapLabel(map, i);
        let row = map.rows[i];
        if (!row) {
            row = document.createElement('tr');
            // A row can be chosen as its column can: by a click, or Enter once focused.
            row.dataset.column = String(i);
            row.tabIndex = 0;
            for (const text of [hexOffset(map.starts[i]), hexOffset(map.starts[i + 1] - 1), '']) {
                row.insertCell().textContent = text;
            }
            let next = i + 1;
            while (next < map.rows.length && !map.rows[next]) {
                next += 1;
            }
            map.table.insertBefore(row, map.rows[next] ?? null);
            map.rows[i] = row;
        }
        row.cells[2].textContent = String(counts[i]);
        changed = true;
    }
    if (changed) {
        mapDraw(map);
    }
}

// Moves the strip's one tab stop to column i and focuses it.
function mapFocus(map, i) {
    const next = Math.max(0, Math.min(map.buttons.length - 1, i));
    map.buttons[map.focus].tabIndex = -1;
    map.focus = next;
    map.buttons[next].tabIndex = 0;
    map.buttons[next].focus();
}

// The column a key moves the strip's focus to, or null when the key is not the strip's: the
// arrow keys, Home and End move along it; Page Down to the next column with differences,
// Page Up to the one before, and either stays where it is when there is none that way.
function mapNext(map, key) {
    const last = map.counts.length - 1;
    const differs = (i) => map.counts[i] > 0;
    if (last < 0) {
        return null;
    }
    if (key === 'ArrowRight' || key === 'ArrowDown') {
        return Math.min(last, map.focus + 1);
    }
    if (key === 'ArrowLeft' || key === 'ArrowUp') {
        return Math.max(0, map.focus - 1);
    }
    if (key === 'Home') {
        return 0;
    }
    if (key === 'End') {
        return last;
    }
    const step = {PageDown: 1, PageUp: -1}[key];
    if (step === undefined) {
        return null;
    }
    for (let i = map.focus + step; i >= 0 && i <= last; i += step) {
        if (differs(i)) {
            return i;
        }
    }
    return map.focus;
}

// Moves the strip's focus as mapNext says; answers whether the key was the strip's.
function mapKey(map, key) {
    const next = mapNext(map, key);
    if (next === null) {
        return false;
    }
    mapFocus(map, next);
    return true;
}
