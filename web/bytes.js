// The view "Bytes": both files' bytes at any offset, 16 to a row at offsets that are
// multiples of 16, the original's row above the patched file's, byte under byte. The bytes
// are read from the files as the view needs them, through a small cache of blocks for each
// file; a read that fails is never cached and shows bvex's message for that file instead of
// bytes. This file holds what has no page behind it (reading, rows, values); page.js draws
// and moves the view.

const BYTES_PER_ROW = 16;
// Files are read in aligned blocks of this size, at most BLOCKS_KEPT of them kept per file.
const BLOCK_BYTES = 64 << 10;
const BLOCKS_KEPT = 48;
const ADDRESS_WRAP = 2 ** 32;

const hex2 = (byte) => byte.toString(16).toUpperCase().padStart(2, '0');
const printable = (byte) => (byte >= 0x20 && byte < 0x7f ? String.fromCharCode(byte) : '.');
const htmlChar = (char) => ({'&': '&amp;', '<': '&lt;', '>': '&gt;'}[char] ?? char);

// The offset in hex, at least eight digits, exact for any file a browser can hold.
const hexFileOffset = (offset) => offset.toString(16).toUpperCase().padStart(8, '0');

// The address bvex prints for the byte at offset: the block address plus the offset,
// modulo 2^32.
const byteAddress = (blockAddress, offset) => ((blockAddress + (offset % ADDRESS_WRAP)) % ADDRESS_WRAP)
    .toString(16).toUpperCase().padStart(8, '0');

// A reader of file's bytes: read(start, end) gives a Uint8Array of the bytes from start up to
// end or the file's end, or rejects when the file cannot be read (removed, or shorter than
// when it was chosen). Blocks are kept most recently used last.
function bytesReader(file) {
    const blocks = new Map();
    const block = (k) => {
        let promise = blocks.get(k);
        if (promise) {
            blocks.delete(k);
        } else {
            const start = k * BLOCK_BYTES;
            const length = Math.min(BLOCK_BYTES, file.size - start);
            promise = file.slice(start, start + length).arrayBuffer().then((buffer) => {
                if (buffer.byteLength !== length) {
                    throw new Error(`${buffer.byteLength} bytes read of ${length}`);
                }
                return new Uint8Array(buffer);
            });
            promise.catch(() => blocks.delete(k));
        }
        blocks.set(k, promise);
        while (blocks.size > BLOCKS_KEPT) {
            blocks.delete(blocks.keys().next().value);
        }
        return promise;
    };
    return {
        file,
        blocks,
        // Reads the byte at offset at, never from the cache: rejects once the file can no
        // longer be read, so that kept blocks are never shown for a file that is gone. A file
        // shortened since it was chosen may give no byte there instead of failing (Firefox
        // does): that is a failure too.
        async check(at) {
            const from = Math.max(0, Math.min(at, file.size - 1));
            const length = Math.min(1, file.size - from);
            const buffer = await file.slice(from, from + length).arrayBuffer();
            if (buffer.byteLength !== length) {
                throw new Error(`${buffer.byteLength} bytes read of ${length}`);
            }
        },
        async read(start, end) {
            const stop = Math.min(end, file.size);
            if (stop <= start) {
                return new Uint8Array(0);
            }
            const bytes = new Uint8Array(stop - start);
            const first = Math.floor(start / BLOCK_BYTES);
            const last = Math.floor((stop - 1) / BLOCK_BYTES);
            const got = await Promise.all(Array.from({length: last - first + 1}, (_, i) => block(first + i)));
            got.forEach((data, i) => {
                const base = (first + i) * BLOCK_BYTES;
                const from = Math.max(start, base);
                const to = Math.min(stop, base + data.length);
                bytes.set(data.subarray(from - base, to - base), from - start);
            });
            return bytes;
        },
    };
}

// One side of a row as its places, one for each of its bytes (none past the file's end):
// {text, char, tag, cls}, the byte in hex and as a character, marked (tag mark) where it
// differs from the other side's, shown apart past the shorter file's end where nothing is
// compared (class nc), the cursor's with class at.
function bytesSideCells(own, other, rowStart, compared, cursor) {
    const cells = [];
    for (let i = 0; i < Math.min(own.length, BYTES_PER_ROW); i++) {
        const offset = rowStart + i;
        const at = offset === cursor ? 'at' : '';
        const apart = offset >= compared;
        cells.push({text: hex2(own[i]), char: printable(own[i]), tag: !apart && own[i] !== other[i] ? 'mark' : 'span',
            cls: apart ? `nc${at ? ' at' : ''}` : at});
    }
    return cells;
}

// One side's HTML: its label, then its 16 places in hex and as characters, blank past the
// file's end; or the text shown instead of its bytes.
function bytesSideHtml({who, error, cells}) {
    if (error !== undefined) {
        return `<span class="who">${who}</span><span class="error">${error}</span>`;
    }
    let hex = '';
    let chars = '';
    for (let i = 0; i < BYTES_PER_ROW; i++) {
        const space = i === 0 ? '' : ' ';
        if (i >= cells.length) {
            hex += `${space}  `;
            chars += ' ';
            continue;
        }
        const {text, char, tag, cls} = cells[i];
        hex += `${space}<${tag} class="${cls}">${text}</${tag}>`;
        chars += `<${tag} class="${cls}">${htmlChar(char)}</${tag}>`;
    }
    return `<span class="who">${who}</span><code class="hex">${hex}</code><code class="chr">${chars}</code>`;
}

