// The WASI preview-1 system calls of the page's bvex module, for one run in a worker: a root
// folder "/" holding the files chosen in the page, the command line and environment given,
// the report and the messages handed to callbacks. The files can be opened, looked at and
// closed, but not read: the page hands their bytes to the module's own calls. Every call the
// module imports that is not here answers ENOSYS.

/* exported wasiImports, WasiExit */

const ERRNO_SUCCESS = 0;
const ERRNO_BADF = 8;
const ERRNO_INVAL = 28;
const ERRNO_NOENT = 44;
const ERRNO_NOSYS = 52;
const ERRNO_NOTDIR = 54;
const ERRNO_ROFS = 69;
const ERRNO_SPIPE = 70;

const FILETYPE_CHARACTER_DEVICE = 2;
const FILETYPE_DIRECTORY = 3;
const FILETYPE_REGULAR_FILE = 4;

const OFLAGS_CREAT = 1;
const OFLAGS_DIRECTORY = 2;
const OFLAGS_EXCL = 4;
const OFLAGS_TRUNC = 8;

const WHENCE_SET = 0;
const WHENCE_CUR = 1;
const WHENCE_END = 2;

// Every right there is: the files are read-only whatever rights are granted, since no
// call here writes to them.
const RIGHTS_ALL = 0x1fffffffn;

const ROOT_FD = 3;

// Thrown by proc_exit to unwind the module; status is the exit status.
class WasiExit extends Error {
    constructor(status) {
        super(`exit ${status}`);
        this.status = status;
    }
}

