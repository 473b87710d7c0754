// The report's lines, read back on demand from the report the page keeps: a Blob of the
// parts the worker sent, and a sparse index of its lines. The index holds every stride-th
// line (every 1,024th to begin with) and every line 4 GiB or more past the line before, each
// entry the line's number, its position in the report and the file offset of its first
// byte. Between two entries, each line's offset follows from the one before and the
// difference of their addresses, which is less than 4 GiB. When the index reaches
// INDEX_LIMIT entries its stride doubles and every other entry goes: its memory stays
// bounded, whatever the report's length.

const INDEX_LIMIT = 1 << 16;
const WRAP = 2 ** 32;
// Stretches of lines (from one index entry to the next) kept decoded.
const CHUNKS_KEPT = 8;

// A store for a new report; its index keeps at most limit entries (and those of the lines
// 4 GiB or more past the line before).
function reportStore(limit = INDEX_LIMIT) {
    return {
        limit,
        parts: [],
        blob: null,
        blobParts: 0,
        lines: 0, // whole lines in the report so far
        bytes: 0, // the report's length up to the end of its last whole line
        differing: 0,
        blockAddress: 0,
        stride: 1024,
        index: {lines: [], positions: [], offsets: [], gaps: []},
        chunks: new Map(),
    };
}

// Adds a report message's part, counts and index entries.
function storeAdd(store, {blob, lines, differing, bytes, blockAddress, index}) {
    store.parts.push(blob);
    store.lines = lines;
    store.differing = differing;
    store.bytes = bytes;
    store.blockAddress = blockAddress;
    const kept = store.index;
    for (let i = 0; i < index.lines.length; i++) {
        if (index.lines[i] % store.stride === 0 || index.gaps[i]) {
            kept.lines.push(index.lines[i]);
            kept.positions.push(index.positions[i]);
            kept.offsets.push(index.offsets[i]);
            kept.gaps.push(index.gaps[i]);
        }
    }
    while (store.index.lines.length > store.limit) {
        const full = store.index;
        store.stride *= 2;
        const thinned = {lines: [], positions: [], offsets: [], gaps: []};
        for (let i = 0; i < full.lines.length; i++) {
            if (full.lines[i] % store.stride === 0 || full.gaps[i]) {
                for (const key of Object.keys(thinned)) {
                    thinned[key].push(full[key][i]);
                }
            }
        }
        store.index = thinned;
        store.chunks.clear();
        if (thinned.lines.length === full.lines.length) {
            break;
        }
    }
}

// The whole report so far, as one Blob.
function storeBlob(store) {
    if (store.blobParts !== store.parts.length) {
        store.blob = new Blob(store.parts, {type: 'text/plain'});
        store.blobParts = store.parts.length;
    }
    return store.blob;
}

