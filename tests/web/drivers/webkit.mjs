// WebKit: the MiniBrowser of WebKitGTK (Debian package libwebkit2gtk-4.1-0), driven by
// WebKitWebDriver (webkit2gtk-driver) over W3C WebDriver, through the small client below.
// MiniBrowser needs a display, so the driver runs under xvfb-run (xvfb, xauth), each
// engine's X server its own and gone when the driver closes.
//
// Every proxied request goes to a recorder of the test's own, so a request that would leave
// the machine fails the row. WebDriver sees no console, so the page's errors are kept by a
// script put in once the page has loaded.

import {spawn, spawnSync} from 'node:child_process';
import {existsSync} from 'node:fs';
import {createServer as createNetServer} from 'node:net';
import {writeFile} from 'node:fs/promises';

import {requestRecorder, withPageReading} from './common.mjs';
import {findNamed} from './inpage.mjs';

export const name = 'webkit';

const MINIBROWSER = process.env.BVEX_MINIBROWSER || '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
// W3C WebDriver's key for an element reference.
const ELEMENT = 'element-6066-11e4-a52e-4f735466cecf';
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

const onPath = (command) => spawnSync('sh', ['-c', `command -v ${command}`]).status === 0;

// Null when WebKit can run here, or why not.
export function missing() {
    const lacking = [];
    if (!existsSync(MINIBROWSER)) {
        lacking.push(`${MINIBROWSER} (Debian package: libwebkit2gtk-4.1-0)`);
    }
    if (!onPath('WebKitWebDriver')) {
        lacking.push('WebKitWebDriver (Debian package: webkit2gtk-driver)');
    }
    if (!onPath('xvfb-run') || !onPath('xauth')) {
        lacking.push('xvfb-run and xauth (Debian packages: xvfb, xauth)');
    }
    return lacking.length === 0 ? null : `not found: ${lacking.join('; ')}`;
}

function freePort() {
    return new Promise((resolve, reject) => {
        const server = createNetServer();
        server.on('error', reject);
        server.listen(0, '127.0.0.1', () => {
            const {port} = server.address();
            server.close(() => resolve(port));
        });
    });
}

