// Chromium, through playwright-core: Debian's /usr/bin/chromium, or the one BVEX_CHROMIUM
// names. The report is the file that "Download report" really downloads.

import {existsSync, readFileSync} from 'node:fs';

import {launchChromium} from '../chromium.mjs';
import {keepProblems, withPageReading} from './common.mjs';

export const name = 'chromium';

// Null when Chromium can run here, or why not.
export function missing() {
    const path = process.env.BVEX_CHROMIUM || '/usr/bin/chromium';
    return existsSync(path) ? null : `${path} not found (Debian package: chromium)`;
}

export async function open(pageUrl) {
    const browser = await launchChromium();
    const problems = [];
    const context = await browser.newContext({viewport: {width: 1200, height: 900}, acceptDownloads: true});
    context.on('request', (request) => {
        if (!/^(file|blob|data):/.test(request.url())) {
            problems.push(`network request: ${request.url()}`);
        }
    });
    const page = await context.newPage();
    keepProblems(page, problems);
    await page.goto(pageUrl);
    const driver = withPageReading({
        evaluate: (fn, arg) => page.evaluate(fn, arg),
        chooseFile: (label, path) => page.getByLabel(label, {exact: true}).setInputFiles(path),
        fill: (label, text) => page.getByLabel(label, {exact: true}).fill(text),
        click: (buttonName) => page.getByRole('button', {name: buttonName, exact: true}).click(),
        async report() {
            const [file] = await Promise.all([
                page.waitForEvent('download'),
                page.getByRole('button', {name: 'Download report', exact: true}).click(),
            ]);
            return readFileSync(await file.path());
        },
        problems: () => problems.splice(0),
        screenshot: (path) => page.screenshot({path, fullPage: true}),
        close: () => browser.close(),
    });
    await driver.instrument(false);
    return driver;
}
