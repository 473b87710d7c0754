// What every driver builds the same way on top of its engine's own: evaluate(fn, arg),
// chooseFile(label, path), fill(label, text) and click(buttonName). The page is

import {createServer} from 'node:http';

import {buttonEnabled, bytesKeys, bytesShown, bytesWalk, instrument, lastLineWhole, mapColumns, mapTable, pressKey, readStatus, releaseHeld, takeRecords, targetInWindow, targetLine, viewCount,
    valuesShown, viewRows} from './inpage.mjs';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The engine's object, with status(), waitIdle(timeoutMs), enabled(buttonName),
// viewRows(), viewCount(), mapTable(), mapColumns(), press(name, key), targetLine(),
// targetInWindow(), lastLineWhole(), releaseHeld(lines), records(), instrument(), bytesShown(),
// valuesShown(), bytesWalk(key, steps) and bytesKeys(keys) added.
export function withPageReading(driver) {
    return {
        ...driver,
        status: () => driver.evaluate(readStatus),
        enabled: (name) => driver.evaluate(buttonEnabled, name),
        viewRows: () => driver.evaluate(viewRows),
        viewCount: () => driver.evaluate(viewCount),
        mapTable: () => driver.evaluate(mapTable),
        mapColumns: () => driver.evaluate(mapColumns),
        press: (name, key) => driver.evaluate(pressKey, [name, key]),
        targetLine: () => driver.evaluate(targetLine),
        targetInWindow: () => driver.evaluate(targetInWindow),
        lastLineWhole: () => driver.evaluate(lastLineWhole),
        releaseHeld: (lines) => driver.evaluate(releaseHeld, lines),
        records: () => driver.evaluate(takeRecords),
        instrument: (reportErrors) => driver.evaluate(instrument, reportErrors),
        bytesShown: () => driver.evaluate(bytesShown),
        valuesShown: () => driver.evaluate(valuesShown),
        bytesWalk: (key, steps) => driver.evaluate(bytesWalk, [key, steps]),
        bytesKeys: (keys) => driver.evaluate(bytesKeys, keys),
        async waitIdle(timeoutMs) {
            const until = Date.now() + timeoutMs;
            for (;;) {
                const status = await driver.evaluate(readStatus);
                if (!status.busy) {
                    return status;
                }
                if (Date.now() > until) {
                    throw new Error(`the page is still busy after ${timeoutMs} ms: ${status.text}`);
                }
                await sleep(50);
            }
        },
        // Waits until the status matches pattern, or the page is at rest.
        async waitStatus(pattern, timeoutMs) {
            const until = Date.now() + timeoutMs;
            for (;;) {
                const status = await driver.evaluate(readStatus);
                if (pattern.test(status.text) || !status.busy) {
                    return status;
                }
                if (Date.now() > until) {
                    throw new Error(`the status is "${status.text}", not ${pattern}, after ${timeoutMs} ms`);
                }
                await sleep(20);
            }
        },
    };
}

// Keeps, in problems, the script errors and console errors of a page of playwright-core or
// puppeteer-core (both name those events the same).
export function keepProblems(page, problems) {
    page.on('pageerror', (error) => problems.push(`script error: ${error.message}`));
    page.on('console', (message) => {
        if (message.type() === 'error') {
            problems.push(`console error: ${message.text()}`);
        }
    });
}

// Keeps, in problems, every request a browser sends through it as its proxy, and answers
// none: the engines whose requests the driver cannot see are given it as their proxy.
// Requests whose host and path (without the scheme) match ignored are not kept.
export function requestRecorder(problems, ignored = /^$/) {
    const keep = (method, url) => {
        if (!ignored.test(url.replace(/^[a-z]+:\/\//, ''))) {
            problems.push(`network request: ${method} ${url}`);
        }
    };
    const server = createServer((request, response) => {
        keep(request.method, request.url);
        response.writeHead(403).end();
    });
    server.on('connect', (request, socket) => {
        keep('CONNECT', request.url);
        socket.destroy();
    });
    return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}