export async function open(pageUrl) {
    const problems = [];
    const recorder = await requestRecorder(problems);
    const proxy = `127.0.0.1:${recorder.address().port}`;
    const port = await freePort();
    // Its own process group, so that closing ends the X server and the browser with it.
    const server = spawn('xvfb-run', ['-a', '-s', '-screen 0 1280x1024x24', 'WebKitWebDriver', `--port=${port}`], {
        detached: true,
        stdio: ['ignore', 'ignore', 'pipe'],
    });
    // Should the test end without closing, the X server and the browser end with it.
    const endOnExit = () => end();
    process.once('exit', endOnExit);
    let serverLog = '';
    server.stderr.on('data', (data) => {
        serverLog = (serverLog + data).slice(-4000);
    });
    const base = `http://127.0.0.1:${port}`;
    async function command(method, path, body) {
        const response = await fetch(base + path, {
            method,
            headers: {'content-type': 'application/json; charset=utf-8'},
            body: body === undefined ? undefined : JSON.stringify(body),
        });
        const {value} = await response.json();
        if (!response.ok) {
            throw new Error(`WebDriver ${method} ${path}: ${value?.error}: ${value?.message}`);
        }
        return value;
    }
    function end() {
        process.off('exit', endOnExit);
        try {
            process.kill(-server.pid, 'SIGTERM');
        } catch {
            // already gone
        }
        recorder.close();
    }

    let session;
    try {
        for (let tries = 0; ; tries++) {
            try {
                if ((await command('GET', '/status')).ready) {
                    break;
                }
            } catch (error) {
                if (tries > 200 || server.exitCode !== null) {
                    throw new Error(`WebKitWebDriver did not start: ${error.message}\n${serverLog}`);
                }
            }
            await sleep(50);
        }
        const created = await command('POST', '/session', {
            capabilities: {
                alwaysMatch: {
                    'webkitgtk:browserOptions': {binary: MINIBROWSER, args: ['--automation']},
                    proxy: {proxyType: 'manual', httpProxy: proxy, sslProxy: proxy},
                },
            },
        });
        session = `/session/${created.sessionId}`;
        await command('POST', `${session}/timeouts`, {script: 600_000, pageLoad: 60_000});
        await command('POST', `${session}/window/rect`, {width: 1200, height: 900});
        await command('POST', `${session}/url`, {url: pageUrl});
    } catch (error) {
        end();
        throw error;
    }

    const execute = (script, args) => command('POST', `${session}/execute/sync`, {script, args});
    const evaluate = (fn, arg) => execute(`return (${fn}).apply(null, arguments)`, arg === undefined ? [] : [arg]);
    const find = async (kind, label) => {
        const element = await execute(`return (${findNamed}).apply(null, arguments)`, [kind, label]);
        if (!element) {
            throw new Error(`the page has no ${kind} named "${label}"`);
        }
        return element;
    };
    const urlOf = (element) => `${session}/element/${element[ELEMENT]}`;
    const named = async (kind, label) => urlOf(await find(kind, label));
    const driver = withPageReading({
        evaluate,
        chooseFile: async (label, path) => command('POST', `${await named('field', label)}/value`, {text: path}),
        async fill(label, text) {
            const field = await named('field', label);
            await command('POST', `${field}/clear`, {});
            if (text !== '') {
                await command('POST', `${field}/value`, {text});
            }
        },
        // Scrolled to the middle of the window first: WebKit's own scrolling of an element
        // into view before a click can leave the click on the place it was before.
        async click(buttonName) {
            const button = await find('button', buttonName);
            await execute('arguments[0].scrollIntoView({block: "center"})', [button]);
            await command('POST', `${urlOf(button)}/click`, {});
        },
        // MiniBrowser has no setting for where downloads go or to save them without asking,
        // and WebDriver cannot answer its dialog: so the Blob that "Download report" hands to
        // the link it clicks is kept (captureDownloads) and read back here, whole.
        async report() {
            await evaluate(() => {
                window.bvexDownloaded = null;
            });
            await driver.click('Download report');
            const dataUrl = await command('POST', `${session}/execute/async`, {
                script: `const done = arguments[arguments.length - 1];
                    const poll = () => {
                        if (!window.bvexDownloaded) {
                            setTimeout(poll, 20);
                            return;
                        }
                        const reader = new FileReader();
                        reader.onload = () => done(reader.result);
                        reader.onerror = () => done('error: ' + reader.error);
                        reader.readAsDataURL(window.bvexDownloaded);
                    };
                    poll();`,
                args: [],
            });
            if (!dataUrl.startsWith('data:')) {
                throw new Error(`the report could not be read back: ${dataUrl}`);
            }
            return Buffer.from(dataUrl.slice(dataUrl.indexOf(',') + 1), 'base64');
        },
        problems: () => problems.splice(0),
        async screenshot(path) {
            await writeFile(path, Buffer.from(await command('GET', `${session}/screenshot`), 'base64'));
        },
        async close() {
            try {
                await command('DELETE', session);
            } finally {
                end();
            }
        },
    });
    try {
        await driver.instrument(true);
        await evaluate(captureDownloads);
    } catch (error) {
        await driver.close();
        throw error;
    }
    return driver;
}

// Keeps the Blob behind each object URL, and, when a link that downloads one of them is
// clicked, keeps that Blob (window.bvexDownloaded) instead of downloading it.
function captureDownloads() {
    const blobs = new Map();
    const createObjectURL = URL.createObjectURL;
    URL.createObjectURL = (object) => {
        const url = createObjectURL.call(URL, object);
        blobs.set(url, object);
        return url;
    };
    const click = HTMLAnchorElement.prototype.click;
    HTMLAnchorElement.prototype.click = function () {
        if (this.hasAttribute('download') && blobs.has(this.href)) {
            window.bvexDownloaded = blobs.get(this.href);
            return;
        }
        click.call(this);
    };
}
