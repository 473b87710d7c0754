// Debian's Chromium (or the one BVEX_CHROMIUM names), headless and kept from the network's
// background services, as the page's browser tests and its benchmark (bench/web.mjs) drive
// it. Nothing is downloaded: playwright-core only drives the browser it is given.

import {chromium} from 'playwright-core';

export function launchChromium() {
    return chromium.launch({
        executablePath: process.env.BVEX_CHROMIUM || '/usr/bin/chromium',
        headless: true,
        args: [
            '--no-sandbox',
            '--disable-background-networking',
            '--disable-component-update',
            '--disable-sync',
            '--no-first-run',
            '--disable-quic',
        ],
    });
}