// The imports for a module that imports the names in wanted (WebAssembly.Module.imports).
// options: args and env (arrays of strings), files (name in "/" -> File), onStdout(Uint8Array,
// a copy), onStderr(Uint8Array). Call setMemory with the instance's memory before running it.
function wasiImports(wanted, options) {
    const encoder = new TextEncoder();
    const args = options.args.map((a) => encoder.encode(`${a}\0`));
    const env = options.env.map((e) => encoder.encode(`${e}\0`));
    const names = Object.keys(options.files);
    let memory = null;
    const open = new Map(); // fd -> {name, file}: file is null for the root
    let nextFd = ROOT_FD + 1;

    const view = () => new DataView(memory.buffer);
    const bytes = () => new Uint8Array(memory.buffer);

    // Writes a list of NUL-ended strings and the pointers to them.
    function putStrings(list, pointers, buffer) {
        const dv = view();
        const mem = bytes();
        for (const s of list) {
            dv.setUint32(pointers, buffer, true);
            mem.set(s, buffer);
            pointers += 4;
            buffer += s.length;
        }
        return ERRNO_SUCCESS;
    }

    function putSizes(list, countAt, sizeAt) {
        const dv = view();
        dv.setUint32(countAt, list.length, true);
        dv.setUint32(sizeAt, list.reduce((total, s) => total + s.length, 0), true);
        return ERRNO_SUCCESS;
    }

    function iovecs(at, count) {
        const dv = view();
        const list = [];
        for (let i = 0; i < count; i++) {
            list.push({base: dv.getUint32(at + i * 8, true), length: dv.getUint32(at + i * 8 + 4, true)});
        }
        return list;
    }

    // The name at path (pathLength bytes in memory) in the folder fd, which must be the root:
    // {name}, where "" is the root itself ("" or "."; a leading "./" or "/" is dropped), or
    // {error} with the errno.
    function lookUp(fd, path, pathLength) {
        if (fd !== ROOT_FD) {
            return {error: open.has(fd) ? ERRNO_NOTDIR : ERRNO_BADF};
        }
        const name = new TextDecoder().decode(bytes().slice(path, path + pathLength)).replace(/^(\.?\/)+/, '');
        if (name === '' || name === '.') {
            return {name: ''};
        }
        return names.includes(name) ? {name} : {error: ERRNO_NOENT};
    }

    // dev, ino, filetype, size: a distinct inode for each descriptor and name.
    function putFilestat(at, inode, filetype, size) {
        const dv = view();
        for (let i = 0; i < 64; i += 8) {
            dv.setBigUint64(at + i, 0n, true);
        }
        dv.setBigUint64(at, 1n, true);
        dv.setBigUint64(at + 8, BigInt(inode), true);
        dv.setUint8(at + 16, filetype);
        dv.setBigUint64(at + 24, 1n, true);
        dv.setBigUint64(at + 32, BigInt(size), true);
        return ERRNO_SUCCESS;
    }

    // The filestat of a name in the root ("" for the root itself).
    function putNameFilestat(at, name) {
        return name === ''
            ? putFilestat(at, 2, FILETYPE_DIRECTORY, 0)
            : putFilestat(at, 16 + names.indexOf(name), FILETYPE_REGULAR_FILE, options.files[name].size);
    }

    const calls = {
        args_sizes_get: (countAt, sizeAt) => putSizes(args, countAt, sizeAt),
        args_get: (pointers, buffer) => putStrings(args, pointers, buffer),
        environ_sizes_get: (countAt, sizeAt) => putSizes(env, countAt, sizeAt),
        environ_get: (pointers, buffer) => putStrings(env, pointers, buffer),

        fd_prestat_get(fd, at) {
            if (fd !== ROOT_FD) {
                return ERRNO_BADF;
            }
            view().setUint32(at, 0, true);
            view().setUint32(at + 4, 1, true);
            return ERRNO_SUCCESS;
        },
        fd_prestat_dir_name(fd, at, length) {
            if (fd !== ROOT_FD) {
                return ERRNO_BADF;
            }
            if (length < 1) {
                return ERRNO_INVAL;
            }
            bytes()[at] = 0x2f;
            return ERRNO_SUCCESS;
        },

        fd_fdstat_get(fd, at) {
            let filetype = FILETYPE_CHARACTER_DEVICE;
            if (fd === ROOT_FD) {
                filetype = FILETYPE_DIRECTORY;
            } else if (open.has(fd)) {
                filetype = open.get(fd).file ? FILETYPE_REGULAR_FILE : FILETYPE_DIRECTORY;
            } else if (fd > 2) {
                return ERRNO_BADF;
            }
            const dv = view();
            dv.setUint8(at, filetype);
            dv.setUint16(at + 2, 0, true);
            dv.setBigUint64(at + 8, RIGHTS_ALL, true);
            dv.setBigUint64(at + 16, RIGHTS_ALL, true);
            return ERRNO_SUCCESS;
        },
        fd_fdstat_set_flags: (fd) => (fd <= ROOT_FD || open.has(fd) ? ERRNO_SUCCESS : ERRNO_BADF),

        fd_filestat_get(fd, at) {
            if (fd <= 2) {
                return putFilestat(at, 8 + fd, FILETYPE_CHARACTER_DEVICE, 0);
            }
            if (fd === ROOT_FD) {
                return putNameFilestat(at, '');
            }
            const file = open.get(fd);
            return file ? putNameFilestat(at, file.name) : ERRNO_BADF;
        },
        path_filestat_get(fd, flags, path, pathLength, at) {
            const found = lookUp(fd, path, pathLength);
            return found.error ?? putNameFilestat(at, found.name);
        },

        path_open(fd, dirflags, path, pathLength, oflags, rightsBase, rightsInheriting, fdflags, fdAt) {
            const found = lookUp(fd, path, pathLength);
            if (found.error) {
                return found.error === ERRNO_NOENT && oflags & OFLAGS_CREAT ? ERRNO_ROFS : found.error;
            }
            if (oflags & (OFLAGS_CREAT | OFLAGS_EXCL | OFLAGS_TRUNC)) {
                return ERRNO_ROFS;
            }
            if (found.name === '') {
                open.set(nextFd, {name: '', file: null});
            } else if (oflags & OFLAGS_DIRECTORY) {
                return ERRNO_NOTDIR;
            } else {
                open.set(nextFd, {name: found.name, file: options.files[found.name]});
            }
            view().setUint32(fdAt, nextFd, true);
            nextFd += 1;
            return ERRNO_SUCCESS;
        },

        fd_write(fd, iovs, iovsLength, writtenAt) {
            const sink = fd === 1 ? options.onStdout : fd === 2 ? options.onStderr : null;
            if (!sink) {
                return ERRNO_BADF;
            }
            let total = 0;
            for (const {base, length} of iovecs(iovs, iovsLength)) {
                if (length > 0) {
                    sink(bytes().slice(base, base + length));
                    total += length;
                }
            }
            view().setUint32(writtenAt, total, true);
            return ERRNO_SUCCESS;
        },

        fd_seek(fd, offset, whence, resultAt) {
            const file = open.get(fd);
            if (!file || !file.file) {
                return file || fd <= ROOT_FD ? ERRNO_SPIPE : ERRNO_BADF;
            }
            // Nothing is read through a descriptor, so each stands at its start: only asking
            // where one is succeeds.
            const target = whence === WHENCE_CUR || whence === WHENCE_SET ? offset
                : whence === WHENCE_END ? BigInt(file.file.size) + offset : -1n;
            if (target !== 0n) {
                return ERRNO_SPIPE;
            }
            view().setBigUint64(resultAt, 0n, true);
            return ERRNO_SUCCESS;
        },
        fd_tell: (fd, resultAt) => calls.fd_seek(fd, 0n, WHENCE_CUR, resultAt),
        fd_advise: (fd) => (open.has(fd) ? ERRNO_SUCCESS : ERRNO_BADF),

        fd_close(fd) {
            const file = open.get(fd);
            if (!file) {
                return fd <= ROOT_FD ? ERRNO_SUCCESS : ERRNO_BADF;
            }
            open.delete(fd);
            return ERRNO_SUCCESS;
        },

        clock_res_get(id, at) {
            view().setBigUint64(at, 1000n, true);
            return ERRNO_SUCCESS;
        },
        clock_time_get(id, precision, at) {
            const ms = id === 0 ? performance.timeOrigin + performance.now() : performance.now();
            view().setBigUint64(at, BigInt(Math.round(ms * 1e6)), true);
            return ERRNO_SUCCESS;
        },
        random_get(at, length) {
            for (let done = 0; done < length; done += 65536) {
                crypto.getRandomValues(bytes().subarray(at + done, at + Math.min(length, done + 65536)));
            }
            return ERRNO_SUCCESS;
        },
        sched_yield: () => ERRNO_SUCCESS,

        proc_exit(status) {
            throw new WasiExit(status);
        },
    };

    const imports = {};
    for (const {module, name, kind} of wanted) {
        if (kind !== 'function') {
            continue;
        }
        imports[module] ??= {};
        imports[module][name] = module === 'wasi_snapshot_preview1' && Object.hasOwn(calls, name)
            ? calls[name]
            : () => ERRNO_NOSYS;
    }
    return {
        imports,
        setMemory(m) {
            memory = m;
        },
    };
}