// The rows from offset start (a multiple of 16), each {offset, off, addr, sides}: its file
// offset as a number and in hex, its address, and the original's side and the patched
// file's ({who, cells}, or {who, error}). sides: {original, patched}, each the bytes read
// from start on (a Uint8Array) or the text to show instead (a read error); compared: the
// shorter file's length.
function bytesRows({start, rows, sides, sizes, blockAddress, cursor}) {
    const compared = Math.min(sizes.original, sizes.patched);
    const longer = Math.max(sizes.original, sizes.patched);
    const items = [];
    for (let r = 0; r < rows; r++) {
        const rowStart = start + r * BYTES_PER_ROW;
        if (rowStart >= longer) {
            break;
        }
        const slice = (side) => (typeof side === 'string' ? side : side.subarray(r * BYTES_PER_ROW, (r + 1) * BYTES_PER_ROW));
        const original = slice(sides.original);
        const patched = slice(sides.patched);
        const side = (who, own, other) => (typeof own === 'string' ? {who, error: own}
            : {who, cells: bytesSideCells(own, typeof other === 'string' ? own : other, rowStart, typeof other === 'string' ? 0 : compared, cursor)});
        items.push({offset: rowStart, off: hexFileOffset(rowStart), addr: byteAddress(blockAddress, rowStart),
            sides: [side('original', original, patched), side('patched', patched, original)]});
    }
    return items;
}

// A row's list item.
function bytesRowHtml({offset, off, addr, sides}) {
    return `<li data-offset="${offset}"><code class="off">${off}</code><code class="addr">${addr}</code>`
        + `${bytesSideHtml(sides[0])}${bytesSideHtml(sides[1])}</li>`;
}

// The rows' list items as HTML (bytesRows).
function bytesRowsHtml(view) {
    return bytesRows(view).map(bytesRowHtml).join('');
}

// The values that the bytes from the cursor on make: for each type and byte order, a row
// {name, original, patched} with each value as text, or null when it would run past that
// file's end. bytes: {original, patched}, up to 8 bytes each from the cursor on.
const VALUE_TYPES = [
    ['u8', 1, 'getUint8'], ['s8', 1, 'getInt8'],
    ['u16', 2, 'getUint16'], ['s16', 2, 'getInt16'],
    ['u32', 4, 'getUint32'], ['s32', 4, 'getInt32'],
    ['u64', 8, 'getBigUint64'], ['s64', 8, 'getBigInt64'],
    ['f32', 4, 'getFloat32'], ['f64', 8, 'getFloat64'],
];
function bytesValues(bytes) {
    const rows = [];
    const value = (data, length, getter, little) => {
        if (!data || data.length < length) {
            return null;
        }
        const view = new DataView(data.buffer, data.byteOffset, length);
        return String(view[getter](0, little));
    };
    for (const [type, length, getter] of VALUE_TYPES) {
        for (const little of length === 1 ? [true] : [true, false]) {
            const name = length === 1 ? type : `${type} ${little ? 'little-endian' : 'big-endian'}`;
            rows.push({name, original: value(bytes.original, length, getter, little), patched: value(bytes.patched, length, getter, little)});
        }
    }
    return rows;
}

// The value table's body: a row per value, original beside patched, the rows whose values
// differ marked (in words too, for those who cannot see the highlight).
function bytesValuesHtml(rows) {
    return rows.map(({name, original, patched}) => {
        const differs = original !== patched;
        const cell = (text) => (text === null ? '<td class="absent">absent</td>' : `<td>${text}</td>`);
        return `<tr${differs ? ' class="differs"' : ''}><th scope="row">${name}</th>${cell(original)}${cell(patched)}`
            + `<td>${differs ? 'differs' : ''}</td></tr>`;
    }).join('');
}

// Where a key moves the cursor from cursor in a file of size bytes with rows rows in sight,
// or null when the key is not the view's.
function bytesMove(cursor, key, size, rows) {
    const last = Math.max(0, size - 1);
    const moves = {ArrowLeft: -1, ArrowRight: 1, ArrowUp: -BYTES_PER_ROW, ArrowDown: BYTES_PER_ROW,
        PageUp: -rows * BYTES_PER_ROW, PageDown: rows * BYTES_PER_ROW};
    if (key in moves) {
        return Math.max(0, Math.min(last, cursor + moves[key]));
    }
    if (key === 'Home') {
        return 0;
    }
    if (key === 'End') {
        return last;
    }
    return null;
}

// The first row in sight that keeps the cursor's row in sight, moving top as little as can be.
function bytesTop(top, cursor, rows) {
    const row = cursor - (cursor % BYTES_PER_ROW);
    if (row < top) {
        return row;
    }
    if (row >= top + rows * BYTES_PER_ROW) {
        return row - (rows - 1) * BYTES_PER_ROW;
    }
    return top;
}
