// Firefox ESR, through puppeteer-core over WebDriver BiDi: Debian's /usr/bin/firefox-esr,
// or the one BVEX_FIREFOX names. Its preferences send every download, without asking, to a
// folder of its own (the report is the file that "Download report" puts there), and every
// request to a recorder: puppeteer's request events do not show a page's fetch over BiDi.

import {existsSync, mkdtempSync, readdirSync, readFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

import puppeteer from 'puppeteer-core';

import {keepProblems, requestRecorder, withPageReading} from './common.mjs';
import {findNamed} from './inpage.mjs';

export const name = 'firefox';

const executable = () => process.env.BVEX_FIREFOX || '/usr/bin/firefox-esr';
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Null when Firefox can run here, or why not.
export function missing() {
    return existsSync(executable()) ? null : `${executable()} not found (Debian package: firefox-esr)`;
}

export async function open(pageUrl) {
    const downloads = mkdtempSync(join(tmpdir(), 'bvex-firefox-downloads-'));
    const problems = [];
    // Firefox's own services (its remote settings) call home whatever the preferences say:
    // those requests are the browser's, never the page's, and are not counted.
    const recorder = await requestRecorder(problems, /^[^/]*\.(mozilla\.(com|net|org)|firefox\.com)(:\d+)?(\/|$)/);
    const {port} = recorder.address();
    const browser = await puppeteer.launch({
        browser: 'firefox',
        executablePath: executable(),
        headless: true,
        defaultViewport: {width: 1200, height: 900},
        extraPrefsFirefox: {
            'browser.download.dir': downloads,
            'browser.download.folderList': 2,
            'browser.download.useDownloadDir': true,
            'browser.download.always_ask_before_handling_new_types': false,
            'browser.download.start_downloads_in_tmp_dir': false,
            'browser.download.alwaysOpenPanel': false,
            'browser.helperApps.neverAsk.saveToDisk': 'text/plain',
            // Every request, to this machine too, through the recorder.
            'network.proxy.type': 1,
            'network.proxy.http': '127.0.0.1',
            'network.proxy.http_port': port,
            'network.proxy.ssl': '127.0.0.1',
            'network.proxy.ssl_port': port,
            'network.proxy.no_proxies_on': '',
            'network.proxy.allow_hijacking_localhost': true,
        },
    });
    const page = await browser.newPage();
    keepProblems(page, problems);
    await page.goto(pageUrl);
    const named = async (kind, label) => {
        const handle = (await page.evaluateHandle(findNamed, kind, label)).asElement();
        if (!handle) {
            throw new Error(`the page has no ${kind} named "${label}"`);
        }
        return handle;
    };
    const driver = withPageReading({
        evaluate: (fn, arg) => page.evaluate(fn, arg),
        chooseFile: async (label, path) => (await named('field', label)).uploadFile(path),
        async fill(label, text) {
            const field = await named('field', label);
            await field.evaluate((element) => {
                element.focus();
                element.select();
            });
            if (text === '') {
                await page.keyboard.press('Backspace');
            } else {
                await field.type(text);
            }
        },
        click: async (buttonName) => (await named('button', buttonName)).click(),
        // The file that appears in the download folder, once Firefox has finished it
        // (while it writes, a .part file stands beside it).
        async report() {
            for (const file of readdirSync(downloads)) {
                rmSync(join(downloads, file), {force: true});
            }
            await (await named('button', 'Download report')).click();
            let last = null;
            for (let tries = 0; ; tries++) {
                const files = readdirSync(downloads);
                if (files.length === 1 && !files[0].endsWith('.part')) {
                    // Read twice, the same both times: not a file still being written.
                    const bytes = readFileSync(join(downloads, files[0]));
                    if (last && bytes.equals(last)) {
                        return bytes;
                    }
                    last = bytes;
                }
                if (tries > 600) {
                    throw new Error(`no download finished; the folder holds ${files.join(', ') || 'nothing'}`);
                }
                await sleep(50);
            }
        },
        problems: () => problems.splice(0),
        screenshot: (path) => page.screenshot({path, fullPage: true}),
        async close() {
            await browser.close();
            recorder.close();
            rmSync(downloads, {recursive: true, force: true});
        },
    });
    await driver.instrument(false);
    return driver;
}