// The last entry of sorted at or before value (0 when none is).
function lastAtOrBefore(sorted, value) {
    let low = 0;
    let high = sorted.length - 1;
    while (low < high) {
        const middle = (low + high + 1) >> 1;
        if (sorted[middle] <= value) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

// The lines from index entry k up to the next entry (or the last whole line): {first, texts,
// offsets}, first the number of the first line.
function readChunk(store, k) {
    const {lines, positions, offsets} = store.index;
    const last = k + 1 >= lines.length;
    const end = last ? store.lines : lines[k + 1];
    const key = `${k} ${end}`;
    let chunk = store.chunks.get(key);
    if (!chunk) {
        const first = lines[k];
        const startOffset = offsets[k];
        chunk = storeBlob(store).slice(positions[k], last ? store.bytes : positions[k + 1]).text().then((text) => {
            const texts = text.split('\n', end - first);
            const lineOffsets = new Float64Array(texts.length);
            let offset = startOffset;
            let address = parseInt(texts[0].slice(0, 8), 16);
            lineOffsets[0] = offset;
            for (let i = 1; i < texts.length; i++) {
                const next = parseInt(texts[i].slice(0, 8), 16);
                offset += next >= address ? next - address : next - address + WRAP;
                address = next;
                lineOffsets[i] = offset;
            }
            return {first, texts, offsets: lineOffsets};
        });
        store.chunks.set(key, chunk);
        if (store.chunks.size > CHUNKS_KEPT) {
            store.chunks.delete(store.chunks.keys().next().value);
        }
    }
    return chunk;
}

// Up to count lines from line first on: [{text, offset}].
async function storeLines(store, first, count) {
    const result = [];
    const end = Math.min(store.lines, first + count);
    for (let n = first; n < end;) {
        const chunk = await readChunk(store, lastAtOrBefore(store.index.lines, n));
        const before = n;
        for (let i = n - chunk.first; i >= 0 && i < chunk.texts.length && n < end; i++, n++) {
            result.push({text: chunk.texts[i], offset: chunk.offsets[i]});
        }
        if (n === before) {
            break;
        }
    }
    return result;
}

// The number of the first line at or after file offset target, or -1 when no line is.
async function storeFind(store, target) {
    const {lines, offsets} = store.index;
    if (store.lines === 0) {
        return -1;
    }
    const k = lastAtOrBefore(offsets, target);
    const chunk = await readChunk(store, k);
    for (let i = 0; i < chunk.texts.length; i++) {
        if (chunk.offsets[i] >= target) {
            return chunk.first + i;
        }
    }
    return k + 1 < lines.length ? lines[k + 1] : -1;
}

// The byte numbers, within a report line "AAAAAAAA: OOOO PPPP", of the bytes that differ.
function lineDiffering(text) {
    const n = (text.length - 11) / 4;
    const differing = [];
    for (let i = 0; i < n; i++) {
        const o = 10 + 2 * i;
        const p = 11 + 2 * n + 2 * i;
        if (text[o] !== text[p] || text[o + 1] !== text[p + 1]) {
            differing.push(i);
        }
    }
    return differing;
}

// The first differing byte at a file offset from first up to end (not included): {line,
// offset}, line its report line's number, or null when there is none. Lines do not overlap,
// so only the last line starting at or before first can hold first; the search goes on
// from there, a stretch of lines at a time, until a line starts at or past end.
async function storeNextDiffering(store, first, end) {
    if (store.lines === 0) {
        return null;
    }
    const {lines} = store.index;
    for (let k = lastAtOrBefore(store.index.offsets, first); k < lines.length; k++) {
        const chunk = await readChunk(store, k);
        for (let i = 0; i < chunk.texts.length; i++) {
            const offset = chunk.offsets[i];
            if (offset >= end) {
                return null;
            }
            const next = i + 1 < chunk.texts.length ? chunk.offsets[i + 1] : Infinity;
            if (next <= first) {
                continue;
            }
            for (const byte of lineDiffering(chunk.texts[i])) {
                if (offset + byte >= first && offset + byte < end) {
                    return {line: chunk.first + i, offset: offset + byte};
                }
            }
        }
    }
    return null;
}

// The last differing byte at a file offset before end: {line, offset}, or null when there
// is none.
async function storePreviousDiffering(store, end) {
    if (store.lines === 0) {
        return null;
    }
    for (let k = lastAtOrBefore(store.index.offsets, end - 1); k >= 0; k--) {
        const chunk = await readChunk(store, k);
        for (let i = chunk.texts.length - 1; i >= 0; i--) {
            const offset = chunk.offsets[i];
            if (offset >= end) {
                continue;
            }
            const differing = lineDiffering(chunk.texts[i]);
            for (let j = differing.length - 1; j >= 0; j--) {
                if (offset + differing[j] < end) {
                    return {line: chunk.first + i, offset: offset + differing[j]};
                }
            }
        }
    }
    return null;
}

// The number of the report line whose bytes span file offset target, or -1 when none does.
async function storeLineHolding(store, target) {
    if (store.lines === 0) {
        return -1;
    }
    const chunk = await readChunk(store, lastAtOrBefore(store.index.offsets, target));
    for (let i = chunk.texts.length - 1; i >= 0; i--) {
        if (chunk.offsets[i] <= target) {
            return target < chunk.offsets[i] + (chunk.texts[i].length - 11) / 4 ? chunk.first + i : -1;
        }
    }
    return -1;
}
